#pragma once

// A raster's edges in degrees: column 0 is sampled on west, the last column
// on east, row 0 on north, the last row on south.
struct SampledBox {
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;
};
