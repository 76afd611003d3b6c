#pragma once

#include <string>

#include "host/plugin_host.h"

// Why a map has no image: the kind of failure, in the plug-in host's terms
// (every door and program shares them), and one line naming the culprit.
struct MapFailure {
    RenderFailure kind = RenderFailure::HostFailure;
    std::string message;
};

// How clients are told of a failure: the HTTP status and the OGC exception
// code, null where no standard code fits (a WMS report then names none, a
// WMTS report says NoApplicableCode).
struct FailureReport {
    int status = 500;
    const char* code = nullptr;
};

FailureReport ReportOf(RenderFailure kind);
