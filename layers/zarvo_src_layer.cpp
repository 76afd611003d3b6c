#include "layers/zarvo_src_layer.h"

ZarvoSrcLayer::ZarvoSrcLayer() = default;
ZarvoSrcLayer::~ZarvoSrcLayer() = default;

bool ZarvoSrcLayer::Init(const std::u16string& name) {
    kind = LayerKind::None;
    if (name == u"map") {
        kind = LayerKind::Map;
    } else if (name == u"aerial") {
        kind = LayerKind::Aerial;
    } else if (name == u"hybrid") {
        kind = LayerKind::Hybrid;
    }
    if (kind == LayerKind::None) {
        return false;
    }
    transform = std::make_unique<ZarvoCoordTransform>(kind, name);
    return true;
}

int32_t ZarvoSrcLayer::BuildRequest(const DataRequestBlock& request, AddressList& urls) const {
    return TiledDataSrcLayer::BuildRequest(request, urls);
}

const CoordTransform* ZarvoSrcLayer::GetTransform() const {
    return transform.get();
}
