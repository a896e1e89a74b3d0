// General names as attribute lists.
#include <cstdio>

#include "x509_internal.h"

namespace tq {

int addGeneralName(AttrList &list, const GENERAL_NAME *name) {
    int type = 0;
    void *value = GENERAL_NAME_get0_value(name, &type);
    switch (type) {
    case GEN_OTHERNAME:
        return list.addText("othername", kUnsupported);
    case GEN_EMAIL:
        return list.addString("Email", static_cast<ASN1_STRING *>(value));
    case GEN_DNS:
        return list.addString("DNS", static_cast<ASN1_STRING *>(value));
    case GEN_X400:
        return list.addText("X400Name", kUnsupported);
    case GEN_DIRNAME: {
        AttrList entries;
        int rc = nameList(static_cast<const X509_NAME *>(value), entries);
        return rc == TQ_RTN_OK ? list.addList("DirName", entries) : rc;
    }
    case GEN_EDIPARTY:
        return list.addText("EdiPartyName", kUnsupported);
    case GEN_URI:
        return list.addString("URI", static_cast<ASN1_STRING *>(value));
    case GEN_IPADD: {
        const auto *address = static_cast<const ASN1_OCTET_STRING *>(value);
        const unsigned char *p = ASN1_STRING_get0_data(address);
        if (ASN1_STRING_length(address) != 4) return list.addString("IP Address", address);
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
        return list.addText("IP Address", text);
    }
    case GEN_RID: {
        ObjectLabel label(static_cast<const ASN1_OBJECT *>(value), true);
        if (!label.text()) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        return list.addBlob("Registered ID", label.text(), label.size());
    }
    default:
        return TQ_RTN_NOT_SUPPORTED;
    }
}

int generalNameList(const GENERAL_NAMES *names, AttrList &out) {
    int count = names ? sk_GENERAL_NAME_num(names) : 0;
    int rc = out.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; rc == TQ_RTN_OK && i < count; ++i)
        rc = addGeneralName(out, sk_GENERAL_NAME_value(names, i));
    return rc;
}

}  // namespace tq

extern "C" int GetGeneralName(GENERAL_NAMES *names, TQXCRYPT_ATTRIBUTES *list) try {
    if (!list) return TQ_RTN_BAD_ARGUMENT;
    *list = {0, nullptr};
    tq::AttrList built;
    int rc = tq::generalNameList(names, built);
    if (rc == TQ_RTN_OK) built.handOut(list);
    return rc;
}
TQ_CATCH_CODE
