#include "render/gdal_messages.h"

#include <cpl_error.h>

#include <cstdio>
#include <mutex>
#include <set>

namespace {

// The warnings told so far: a warning GDAL gives for every block written
// is told once.
std::mutex toldMutex;
std::set<std::string> told;

void TellWarnings(CPLErr level, CPLErrorNum number, const char* message) {
    if (level != CE_Warning || message == nullptr) return;
    const std::lock_guard<std::mutex> lock(toldMutex);
    if (!told.insert(message).second) return;
    std::fprintf(stderr, "Warning %d: %s\n", number, message);
    std::fflush(stderr);
}

}  // namespace

GdalMessages::GdalMessages() {
    CPLPushErrorHandler(TellWarnings);
    CPLErrorReset();
}

GdalMessages::~GdalMessages() {
    CPLPopErrorHandler();
}

bool GdalMessages::Failed() {
    return CPLGetLastErrorType() >= CE_Failure;
}

std::string GdalMessages::Last(const char* fallback) {
    const char* message = CPLGetLastErrorMsg();
    return CPLGetLastErrorType() >= CE_Failure && message != nullptr && *message != '\0' ? message : fallback;
}
