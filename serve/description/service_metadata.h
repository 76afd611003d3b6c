#pragma once

#include <string>

#include "serve/description/service_description.h"

// Reads the operator's description of the service (--service-metadata), a
// JSON object whose keys are all optional:
//   {"title": "...", "abstract": "...", "keywords": ["...", ...],
//    "contact": {"person", "organization", "position", "email", "phone"},
//    "fees": "...", "accessConstraints": "...",
//    "layers": {"map": {"title", "abstract", "attribution", "attributionUrl"}, ...}}
// False, with one line naming the file and the fault, when it cannot.
bool ReadServiceMetadata(const std::string& path, ServiceDescription& description, std::string& error);

// Takes each layer's credits from the tile set, where it carries them as
// tile trees exported from MBTiles do: an "attribution" in
// DIRECTORY/LAYER/metadata.json, else in DIRECTORY/metadata.json. A layer
// whose credits are already set keeps them; a file that is missing or
// unreadable is passed over.
void ReadTileSetCredits(const std::string& directory, ServiceDescription& description);
