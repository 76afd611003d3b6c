#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "serve/ogcapi/media_types.h"

// The links of the OGC API's documents, each an object with href, rel,
// type and title. Every address hangs off the API's root, the public
// address of /ogcapi (no '/' at its end), and names its format with f, so
// that a link works whatever the client's Accept header says. A document
// links to the other documents in its own format, so that a page leads to
// pages and JSON to JSON.
class DocumentLinks {
public:
    DocumentLinks(std::string root, OgcFormat format) : root(std::move(root)), format(format) {}

    static nlohmann::ordered_json Link(const std::string& href, const std::string& rel, const std::string& type,
                                       const std::string& title);

    // `path` below the root ("/collections"; "/" for the landing page) in
    // `in`, e.g. http://host/ogcapi/collections?f=json.
    std::string Address(const std::string& path, OgcFormat in) const;
    // The document at `path` itself (self) and in its other format
    // (alternate).
    nlohmann::ordered_json SelfAndAlternate(const std::string& path, const std::string& title) const;
    // Another document, in this document's format.
    nlohmann::ordered_json To(const std::string& path, const std::string& rel, const std::string& title) const;
    // An image at `path` in `in`, with the parameters in `query` (e.g.
    // "&bbox=...") after its f.
    nlohmann::ordered_json Image(const std::string& path, const std::string& rel, OgcFormat in,
                                 const std::string& title, const std::string& query = "") const;

    const std::string& Root() const { return root; }
    OgcFormat Format() const { return format; }

private:
    const std::string root;
    const OgcFormat format;
};
