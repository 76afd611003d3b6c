#include "serve/answers/failure_report.h"

namespace {

struct KindReport {
    RenderFailure kind;
    FailureReport report;
};

// An image that needs too many tiles is the client's to make smaller; the
// rest are the service's own failures.
constexpr KindReport kReports[] = {
    {RenderFailure::Unservable, {400, "InvalidParameterValue"}},
    {RenderFailure::TooManyTiles, {400, "InvalidParameterValue"}},
    {RenderFailure::TileMissing, {502, nullptr}},
    {RenderFailure::TileUndecodable, {502, nullptr}},
    {RenderFailure::TileLate, {504, nullptr}},
    {RenderFailure::OutOfMemory, {503, nullptr}},
    {RenderFailure::NoLayer, {500, nullptr}},
    {RenderFailure::Refused, {500, nullptr}},
    {RenderFailure::HostFailure, {500, nullptr}},
    {RenderFailure::PluginFailure, {500, nullptr}},
};

}  // namespace

FailureReport ReportOf(RenderFailure kind) {
    for (const KindReport& entry : kReports) {
        if (entry.kind == kind) return entry.report;
    }
    return FailureReport{};
}
