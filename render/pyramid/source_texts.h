#pragma once

#include <string>

#include "render/pyramid/pyramid_plan.h"

// What a package of `layer` says of itself: the name, description and
// attribution of the tile directory's metadata.json (DIR/LAYER/metadata.json,
// else DIR/metadata.json) when `tiles` is a directory that has one, else the
// layer's name alone.
LayerTexts SourceTexts(const std::string& tiles, const std::string& layer);
