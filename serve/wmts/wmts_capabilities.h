#pragma once

#include <string>

#include "serve/description/service_description.h"

// The WMTS 1.0.0 capabilities document: the layers in every tile matrix
// set and format, for key-value requests at `kvpUrl` (e.g.
// http://HOST/wmts?) and RESTful ones under `restBase` (e.g.
// http://HOST/wmts/1.0.0). Both are escaped for XML here.
std::string WmtsCapabilitiesDocument(const ServiceDescription& description, const std::string& kvpUrl,
                                     const std::string& restBase);

// An OWS 1.1 exception report.
std::string OwsExceptionDocument(const char* code, const std::string& locator, const std::string& message);
