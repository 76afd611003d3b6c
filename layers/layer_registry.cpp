#include "layers/layer_registry.h"

#include "layers/zarvo_src_layer.h"

LayerRegistry::LayerRegistry() = default;

LayerRegistry::~LayerRegistry() {
    // Layers go in name order, not in whatever order the map's own
    // destructor would pick.
    for (auto& entry : layers) {
        entry.second.reset();
    }
}

DataSrcLayer* LayerRegistry::GetOrCreateLayer(const std::u16string& name) {
    auto found = layers.find(name);
    if (found != layers.end()) {
        return found->second.get();
    }
    // A name no layer accepts leaves nothing behind; asking again tries again.
    auto layer = std::make_unique<ZarvoSrcLayer>();
    if (!layer->Init(name)) {
        return nullptr;
    }
    DataSrcLayer* shared = layer.get();
    layers.emplace(name, std::move(layer));
    return shared;
}
