// What zarvo-serve takes from request headers and what it writes into
// answer headers and its log: addresses behind proxies, entity tags,
// access-log lines, metrics.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "serve/operations/access_log.h"
#include "serve/operations/http_caching.h"
#include "serve/operations/public_url.h"
#include "serve/operations/service_metrics.h"

namespace {

TEST(PublicBase, TakesForwardingHeadersOnlyWhenTrustedAndOnlyWhenPlain) {
    struct Case {
        const char* what;
        AddressPolicy policy;
        ForwardingHeaders headers;
        const char* base;
    };
    const AddressPolicy direct{"", false, "127.0.0.1:8080"};
    const AddressPolicy trusting{"", true, "127.0.0.1:8080"};
    const AddressPolicy fixed{"https://maps.example.org/maps/", true, "127.0.0.1:8080"};
    const Case cases[] = {
        {"the Host header", direct, {"maps.example:81", "", "", "", ""}, "http://maps.example:81/"},
        {"no Host", direct, {}, "http://127.0.0.1:8080/"},
        {"markup in Host", direct, {"x\"><script>", "", "", "", ""}, "http://127.0.0.1:8080/"},
        {"untrusted proxy headers", direct, {"a.example", "proto=https;host=b.example", "https", "c.example", "/maps"},
         "http://a.example/"},
        {"X-Forwarded-*", trusting, {"127.0.0.1:8080", "", "HTTPS", "maps.example", "/maps/"},
         "https://maps.example/maps/"},
        {"first of a list", trusting, {"h", "", "https, http", "a.example, b.example", "/a, /b"}, "https://a.example/a/"},
        {"Forwarded first", trusting,
         {"h", "for=192.0.2.1;proto=https;host=\"a.example:8443\", for=10.0.0.1;host=b.example", "http", "c.example",
          ""},
         "https://a.example:8443/"},
        {"IPv6 host", trusting, {"h", "", "", "[2001:db8::1]:8080", ""}, "http://[2001:db8::1]:8080/"},
        {"a scheme that is none", trusting, {"h", "proto=javascript", "ftp", "", ""}, "http://h/"},
        {"a host with a path", trusting, {"h", "", "", "evil.example/x", ""}, "http://h/"},
        {"a port out of range", trusting, {"h", "", "", "a.example:99999", ""}, "http://h/"},
        {"a climbing prefix", trusting, {"h", "", "", "", "/maps/../admin"}, "http://h/"},
        {"a prefix that is a host", trusting, {"h", "", "", "", "//evil.example"}, "http://h/"},
        {"markup in the prefix", trusting, {"h", "", "", "", "/m\"><x"}, "http://h/"},
        {"the operator's address wins", fixed, {"h", "proto=http;host=b.example", "http", "c.example", "/x"},
         "https://maps.example.org/maps/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PublicBase(c.policy, c.headers), c.base) << c.what;
    }
}

TEST(PublicUrl, AcceptsPlainBasesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://maps.example.org", "https://maps.example.org/"},
        {"HTTP://maps.example.org:8443/maps//", "http://maps.example.org:8443/maps/"},
        {"http://[::1]:8080/a/b", "http://[::1]:8080/a/b/"},
        {"ftp://maps.example.org/", nullptr},
        {"https://user@maps.example.org/", nullptr},
        {"https://maps.example.org/?q=1", nullptr},
        {"https://maps.example.org/a/../b", nullptr},
        {"maps.example.org", nullptr},
    };
    for (const auto& [text, expected] : cases) {
        std::string normalized, error;
        EXPECT_EQ(NormalizePublicUrl(text, normalized, error), expected != nullptr) << text;
        if (expected != nullptr) {
            EXPECT_EQ(normalized, expected) << text;
        }
    }
    EXPECT_TRUE(IsOrigin("https://app.example:8443"));
    EXPECT_FALSE(IsOrigin("https://app.example/"));
}

TEST(EntityTags, FollowEveryPartAndMatchAsClientsSendThem) {
    const std::string tag = StrongEtag({"BBOX=0,0,1,1", "plugin-a", "tiles-1"});
    EXPECT_EQ(tag, StrongEtag({"BBOX=0,0,1,1", "plugin-a", "tiles-1"}));
    EXPECT_NE(tag, StrongEtag({"BBOX=0,0,1,1", "plugin-b", "tiles-1"}));
    EXPECT_NE(tag, StrongEtag({"BBOX=0,0,1,1", "plugin-a", "tiles-2"}));
    EXPECT_NE(StrongEtag({"ab", "c"}), StrongEtag({"a", "bc"}));
    ASSERT_EQ(tag.front(), '"');
    ASSERT_EQ(tag.back(), '"');

    const std::pair<std::string, bool> cases[] = {
        {tag, true},
        {"W/" + tag, true},
        {"\"other\", " + tag, true},
        {"*", true},
        {"\"other\"", false},
        {"", false},
        {tag.substr(1), false},
    };
    for (const auto& [header, hits] : cases) {
        EXPECT_EQ(IfNoneMatchHits(header, tag), hits) << header;
    }
    EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");

    // If-Modified-Since in each of its three forms, against a change at that time.
    const std::pair<const char*, bool> since[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true},
        {"Sun Nov  6 08:49:37 1994", true},
        {"Sun, 06 Nov 1994 08:49:36 GMT", false},  // a second before the change
        {"Sun, 06 Nov 2094 08:49:37 GMT", false},  // later than now: no date a copy was made at
        {"Sun, 06 Nov 1994 08:49:37 GMT junk", false},
        {"", false},
    };
    for (const auto& [header, current] : since) {
        EXPECT_EQ(NotModifiedSince(header, 784111777), current) << header;
    }
    EXPECT_FALSE(NotModifiedSince("Sun, 06 Nov 1994 08:49:37 GMT", 0));  // no date known
}

