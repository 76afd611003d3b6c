#include "render/pyramid/source_texts.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// A tile set's metadata is a few lines; a larger file is no such file.
constexpr std::uintmax_t kMaxMetadataBytes = 64 * 1024;

bool ReadObject(const std::filesystem::path& path, nlohmann::json& json) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(path, failure);
    if (failure || size > kMaxMetadataBytes) return false;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    json = nlohmann::json::parse(text.str(), nullptr, false);
    return in && !json.is_discarded() && json.is_object();
}

void Take(const nlohmann::json& json, const char* key, std::string& value) {
    const auto found = json.find(key);
    if (found != json.end() && found->is_string()) value = found->get<std::string>();
}

}  // namespace

LayerTexts SourceTexts(const std::string& tiles, const std::string& layer) {
    LayerTexts texts;
    texts.name = layer;
    std::error_code failure;
    if (!std::filesystem::is_directory(tiles, failure)) return texts;
    const std::filesystem::path directory(tiles);
    for (const std::filesystem::path& path : {directory / layer / "metadata.json", directory / "metadata.json"}) {
        nlohmann::json json;
        if (!ReadObject(path, json)) continue;
        Take(json, "name", texts.name);
        Take(json, "description", texts.description);
        Take(json, "attribution", texts.attribution);
        break;
    }
    return texts;
}
