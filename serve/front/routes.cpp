#include "serve/front/routes.h"

namespace {

// The one table of the service's paths: what the front routes by and what
// the capabilities advertise are both read from it.
struct Route {
    std::string_view path;
    bool prefix;  // every path that starts with it, else only itself
    Door door;
};

constexpr Route kRoutes[] = {
    {"/healthz", false, Door::Health},
    {"/readyz", false, Door::Readiness},
    {"/metrics", false, Door::Metrics},
    {"/wms", false, Door::Wms},
    {"/wmts", false, Door::WmtsQuery},
    {"/wmts/1.0.0/", true, Door::WmtsPath},
    {"/tiles/", true, Door::Xyz},
    {"/ogcapi", false, Door::OgcApi},
    {"/ogcapi/", true, Door::OgcApi},
    {"/stats", false, Door::Counters},
    {"/", true, Door::Page},
};

}  // namespace

Door DoorOf(std::string_view path) {
    for (const Route& route : kRoutes) {
        if (route.prefix ? path.substr(0, route.path.size()) == route.path : path == route.path) return route.door;
    }
    return Door::Page;
}

std::string_view PathOf(Door door) {
    for (const Route& route : kRoutes) {
        if (route.door == door) return route.path;
    }
    return "/";
}