TEST(AccessLog, KeepsEachRequestOnOneLineWithItsFieldsApart) {
    AccessRecord r;
    r.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(784111777123));
    r.client = "192.0.2.7";
    r.method = "GET";
    r.target = "/wms?a=\"b\"\n2026-01-01T00:00:00.000Z forged \\ line\xff";
    r.status = 200;
    r.bytes = 48213;
    r.milliseconds = 12.3456;
    r.zoom = 6;
    r.tiles = 12;
    EXPECT_EQ(AccessLogLine(r),
              "1994-11-06T08:49:37.123Z 192.0.2.7 \"GET /wms?a=\\x22b\\x22\\x0A2026-01-01T00:00:00.000Z forged \\x5C "
              "line\\xFF\" 200 48213 12.346 6 12");
    r.zoom = 0;
    EXPECT_EQ(AccessLogLine(r).substr(AccessLogLine(r).size() - 4), " - -");
}

TEST(Metrics, CountInPrometheusTextWithCumulativeBuckets) {
    ServiceMetrics metrics;
    metrics.Count(Operation::GetMap, 200, 0.004);
    metrics.Count(Operation::GetMap, 200, 0.2);
    metrics.Count(Operation::GetMap, 502, 60.0);
    MetricsGauges gauges;
    gauges.cacheHits = 7;
    const std::string text = metrics.Render(gauges);
    for (const char* line : {
             "zarvo_requests_total{operation=\"GetMap\",status=\"200\"} 2\n",
             "zarvo_requests_total{operation=\"GetMap\",status=\"502\"} 1\n",
             "zarvo_request_duration_seconds_bucket{operation=\"GetMap\",le=\"0.005\"} 1\n",
             "zarvo_request_duration_seconds_bucket{operation=\"GetMap\",le=\"0.25\"} 2\n",
             "zarvo_request_duration_seconds_bucket{operation=\"GetMap\",le=\"30\"} 2\n",
             "zarvo_request_duration_seconds_bucket{operation=\"GetMap\",le=\"+Inf\"} 3\n",
             "zarvo_request_duration_seconds_count{operation=\"GetMap\"} 3\n",
             "# TYPE zarvo_tile_cache_hits_total counter\nzarvo_tile_cache_hits_total 7\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("GetCapabilities"), std::string::npos);
}

}  // namespace
