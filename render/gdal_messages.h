#pragma once

#include <string>

// GDAL's messages while the output is written, told as gdal_translate tells
// them: each warning once on standard error ("Warning 6: ..."), quiet or
// not; a failure is not printed but handed back as the reason of the one
// line the program prints. GDAL keeps its handlers per thread: a scope
// covers the GDAL calls of its own thread.
class GdalMessages {
public:
    GdalMessages();
    ~GdalMessages();
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    // A failure since the scope began (or since the last reset).
    static bool Failed();
    // The last failure's message, or `fallback` when GDAL gave none.
    static std::string Last(const char* fallback);
};
