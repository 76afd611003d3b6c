#pragma once

#include <string>
#include <string_view>

#include "serve/http/http_exchange.h"

// The map page's files under `root`: the answer to a GET of `path` (still
// percent-encoded), a file the transport streams, or 404 or 400. Only
// regular files inside `root` are served, typed by their real name: a
// decoded NUL, a backslash or a ".." segment is refused before the file
// system is asked.
HttpAnswer WebFileAnswer(const std::string& root, std::string_view path);

// The media type of a file name, by its extension.
const char* MediaTypeOf(std::string_view name);
