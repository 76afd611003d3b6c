#include "serve/ogcapi/document_links.h"

nlohmann::ordered_json DocumentLinks::Link(const std::string& href, const std::string& rel, const std::string& type,
                                           const std::string& title) {
    return nlohmann::ordered_json{{"href", href}, {"rel", rel}, {"type", type}, {"title", title}};
}

std::string DocumentLinks::Address(const std::string& path, OgcFormat in) const {
    return root + path + "?f=" + FormatName(in);
}

nlohmann::ordered_json DocumentLinks::SelfAndAlternate(const std::string& path, const std::string& title) const {
    const OgcFormat other = format == OgcFormat::Html ? OgcFormat::Json : OgcFormat::Html;
    return nlohmann::ordered_json::array({Link(Address(path, format), "self", MediaTypeOf(format), title),
                                          Link(Address(path, other), "alternate", MediaTypeOf(other),
                                               title + (other == OgcFormat::Html ? ", as a page" : ", as JSON"))});
}

nlohmann::ordered_json DocumentLinks::To(const std::string& path, const std::string& rel,
                                         const std::string& title) const {
    return Link(Address(path, format), rel, MediaTypeOf(format), title);
}

nlohmann::ordered_json DocumentLinks::Image(const std::string& path, const std::string& rel, OgcFormat in,
                                            const std::string& title, const std::string& query) const {
    return Link(Address(path, in) + query, rel, MediaTypeOf(in), title);
}
