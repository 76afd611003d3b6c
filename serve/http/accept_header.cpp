#include "serve/http/accept_header.h"

#include <algorithm>

#include "serve/http/http_exchange.h"

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

// A qvalue: "0", "0.5", "1.000"; at most three decimals. False when it is
// not one.
bool ParseQuality(std::string_view text, int& thousandths) {
    if (text.empty() || (text[0] != '0' && text[0] != '1')) return false;
    int value = (text[0] - '0') * 1000;
    if (text.size() > 1) {
        if (text[1] != '.' || text.size() > 5) return false;
        int scale = 100;
        for (char c : text.substr(2)) {
            if (c < '0' || c > '9') return false;
            value += (c - '0') * scale;
            scale /= 10;
        }
    }
    if (value > 1000) return false;
    thousandths = value;
    return true;
}

// How specifically the range "type/subtype" names `mediaType`: 0 when it
// does not, -1 when the range is malformed.
int Specificity(std::string_view range, std::string_view mediaType) {
    const size_t slash = range.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == range.size()) return -1;
    const std::string_view type = range.substr(0, slash), subtype = range.substr(slash + 1);
    const size_t wanted = mediaType.find('/');
    if (type == "*") return subtype == "*" ? 1 : -1;
    if (!SameIgnoringCase(type, mediaType.substr(0, wanted))) return 0;
    if (subtype == "*") return 2;
    return SameIgnoringCase(subtype, mediaType.substr(wanted + 1)) ? 3 : 0;
}

}  // namespace

Acceptance AcceptanceOf(std::string_view accept, std::string_view mediaType) {
    if (TrimBlanks(accept).empty()) return Acceptance{1000, 1};
    Acceptance decided;
    while (!accept.empty()) {
        const size_t comma = std::min(accept.find(','), accept.size());
        std::string_view element = accept.substr(0, comma);
        accept.remove_prefix(std::min(comma + 1, accept.size()));
        const size_t semicolon = std::min(element.find(';'), element.size());
        const int specificity = Specificity(TrimBlanks(element.substr(0, semicolon)), mediaType);
        if (specificity <= decided.specificity) continue;
        int quality = 1000;
        bool wellFormed = true;
        std::string_view parameters = element.substr(semicolon);
        while (!parameters.empty()) {
            parameters.remove_prefix(1);  // the ';'
            const size_t next = std::min(parameters.find(';'), parameters.size());
            const std::string_view parameter = TrimBlanks(parameters.substr(0, next));
            parameters.remove_prefix(next);
            if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') && parameter[1] == '=') {
                wellFormed = ParseQuality(parameter.substr(2), quality);
                break;  // what follows q belongs to the range's extensions
            }
        }
        if (wellFormed) decided = Acceptance{quality, specificity};
    }
    return decided;
}
