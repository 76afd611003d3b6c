#pragma once

#include <map>
#include <memory>
#include <string>

#include "layers/data_src_layer.h"

// Owns the one layer of each name. Layers are created on first use and live
// until the registry is destroyed, so the pointers it hands out stay valid
// for its whole life. Not thread-safe: the manager serialises every call.
class LayerRegistry {
public:
    LayerRegistry();
    ~LayerRegistry();
    LayerRegistry(const LayerRegistry&) = delete;
    LayerRegistry& operator=(const LayerRegistry&) = delete;

    // The shared layer for `name` (already lower-cased), created and
    // initialised on first use; null when no layer accepts the name.
    DataSrcLayer* GetOrCreateLayer(const std::u16string& name);

    size_t Size() const { return layers.size(); }

private:
    // Ordered by UTF-16 code unit; the order is that of destruction.
    std::map<std::u16string, std::unique_ptr<DataSrcLayer>> layers;
};
