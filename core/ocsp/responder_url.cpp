// Splitting a responder URL into scheme, host, port and path.
#include <cctype>

#include "ocsp_internal.h"

namespace tq {

namespace {

bool startsWithNoCase(const ByteCursor &c, const char *prefix) {
    size_t n = std::strlen(prefix);
    if (c.remaining() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(c.here()[i]) != prefix[i]) return false;
    return true;
}

// The port as atoi reads it (white space, a sign, digits), saturated so that
// no number wraps into a valid port.
long portOf(ByteCursor c) {
    const long ceiling = 1000000;
    while (c.peek() == ' ' || c.peek() == '\t') c.next();
    bool negative = false;
    if (c.peek() == '+' || c.peek() == '-') negative = c.next() == '-';
    long value = 0;
    while (c.peek() >= '0' && c.peek() <= '9') {
        value = value * 10 + (c.next() - '0');
        if (value > ceiling) value = ceiling;
    }
    return negative ? -value : value;
}

}  // namespace

int parseURL(const char *url, ResponderUrl *out) {
    if (!url || !out) return TQ_RTN_BAD_ARGUMENT;
    size_t length = std::strlen(url);
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = static_cast<unsigned char>(url[i]);
        if (b < 0x20 || b == 0x7f) return TQ_RTN_BAD_ARGUMENT;
    }
    ByteCursor c(url, length);
    ResponderUrl parts;
    if (startsWithNoCase(c, "https://")) {
        parts.tls = true;
        c.skip(8);
    } else if (startsWithNoCase(c, "http://")) {
        c.skip(7);
    }
    parts.port = parts.tls ? 443 : 80;

    size_t slash = c.find('/');
    ByteCursor authority = c.take(slash);
    size_t colon = authority.find(':');
    ByteCursor host = authority.take(colon);
    parts.host.assign(reinterpret_cast<const char *>(host.here()), host.remaining());
    if (colon != SIZE_MAX) {
        authority.skip(colon + 1);
        parts.port = portOf(authority);
    }
    if (slash == SIZE_MAX) {
        parts.path = "/";
    } else {
        c.skip(slash);
        parts.path.assign(reinterpret_cast<const char *>(c.here()), c.remaining());
    }
    *out = std::move(parts);
    return TQ_RTN_OK;
}

}  // namespace tq
