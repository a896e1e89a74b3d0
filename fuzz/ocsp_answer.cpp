// A responder's answer from untrusted bytes: the HTTP reader, the response
// checks and getters behind it; and the URL splitter. The first byte chooses.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ocsp_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t *rest = data + 1;
    size_t n = size - 1;
    if (data[0] & 1) {
        std::string url(reinterpret_cast<const char *>(rest), n);
        tq::ResponderUrl parts;
        if (tq::parseURL(url.c_str(), &parts) == TQ_RTN_OK) {
            if (parts.host.find_first_of(":/") != std::string::npos) std::abort();
            if (parts.path.empty() || parts.path[0] != '/') std::abort();
            for (char c : parts.host + parts.path)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
        }
        return 0;
    }
    OCSP_RESPONSE *response = nullptr;
    if (tq::decodeAnswer(rest, n, &response) != TQ_RTN_OK) return 0;
    OCSP_RESPONSE_free(response);
    return 0;
}
