#include "serve/http/http_exchange.h"

#include <strings.h>


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

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

HttpAnswer HttpAnswer::Text(int status, std::string text) {
    HttpAnswer answer;
    answer.status = status;
    answer.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    answer.body = std::move(text);
    return answer;
}
