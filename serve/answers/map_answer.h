#pragma once

#include <functional>
#include <string>

#include "drawing/map_maker.h"
#include "serve/answers/door_answer.h"
#include "serve/answers/failure_report.h"

// A door's answer for a map: the image with its statistics, or the
// exception report `report` writes for the failure's status and code.
using FailureReportWriter = std::function<DoorAnswer(const FailureReport& report, const std::string& message)>;
DoorAnswer MapAnswer(EncodedMap map, const FailureReportWriter& report);
