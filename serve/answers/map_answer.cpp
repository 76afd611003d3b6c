#include "serve/answers/map_answer.h"

#include <utility>

DoorAnswer MapAnswer(EncodedMap map, const FailureReportWriter& report) {
    if (map.failure) {
        DoorAnswer answer = report(ReportOf(map.failure->kind), map.failure->message);
        answer.failure = std::move(map.failure);
        return answer;
    }
    DoorAnswer answer;
    answer.contentType = std::move(map.contentType);
    answer.body = std::move(map.bytes);
    answer.drawn = map.statistics;
    return answer;
}
