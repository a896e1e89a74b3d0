// The national attributes of the subject-directory-attributes extension.
#include <openssl/asn1t.h>
#include <openssl/objects.h>

#include "x509_internal.h"

namespace {

// SEQUENCE OF Attribute: 3.0 no longer unpacks sequences of arbitrary items.
typedef STACK_OF(X509_ATTRIBUTE) TQ_ATTRIBUTE_SEQUENCE;
ASN1_ITEM_TEMPLATE(TQ_ATTRIBUTE_SEQUENCE) = ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SEQUENCE_OF, 0, Attributes,
                                                                  X509_ATTRIBUTE)
    ASN1_ITEM_TEMPLATE_END(TQ_ATTRIBUTE_SEQUENCE)

        struct AttributeSequenceFree {
    void operator()(TQ_ATTRIBUTE_SEQUENCE *s) const {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE *>(s), ASN1_ITEM_rptr(TQ_ATTRIBUTE_SEQUENCE));
    }
};
using AttributeSequence = std::unique_ptr<TQ_ATTRIBUTE_SEQUENCE, AttributeSequenceFree>;

bool isStringType(int type) {
    switch (type) {
    case V_ASN1_OCTET_STRING:
    case V_ASN1_UTF8STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_T61STRING:
    case V_ASN1_VIDEOTEXSTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_GRAPHICSTRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_GENERALSTRING:
    case V_ASN1_UNIVERSALSTRING:
    case V_ASN1_BMPSTRING:
        return true;
    default:
        return false;
    }
}

enum class ValueForm { String, Identifier, Whole };

ValueForm formOf(int nid) {
    if (nid == NID_undef) return ValueForm::Whole;
    if (nid == NID_szTailOfCitizenID || nid == NID_szCardRank || nid == NID_szORGANIZATIONID)
        return ValueForm::String;
    if (nid == NID_szSUBJECTTYPE || nid == NID_szEntityOID) return ValueForm::Identifier;
    return ValueForm::Whole;
}

}  // namespace

extern "C" {

int tqxCryptGetUnKnownOIDExtensionValue(X509_EXTENSION *extension, const char *attribute,
                                        TQXCRYPT_BLOB *value) try {
    tq::ErrorQueueScope scope;
    if (!extension) return TQ_RTN_FAILED;
    if (!attribute || !value) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    tq::Asn1ObjectPtr type(OBJ_txt2obj(attribute, 0));
    if (!type) return TQ_RTN_FAILED;
    const ASN1_OCTET_STRING *der = X509_EXTENSION_get_data(extension);
    const unsigned char *p = ASN1_STRING_get0_data(der);
    AttributeSequence attributes(reinterpret_cast<TQ_ATTRIBUTE_SEQUENCE *>(
        ASN1_item_d2i(nullptr, &p, ASN1_STRING_length(der), ASN1_ITEM_rptr(TQ_ATTRIBUTE_SEQUENCE))));
    if (!attributes) return TQ_RTN_FAILED;
    int at = X509at_get_attr_by_OBJ(attributes.get(), type.get(), -1);
    if (at < 0) return TQ_RTN_NOT_PRESENT;
    X509_ATTRIBUTE *found = X509at_get_attr(attributes.get(), at);
    ValueForm form = formOf(OBJ_obj2nid(type.get()));
    if (form == ValueForm::Whole)
        return tqxCryptAssignBlob(value, ASN1_STRING_get0_data(der), ASN1_STRING_length(der));
    // The first value must be of the type the attribute is read as.
    ASN1_TYPE *first = X509_ATTRIBUTE_count(found) > 0 ? X509_ATTRIBUTE_get0_type(found, 0) : nullptr;
    if (!first) return TQ_RTN_FAILED;
    if (form == ValueForm::String) {
        if (!isStringType(first->type)) return TQ_RTN_FAILED;
        const ASN1_STRING *s = first->value.asn1_string;
        return tqxCryptAssignBlob(value, ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
    }
    if (first->type != V_ASN1_OBJECT) return TQ_RTN_FAILED;
    char dotted[128] = {0};
    OBJ_obj2txt(dotted, sizeof dotted, first->value.object, 1);
    return tqxCryptAssignBlob(value, dotted, sizeof dotted);
}
TQ_CATCH_CODE

}  // extern "C"
