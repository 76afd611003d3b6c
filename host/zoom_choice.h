#pragma once

#include <cstdint>

// The smallest plug-in zoom (1 = one tile for the world) whose tiles have
// at least one pixel per output pixel of `dx` x `dy` degrees in both
// directions at `latitude`, capped at `maxZoom`. Every host picks its zoom
// by this rule, so that one box at one size looks alike in all of them.
int32_t ChooseZoom(double dx, double dy, double latitude, int32_t maxZoom);

// The zoom of an image of `dx` x `dy` degree pixels from latitude `south`
// to `north`: ChooseZoom at the middle latitude of the part that lies on
// the tiles (the equator's when none does).
int32_t ChooseImageZoom(double dx, double dy, double south, double north, int32_t maxZoom);
