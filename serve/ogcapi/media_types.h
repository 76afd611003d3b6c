#pragma once

#include <string>
#include <vector>

#include "drawing/map_request.h"

// The representations the OGC API answers in.
enum class OgcFormat { Json, Html, OpenApi, Png, Jpeg, Webp };

// Its media type, as links name it, e.g. application/json.
const char* MediaTypeOf(OgcFormat format);
// The Content-Type of an answer in it: HTML says its character set.
const char* ContentTypeOf(OgcFormat format);
// The value `f` names it by: json, html, png, jpeg or webp (the OpenAPI
// definition is json).
const char* FormatName(OgcFormat format);
// The format a map or tile in it is drawn in (PNG for one that is not an
// image).
ImageFormat ImageFormatFor(OgcFormat format);

// The format `f`'s value names: one of those names, jpg, or a media type
// of one. False for anything else.
bool FormatNamed(const std::string& name, OgcFormat& format);

// Chooses among `offers`, the server's preference first, by the Accept
// header (each offer taken as much as AcceptanceOf says; the most taken
// wins, ties go to the earlier offer). Without a header, the first offer.
// False when the header takes none of them.
bool Negotiate(const std::vector<OgcFormat>& offers, const std::string* accept, OgcFormat& chosen);
