#include "serve/wms/wms_service.h"

#include "serve/answers/map_answer.h"
#include "serve/description/xml_text.h"
#include "serve/wms/wms_documents.h"

namespace {

// An error message is one line of text; whatever it quotes stops here.
constexpr size_t kMaxMessageBytes = 1024;

int HttpStatusOf(WmsErrorCode code) {
    return code == WmsErrorCode::OperationNotSupported ? 501 : 400;
}

DoorAnswer ExceptionAnswer(int status, WmsVersion version, const char* code, const std::string& message) {
    DoorAnswer answer;
    answer.status = status;
    answer.contentType = ExceptionContentType(version);
    answer.body = ExceptionDocument(version, code, XmlCharacters(message, kMaxMessageBytes));
    return answer;
}

}  // namespace

DoorAnswer WmsService::Answer(const ParsedWms& request, const std::string& serviceUrl, Clock::time_point deadline) {
    if (!request.valid) {
        const WmsError& error = request.error;
        return ExceptionAnswer(HttpStatusOf(error.code), error.version, WmsErrorCodeName(error.code, error.version),
                               error.message);
    }
    const WmsQuery& query = request.query;
    if (query.operation == WmsOperation::GetCapabilities) {
        DoorAnswer answer;
        answer.contentType = CapabilitiesContentType(query.version);
        answer.body = CapabilitiesDocument(query.version, serviceUrl, description);
        return answer;
    }
    return MapAnswer(maps.Make(query.map, deadline), [&](const FailureReport& report, const std::string& message) {
        return ExceptionAnswer(report.status, query.version, report.code, message);
    });
}
