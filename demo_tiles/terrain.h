#pragma once

#include <vector>

// Made-up land and sea for the demo tiles: an elevation for every longitude
// and latitude, negative at sea, from a few octaves of smooth value noise.
// The same point has the same elevation at every zoom, so tiles of all
// zooms show the same coastlines.
double Elevation(double lon, double lat, int octaves);

// How many octaves are worth computing when one pixel spans `degrees`.
int OctavesFor(double degreesPerPixel);
