#include "layers/data_src_layer.h"

DataSrcLayer::~DataSrcLayer() = default;
