// Reading a responder's complete answer: the body after the first blank line
// must be one DER OCSPResponse; the status line and headers are not read.
#include "ocsp_internal.h"

namespace tq {

size_t answerBodyOffset(const unsigned char *answer, size_t length) {
    static const char blankLine[] = "\r\n\r\n";
    ByteCursor c(answer, length);
    for (;;) {
        size_t cr = c.find('\r');
        if (cr == SIZE_MAX || !c.skip(cr)) return SIZE_MAX;
        if (c.startsWith(blankLine, 4)) return c.position() + 4;
        c.skip(1);
    }
}

int decodeAnswer(const unsigned char *answer, size_t length, OCSP_RESPONSE **response) {
    size_t offset = answerBodyOffset(answer, length);
    if (offset == SIZE_MAX) return TQ_RTN_FAILED;
    size_t bodyLength = length - offset;
    if (!fitsInt(bodyLength)) return TQ_RTN_OCSP_BAD_RESPONSE;
    const unsigned char *p = answer + offset;
    OCSP_RESPONSE *decoded = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(bodyLength));
    if (!decoded) return TQ_RTN_OCSP_BAD_RESPONSE;
    *response = decoded;
    return TQ_RTN_OK;
}

}  // namespace tq
