#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "layers/tiled_data_src_layer.h"
#include "projection/zarvo_coord_transform.h"

// A layer of the Zarvo tile service: "map", "aerial" or "hybrid". It picks
// its kind by name and owns its transform; everything else is tile-generic.
class ZarvoSrcLayer final : public TiledDataSrcLayer {
public:
    ZarvoSrcLayer();
    ~ZarvoSrcLayer() override;

    // Names are compared exactly (case-sensitive): the manager lower-cases
    // them first.
    bool Init(const std::u16string& name) override;
    int32_t BuildRequest(const DataRequestBlock& request, AddressList& urls) const override;
    const CoordTransform* GetTransform() const override;

    LayerKind Kind() const { return kind; }

private:
    std::unique_ptr<ZarvoCoordTransform> transform;
    LayerKind kind = LayerKind::None;
};
