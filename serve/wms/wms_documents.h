#pragma once

#include <string>

#include "serve/description/service_description.h"
#include "serve/wms/wms_query.h"

// The capabilities document of the service in the given version.
// `serviceUrl` is where clients send their requests, e.g.
// http://127.0.0.1:8080/wms?; it is escaped for XML here.
std::string CapabilitiesDocument(WmsVersion version, const std::string& serviceUrl,
                                 const ServiceDescription& description);
const char* CapabilitiesContentType(WmsVersion version);

// A service exception report. `code` may be null for an error that has no
// standard code (a tile that cannot be had, an overloaded server).
std::string ExceptionDocument(WmsVersion version, const char* code, const std::string& message);
const char* ExceptionContentType(WmsVersion version);
