#include "serve/operations/public_url.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "serve/http/http_exchange.h"

namespace {

constexpr size_t kMaxHostLength = 255;
constexpr size_t kMaxPrefixLength = 256;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The first of a comma-separated list, as proxies append theirs.
std::string_view FirstOfList(std::string_view text) {
    return TrimBlanks(text.substr(0, text.find(',')));
}

bool IsScheme(std::string_view text) {
    const std::string lower = Lower(text);
    return lower == "http" || lower == "https";
}

bool IsPort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

// A DNS name or IPv4 address, or an IPv6 address in brackets, with an
// optional port: nothing that could end an attribute or start a path.
bool IsHostAndPort(std::string_view text) {
    if (text.empty() || text.size() > kMaxHostLength) return false;
    std::string_view host = text;
    if (host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string_view::npos || close < 3) return false;
        for (char c : host.substr(1, close - 1)) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        }
        const std::string_view rest = host.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)));
    }
    const size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        if (!IsPort(host.substr(colon + 1))) return false;
        host = host.substr(0, colon);
    }
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    }
    return true;
}

// A path prefix of plain segments ("/maps", "/a/b-c_d.e~f"), written without
// its trailing slash; "" and "/" are no prefix. No "." or ".." segment, no
// empty segment, no percent sign: nothing a client would read differently.
bool NormalizePrefix(std::string_view text, std::string& prefix) {
    while (!text.empty() && text.back() == '/') text.remove_suffix(1);
    prefix.clear();
    if (text.empty()) return true;
    if (text.front() != '/' || text.size() > kMaxPrefixLength) return false;
    size_t segmentStart = 1;
    for (size_t i = 1; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '/') {
            const std::string_view segment = text.substr(segmentStart, i - segmentStart);
            if (segment.empty() || segment == "." || segment == "..") return false;
            segmentStart = i + 1;
            continue;
        }
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_' && c != '~') {
            return false;
        }
    }
    prefix.assign(text);
    return true;
}

// One parameter of the first element of a Forwarded header (RFC 7239):
// token or quoted-string, with its name matched without regard to case.
std::string ForwardedParameter(std::string_view header, std::string_view name) {
    bool quoted = false;
    size_t end = 0;
    while (end < header.size() && (quoted || header[end] != ',')) {
        if (header[end] == '"') quoted = !quoted;
        if (quoted && header[end] == '\\') ++end;
        ++end;
    }
    std::string_view element = header.substr(0, std::min(end, header.size()));
    while (!element.empty()) {
        const size_t semicolon = element.find(';');
        const std::string_view pair = TrimBlanks(element.substr(0, semicolon));
        element = semicolon == std::string_view::npos ? std::string_view() : element.substr(semicolon + 1);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos || Lower(TrimBlanks(pair.substr(0, equals))) != name) continue;
        std::string_view value = TrimBlanks(pair.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        // A backslash escape belongs to no scheme or host; such a value is refused later.
        return std::string(value);
    }
    return "";
}

}  // namespace

std::string PublicBase(const AddressPolicy& policy, const ForwardingHeaders& headers) {
    if (!policy.publicUrl.empty()) return policy.publicUrl;
    std::string scheme = "http";
    std::string host = IsHostAndPort(headers.host) ? headers.host : policy.fallbackHost;
    std::string prefix;
    if (policy.trustProxy) {
        const std::string forwardedProto = ForwardedParameter(headers.forwarded, "proto");
        const std::string forwardedHost = ForwardedParameter(headers.forwarded, "host");
        const std::string_view xProto = FirstOfList(headers.forwardedProto);
        const std::string_view xHost = FirstOfList(headers.forwardedHost);
        if (IsScheme(forwardedProto)) {
            scheme = Lower(forwardedProto);
        } else if (IsScheme(xProto)) {
            scheme = Lower(xProto);
        }
        if (IsHostAndPort(forwardedHost)) {
            host = forwardedHost;
        } else if (IsHostAndPort(xHost)) {
            host = std::string(xHost);
        }
        if (!NormalizePrefix(FirstOfList(headers.forwardedPrefix), prefix)) prefix.clear();
    }
    return scheme + "://" + host + prefix + "/";
}

bool NormalizePublicUrl(const std::string& text, std::string& normalized, std::string& error) {
    const size_t colon = text.find("://");
    error = "'" + text + "' is not http[s]://HOST[:PORT][/PATH]";
    if (colon == std::string::npos || !IsScheme(std::string_view(text).substr(0, colon))) return false;
    const std::string_view rest = std::string_view(text).substr(colon + 3);
    const size_t slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    std::string prefix;
    if (!IsHostAndPort(host) ||
        (slash != std::string_view::npos && !NormalizePrefix(rest.substr(slash), prefix))) {
        return false;
    }
    normalized = Lower(text.substr(0, colon)) + "://" + std::string(host) + prefix + "/";
    error.clear();
    return true;
}

bool IsOrigin(const std::string& text) {
    const size_t colon = text.find("://");
    return colon != std::string::npos && IsScheme(std::string_view(text).substr(0, colon)) &&
           IsHostAndPort(std::string_view(text).substr(colon + 3));
}
