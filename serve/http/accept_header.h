#pragma once

#include <string_view>

// How much a client's Accept header takes one media type, by RFC 9110: the
// quality of the most specific range that names it ("image/webp" before
// "image/*" before "*/*"). No header, or an empty one, takes everything.
struct Acceptance {
    int quality = 0;      // thousandths: 0 (not taken) to 1000
    int specificity = 0;  // of the range that decided: 3 type/subtype, 2 type/*, 1 */*, 0 none
};

// `mediaType` is lower-case "type/subtype"; ranges are matched without
// regard to case, parameters other than q ignored, malformed ranges and
// q values skipped.
Acceptance AcceptanceOf(std::string_view accept, std::string_view mediaType);
