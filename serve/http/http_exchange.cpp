#include "serve/http/http_exchange.h"

#include <strings.h>

#include <algorithm>

#include "serve/page/web_files.h"

const std::string* HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return &value;
    }
    return nullptr;
}

std::string_view HttpRequest::Path() const {
    const std::string_view whole(target);
    return whole.substr(0, whole.find('?'));
}

std::string_view HttpRequest::Query() const {
    const size_t mark = target.find('?');
    return mark == std::string::npos ? std::string_view() : std::string_view(target).substr(mark + 1);
}

HttpAnswer HttpAnswer::Text(int status, std::string text) {
    HttpAnswer answer;
    answer.status = status;
    answer.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    answer.body = std::move(text);
    return answer;
}

QueryParameters ParseQueryString(std::string_view query) {
    QueryParameters parameters;
    size_t start = 0;
    while (start < query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        const std::string_view name = pair.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        std::string decodedName, decodedValue;
        if (!PercentDecode(name, true, decodedName)) decodedName = std::string(name);
        if (!PercentDecode(value, true, decodedValue)) decodedValue = std::string(value);
        parameters.emplace_back(std::move(decodedName), std::move(decodedValue));
    }
    return parameters;
}
