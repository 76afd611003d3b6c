#pragma once

#include "host/plugin_host.h"

// How clients are told of a failure: the HTTP status and the OGC exception
// code, null where no standard code fits (a WMS report then names none, a
// WMTS report says NoApplicableCode).
struct FailureReport {
    int status = 500;
    const char* code = nullptr;
};

FailureReport ReportOf(RenderFailure kind);
