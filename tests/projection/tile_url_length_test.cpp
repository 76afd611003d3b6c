#include <gtest/gtest.h>

#include <string>

#include "projection/zarvo_coord_transform.h"

namespace {

// An address is written in place at its computed length: a long layer
// name gives the whole address, and so do the longest numbers a key can
// produce.
TEST(TileUrlLengthTest, LongNamesAndNumbersGiveWholeAddresses) {
    const std::u16string name(300, u'n');
    const ZarvoCoordTransform t(LayerKind::Aerial, name);
    const std::u16string url = t.TileUrl(TileKey{-2147483647 - 1, 1024, 1});
    const std::u16string expected = u"http://tile1.zarvo.example/geowebcache/service/tms1.0.0/" + name +
                                    u"/0/-8388608/0.jpeg";
    EXPECT_EQ(url, expected);

    const ZarvoCoordTransform shortName(LayerKind::Map, u"map");
    EXPECT_EQ(shortName.TileUrl(TileKey{2147483647, 1 << 30, 21}),
              u"http://tile3.zarvo.example/geowebcache/service/tms1.0.0/map/20/8388607/1048575.png");
}

}  // namespace
