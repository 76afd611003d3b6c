"""Colours of the three layers, shared by the tile painter and the tests that
read land and water back from the map layer's pixels."""

# The map layer's ground. Its lines (graticule, borders) scale red and blue
# by the same factor, so the blue-to-red ratio of a map pixel tells land
# from water wherever the pixel lies.
LAND = (238, 232, 212)
WATER = (164, 201, 234)
GRATICULE_SHADE = (0.78, 0.78, 0.78)
BORDER_SHADE = (0.72, 0.42, 0.72)

# The hybrid layer's lines over the imagery: colour and opacity.
HYBRID_COAST = ((255, 236, 150), 0.75)
HYBRID_BORDER = ((255, 96, 200), 0.9)
HYBRID_GRATICULE = ((255, 255, 255), 0.4)

# Graticule spacing in degrees.
GRATICULE_STEP = 10

# A map pixel whose blue-to-red ratio is above this is water: the ratio of
# an even mix of land and water, so a pixel counts as what covers most of it.
WATER_RATIO = (LAND[2] + WATER[2]) / (LAND[0] + WATER[0])
