#pragma once

#include <cstdint>

// The smallest plug-in zoom (1 = one tile for the world) whose tiles have
// at least one pixel per output pixel of `dx` x `dy` degrees in both
// directions at `latitude`, capped at `maxZoom`. Every host picks its zoom
// by this rule, so that one box at one size looks alike in all of them.
int32_t ChooseZoom(double dx, double dy, double latitude, int32_t maxZoom);
