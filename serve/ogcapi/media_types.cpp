#include "serve/ogcapi/media_types.h"

#include <algorithm>
#include <string_view>

#include "serve/http/accept_header.h"
#include "serve/http/http_exchange.h"

namespace {

struct Names {
    OgcFormat format;
    const char* mediaType;
    const char* name;
};

constexpr Names kNames[] = {
    {OgcFormat::Json, "application/json", "json"},
    {OgcFormat::Html, "text/html", "html"},
    {OgcFormat::OpenApi, "application/vnd.oai.openapi+json;version=3.0", "json"},
    {OgcFormat::Png, "image/png", "png"},
    {OgcFormat::Jpeg, "image/jpeg", "jpeg"},
    {OgcFormat::Webp, "image/webp", "webp"},
};

const Names& NamesOf(OgcFormat format) {
    for (const Names& names : kNames) {
        if (names.format == format) return names;
    }
    return kNames[0];
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// A media type without its parameters, e.g. "application/vnd.oai.openapi+json".
std::string_view Essence(std::string_view mediaType) {
    return TrimBlanks(mediaType.substr(0, mediaType.find(';')));
}

}  // namespace

const char* MediaTypeOf(OgcFormat format) {
    return NamesOf(format).mediaType;
}

const char* ContentTypeOf(OgcFormat format) {
    return format == OgcFormat::Html ? "text/html; charset=utf-8" : MediaTypeOf(format);
}

const char* FormatName(OgcFormat format) {
    return NamesOf(format).name;
}

ImageFormat ImageFormatFor(OgcFormat format) {
    if (format == OgcFormat::Jpeg) return ImageFormat::Jpeg;
    return format == OgcFormat::Webp ? ImageFormat::Webp : ImageFormat::Png;
}

bool FormatNamed(const std::string& name, OgcFormat& format) {
    if (name == "jpg") {
        format = OgcFormat::Jpeg;
        return true;
    }
    for (const Names& names : kNames) {
        if (name == names.name || SameIgnoringCase(Essence(name), Essence(names.mediaType))) {
            format = names.format;
            return true;
        }
    }
    return false;
}

bool Negotiate(const std::vector<OgcFormat>& offers, const std::string* accept, OgcFormat& chosen) {
    const std::string_view header = accept != nullptr ? std::string_view(*accept) : std::string_view();
    int best = 0;
    for (OgcFormat offer : offers) {
        const int quality = AcceptanceOf(header, Essence(MediaTypeOf(offer))).quality;
        if (quality > best) {
            best = quality;
            chosen = offer;
        }
    }
    return best > 0;
}
