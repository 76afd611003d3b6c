#include "serve/description/service_metadata.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

// Descriptions are a few kilobytes; anything larger is not one.
constexpr std::uintmax_t kMaxMetadataBytes = 64 * 1024;

using Json = nlohmann::json;

bool ReadJson(const std::string& path, Json& json, std::string& error) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(path, failure);
    if (failure) {
        error = path + ": " + failure.message();
        return false;
    }
    if (size > kMaxMetadataBytes) {
        error = path + ": larger than " + std::to_string(kMaxMetadataBytes) + " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    json = Json::parse(text.str(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = path + ": not a JSON object";
        return false;
    }
    return true;
}

// Copies the string at `key` into `target` when there is one; throws on a
// value of another type, which the callers report.
void Take(const Json& object, const char* key, std::string& target) {
    const auto found = object.find(key);
    if (found != object.end()) target = found->get<std::string>();
}

}  // namespace

bool ReadServiceMetadata(const std::string& path, ServiceDescription& d, std::string& error) {
    Json json;
    if (!ReadJson(path, json, error)) return false;
    try {
        Take(json, "title", d.title);
        Take(json, "abstract", d.abstract);
        Take(json, "fees", d.fees);
        Take(json, "accessConstraints", d.accessConstraints);
        if (json.contains("keywords")) d.keywords = json.at("keywords").get<std::vector<std::string>>();
        if (json.contains("contact")) {
            const Json& contact = json.at("contact");
            Take(contact, "person", d.contact.person);
            Take(contact, "organization", d.contact.organization);
            Take(contact, "position", d.contact.position);
            Take(contact, "email", d.contact.email);
            Take(contact, "phone", d.contact.phone);
        }
        if (json.contains("layers")) {
            for (const auto& [name, layer] : json.at("layers").items()) {
                LayerDescription* target = nullptr;
                for (LayerDescription& known : d.layers) target = known.name == name ? &known : target;
                if (target == nullptr) {
                    error = path + ": no layer '" + name.substr(0, 64) + "' is served";
                    return false;
                }
                Take(layer, "title", target->title);
                Take(layer, "abstract", target->abstract);
                Take(layer, "attribution", target->attribution);
                Take(layer, "attributionUrl", target->attributionUrl);
            }
        }
    } catch (const Json::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    return true;
}

void ReadTileSetCredits(const std::string& directory, ServiceDescription& d) {
    for (LayerDescription& layer : d.layers) {
        if (!layer.attribution.empty()) continue;
        for (const std::string& path : {directory + "/" + layer.name + "/metadata.json", directory + "/metadata.json"}) {
            Json json;
            std::string ignored;
            if (!ReadJson(path, json, ignored)) continue;
            const auto found = json.find("attribution");
            if (found != json.end() && found->is_string()) {
                layer.attribution = found->get<std::string>();
                break;
            }
        }
    }
}
