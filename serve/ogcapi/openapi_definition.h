#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "serve/description/service_description.h"

// The OpenAPI 3.0 definition of the OGC API: every path, its parameters
// and its answers, with the map size limits as x-OGC-limits; `root`, the
// public address of /ogcapi, is its server.
nlohmann::ordered_json OpenApiDefinition(const ServiceDescription& description, const std::string& root);
