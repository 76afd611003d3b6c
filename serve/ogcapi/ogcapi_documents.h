#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "serve/description/service_description.h"
#include "serve/ogcapi/ogcapi_request.h"

// The OGC API's documents, as JSON (their pages render the same JSON):
// the landing page, the conformance declaration, the collections (one
// per layer), and through tiling_documents.h the tilesets and tile matrix
// sets. `root` is the public address of /ogcapi.
struct OgcDocument {
    std::string title;  // for a page's heading
    nlohmann::ordered_json body;
};

// The document `request` (a valid one, not an image) asks for.
OgcDocument DocumentFor(const OgcApiRequest& request, const ServiceDescription& description, const std::string& root);

// The conformance classes the API declares: only those it passes.
const std::vector<std::string>& ConformanceClasses();

// OGC's link relation of that name, e.g. http://www.opengis.net/def/rel/ogc/1.0/map.
std::string OgcRelation(const char* name);
