// The qualifiers of a certificate policy as an attribute list.
#include <openssl/objects.h>

#include "x509_internal.h"

namespace {

int noticeReference(const NOTICEREF *reference, tq::AttrList &out) {
    int numbers = sk_ASN1_INTEGER_num(reference->noticenos);
    if (numbers < 0) numbers = 0;
    int rc = out.reserve((reference->organization ? 1 : 0) + static_cast<size_t>(numbers));
    if (rc == TQ_RTN_OK && reference->organization)
        rc = out.addString("Organization", reference->organization);
    for (int i = 0; rc == TQ_RTN_OK && i < numbers; ++i)
        rc = out.addString("Number", sk_ASN1_INTEGER_value(reference->noticenos, i));
    return rc;
}

int userNotice(const USERNOTICE *notice, tq::AttrList &out) {
    int rc = out.reserve((notice->noticeref ? 1 : 0) + (notice->exptext ? 1 : 0));
    if (rc == TQ_RTN_OK && notice->noticeref) {
        tq::AttrList reference;
        rc = noticeReference(notice->noticeref, reference);
        if (rc == TQ_RTN_OK) rc = out.addList("Notice Reference", reference);
    }
    // The explicit text as stored, whatever its string type.
    if (rc == TQ_RTN_OK && notice->exptext) rc = out.addString("Notice Text", notice->exptext);
    return rc;
}

}  // namespace

namespace tq {

int qualifierList(const STACK_OF(POLICYQUALINFO) *qualifiers, AttrList &out) {
    int count = qualifiers ? sk_POLICYQUALINFO_num(qualifiers) : 0;
    int rc = out.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; rc == TQ_RTN_OK && i < count; ++i) {
        const POLICYQUALINFO *qualifier = sk_POLICYQUALINFO_value(qualifiers, i);
        switch (OBJ_obj2nid(qualifier->pqualid)) {
        case NID_id_qt_cps:
            rc = out.addString("CPS", qualifier->d.cpsuri);
            break;
        case NID_id_qt_unotice: {
            AttrList notice;
            rc = userNotice(qualifier->d.usernotice, notice);
            if (rc == TQ_RTN_OK) rc = out.addList("UserNotice", notice);
            break;
        }
        default: {
            // Named, without a value: nothing of it is decoded.
            ObjectLabel label(qualifier->pqualid);
            rc = label.text() ? out.addEmpty(label.text()) : TQ_RTN_MEMORY_ALLOCATE_FAIL;
            break;
        }
        }
    }
    return rc;
}

}  // namespace tq

extern "C" int tqxCryptGetPolicyQualifyInfo(STACK_OF(POLICYQUALINFO) *qualifiers,
                                            TQXCRYPT_ATTRIBUTES *list) try {
    if (!list) return TQ_RTN_BAD_ARGUMENT;
    *list = {0, nullptr};
    tq::AttrList built;
    int rc = tq::qualifierList(qualifiers, built);
    if (rc == TQ_RTN_OK) built.handOut(list);
    return rc;
}
TQ_CATCH_CODE
