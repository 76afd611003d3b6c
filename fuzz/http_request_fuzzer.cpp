// libFuzzer target over what zarvo-serve makes of a request's head: any
// bytes through Beast's request parser with the server's head limit, then
// the target's query split and decoded, and every value made fit for an
// exception report. The report text must stay within its bound and be
// left as it is when made fit again (nothing unfit survives).

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serve/http/http_exchange.h"
#include "serve/http/http_limits.h"
#include "serve/http/query_string.h"
#include "serve/description/xml_text.h"

namespace {

constexpr size_t kQuoted = 64;

void CheckFit(std::string_view text) {
    const std::string fit = XmlCharacters(text, kQuoted);
    if (fit.size() > kQuoted || XmlCharacters(fit, kQuoted) != fit) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace http = boost::beast::http;
    http::request_parser<http::empty_body> parser;
    parser.header_limit(static_cast<uint32_t>(HttpLimits{}.headBytes));
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(data, size), error);
    if (parser.is_header_done()) {
        HttpRequest request;
        request.target = std::string(parser.get().target());
        for (const auto& [name, value] : ParseQueryString(request.Query())) {
            CheckFit(name);
            CheckFit(value);
        }
    }
    CheckFit(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
