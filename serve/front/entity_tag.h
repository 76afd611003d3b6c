#pragma once

#include <string>

#include "serve/front/service_request.h"
#include "serve/operations/content_stamp.h"

// The strong entity tag of a request's answer, or "" for one that gets
// none (anything but a valid map, tile, capabilities or TileJSON). It is
// made of what the answer's bytes are made of, so two requests share a tag
// only when they are answered alike: a map's identity (layer, grid, the box
// to the bit, size, format, background), whichever door asked for it, or
// the document (a service's capabilities in a version, a layer's TileJSON
// in a set) and its advertised address, then `stamp`, the placement among
// it, with the tile source as it is now, `tiles`.
std::string EntityTag(const ServiceRequest& request, const ContentStamp& stamp, const TileSetStamp& tiles);
