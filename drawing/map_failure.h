#pragma once

#include <string>

#include "host/plugin_host.h"

// Why a map has no image: the kind of failure, in the plug-in host's terms
// (every door and program shares them), and one line naming the culprit.
struct MapFailure {
    RenderFailure kind = RenderFailure::HostFailure;
    std::string message;
};
