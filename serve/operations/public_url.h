#pragma once

#include <string>

// How a request reached the service: its Host header and what a reverse
// proxy in front says about the client's side. Empty: not sent.
struct ForwardingHeaders {
    std::string host;             // Host
    std::string forwarded;        // Forwarded (proto= and host= of its first element)
    std::string forwardedProto;   // X-Forwarded-Proto
    std::string forwardedHost;    // X-Forwarded-Host
    std::string forwardedPrefix;  // X-Forwarded-Prefix
};

struct AddressPolicy {
    std::string publicUrl;     // normalized by NormalizePublicUrl; wins over every header
    bool trustProxy = false;   // else the forwarding headers are ignored
    std::string fallbackHost;  // HOST:PORT the service listens on, for a request without a usable Host
};

// The address the client reached the service at, ending in '/', e.g.
// https://maps.example.org/maps/. Every advertised address is this plus a
// relative path. A header value that is not a plain scheme, host or path is
// ignored, as if it had not been sent.
std::string PublicBase(const AddressPolicy& policy, const ForwardingHeaders& headers);

// Checks an operator's http[s]://HOST[:PORT][/PATH] (no user, query or
// fragment) and writes it with a lower-case scheme and one trailing '/'.
bool NormalizePublicUrl(const std::string& text, std::string& normalized, std::string& error);

// scheme://host[:port] with nothing after it, as browsers send in Origin.
bool IsOrigin(const std::string& text);
