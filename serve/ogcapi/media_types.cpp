#include "serve/ogcapi/media_types.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "serve/http/http_exchange.h"

namespace {

// An Accept header of more ranges than this is read as far as this.
constexpr size_t kMaxRanges = 64;

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

// One range of an Accept header: its media range and weight (its q, 1
// when it has none; a q that is not a number in [0, 1] counts as 0).
struct Range {
    std::string_view type, subtype;
    double weight = 1;
};

Range ReadRange(std::string_view text) {
    Range range;
    const std::string_view essence = Essence(text);
    const size_t slash = essence.find('/');
    range.type = TrimBlanks(essence.substr(0, slash));
    range.subtype = slash == std::string_view::npos ? std::string_view() : TrimBlanks(essence.substr(slash + 1));
    for (size_t at = text.find(';'); at != std::string_view::npos;) {
        const size_t next = text.find(';', at + 1);
        const std::string_view parameter =
            TrimBlanks(text.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        if (parameter.size() > 2 && Lower(parameter[0]) == 'q' && parameter[1] == '=') {
            const std::string value(TrimBlanks(parameter.substr(2)).substr(0, 8));
            char* end = nullptr;
            const double q = std::strtod(value.c_str(), &end);
            range.weight = !value.empty() && *end == '\0' && q >= 0 && q <= 1 ? q : 0;
        }
        at = next;
    }
    return range;
}

// How specifically `range` covers `mediaType`: 3 exactly, 2 by its type,
// 1 as */*, 0 not at all.
int Specificity(const Range& range, std::string_view mediaType) {
    const std::string_view essence = Essence(mediaType);
    const size_t slash = essence.find('/');
    const std::string_view type = essence.substr(0, slash), subtype = essence.substr(slash + 1);
    if (range.type == "*" && range.subtype == "*") return 1;
    if (!SameIgnoringCase(range.type, type)) return 0;
    if (range.subtype == "*") return 2;
    return SameIgnoringCase(range.subtype, subtype) ? 3 : 0;
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
    if (accept == nullptr || TrimBlanks(*accept).empty()) {
        chosen = offers.front();
        return true;
    }
    std::vector<Range> ranges;
    const std::string_view header(*accept);
    for (size_t start = 0; start <= header.size() && ranges.size() < kMaxRanges;) {
        const size_t end = std::min(header.find(',', start), header.size());
        if (!TrimBlanks(header.substr(start, end - start)).empty())
            ranges.push_back(ReadRange(header.substr(start, end - start)));
        start = end + 1;
    }
    double best = 0;
    for (OgcFormat offer : offers) {
        int specificity = 0;
        double weight = 0;
        for (const Range& range : ranges) {
            const int covers = Specificity(range, MediaTypeOf(offer));
            if (covers > specificity) {
                specificity = covers;
                weight = range.weight;
            }
        }
        if (weight > best) {
            best = weight;
            chosen = offer;
        }
    }
    return best > 0;
}
