#include "serve/wmts/wmts_service.h"

#include "serve/answers/map_answer.h"
#include "serve/description/xml_text.h"
#include "serve/wmts/wmts_capabilities.h"

namespace {

// An error message is one line of text; whatever it quotes stops here.
constexpr size_t kMaxMessageBytes = 1024;

DoorAnswer OwsException(int status, const char* code, const std::string& locator, const std::string& message) {
    DoorAnswer answer;
    answer.status = status;
    answer.contentType = "application/xml";
    answer.body = OwsExceptionDocument(code, locator, XmlCharacters(message, kMaxMessageBytes));
    return answer;
}

}  // namespace

DoorAnswer WmtsService::Answer(const ParsedWmts& request, const WmtsAddresses& addresses, Clock::time_point deadline) {
    if (!request.valid) {
        const WmtsError& error = request.error;
        return OwsException(error.status, error.code, error.locator, error.message);
    }
    if (request.request.operation == WmtsOperation::GetCapabilities) {
        DoorAnswer answer;
        answer.contentType = "application/xml";
        answer.body = WmtsCapabilitiesDocument(description, addresses.keyValue, addresses.restful);
        return answer;
    }
    return MapAnswer(maps.Make(request.request.map, deadline),
                     [](const FailureReport& report, const std::string& message) {
                         return OwsException(report.status, report.code != nullptr ? report.code : "NoApplicableCode",
                                             "", message);
                     });
}
