// Extension values built from the caller's inputs, encoded through the
// library's item for each extension type.
#include "x509_internal.h"

namespace {

// A blob given as input: a length with no bytes is no input.
int blobBytes(const void *value, const TQXCRYPT_BLOB **blob) {
    *blob = static_cast<const TQXCRYPT_BLOB *>(value);
    if (!*blob || ((*blob)->length > 0 && !(*blob)->data) || !tq::fitsInt((*blob)->length))
        return TQ_RTN_BAD_ARGUMENT;
    return TQ_RTN_OK;
}

// The DER of a value structure through the item of its extension type.
struct Encoded {
    tq::OsslBytes der;
    int length = 0;
};

template <class T>
int encode(const X509V3_EXT_METHOD *method, T *structure, Encoded &out) {
    unsigned char *der = nullptr;
    int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(structure), &der, ASN1_ITEM_ptr(method->it));
    if (n < 1) return TQ_RTN_FAILED;
    out.der.reset(der);
    out.length = n;
    return TQ_RTN_OK;
}

// Named bits: trailing zero bytes and bits go unencoded, as DER wants.
int bitString(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    const TQXCRYPT_BLOB *blob = nullptr;
    int rc = blobBytes(value, &blob);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1BitStringPtr bits(ASN1_BIT_STRING_new());
    if (!bits || ASN1_BIT_STRING_set(bits.get(), blob->data, static_cast<int>(blob->length)) != 1)
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    bits->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    return encode(method, bits.get(), out);
}

int octetString(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    const TQXCRYPT_BLOB *blob = nullptr;
    int rc = blobBytes(value, &blob);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1OctetStringPtr octets(ASN1_OCTET_STRING_new());
    if (!octets || ASN1_OCTET_STRING_set(octets.get(), blob->data, static_cast<int>(blob->length)) != 1)
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    return encode(method, octets.get(), out);
}

// A padded INTEGER is not DER: leading zero bytes go, one stays.
int crlNumber(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    const TQXCRYPT_BLOB *blob = nullptr;
    int rc = blobBytes(value, &blob);
    if (rc != TQ_RTN_OK) return rc;
    if (blob->length == 0) return TQ_RTN_BAD_ARGUMENT;
    tq::Asn1IntegerPtr number(ASN1_INTEGER_new());
    if (!number) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    rc = setASN1Integer(number.get(), blob->data, static_cast<int>(blob->length), 1);
    if (rc != TQ_RTN_OK) return rc;
    return encode(method, number.get(), out);
}

int generalNames(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    tq::GeneralNamesPtr names(tqxCrypt_GetGeneralName(static_cast<const char *>(value)));
    if (!names) return tq::unreadText();
    return encode(method, names.get(), out);
}

int basicConstraints(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    tq::ConfValueStack list(X509V3_parse_list(static_cast<const char *>(value)));
    if (!list || sk_CONF_VALUE_num(list.get()) == 0 || !method->v2i) return TQ_RTN_BAD_FORMAT;
    auto *made = static_cast<BASIC_CONSTRAINTS *>(method->v2i(method, nullptr, list.get()));
    if (!made) return TQ_RTN_BAD_FORMAT;
    tq::BasicConstraintsPtr owner(made);
    return encode(method, made, out);
}

int authorityKeyId(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    const auto *parts = static_cast<const TQXCRYPT_AUTHORITY_KEY_ID_VALUE *>(value);
    tq::AkidPtr akid(AUTHORITY_KEYID_new());
    if (!akid) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (parts->keyId) {
        const TQXCRYPT_BLOB *blob = nullptr;
        int rc = blobBytes(parts->keyId, &blob);
        if (rc != TQ_RTN_OK) return rc;
        akid->keyid = ASN1_OCTET_STRING_new();
        if (!akid->keyid ||
            ASN1_OCTET_STRING_set(akid->keyid, blob->data, static_cast<int>(blob->length)) != 1)
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    if (parts->issuer) {
        akid->issuer = tqxCrypt_GetGeneralName(parts->issuer);
        if (!akid->issuer) return tq::unreadText();
    }
    if (parts->serial) {
        tq::Asn1IntegerPtr serial;
        int rc = tq::serialFromHex(parts->serial, serial);
        if (rc != TQ_RTN_OK) return rc;
        akid->serial = serial.release();
    }
    return encode(method, akid.get(), out);
}

int distributionPoints(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    tq::GeneralNamesPtr names(tqxCrypt_GetGeneralName(static_cast<const char *>(value)));
    if (!names) return tq::unreadText();
    tq::CrlDistPointsPtr points(CRL_DIST_POINTS_new());
    DIST_POINT *point = DIST_POINT_new();
    if (!points || !point) {
        DIST_POINT_free(point);
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    if (!sk_DIST_POINT_push(points.get(), point)) {
        DIST_POINT_free(point);
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    point->distpoint = DIST_POINT_NAME_new();
    if (!point->distpoint) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    point->distpoint->type = 0;
    point->distpoint->name.fullname = names.release();
    return encode(method, points.get(), out);
}

struct Purpose {
    uint32_t bit;
    int nid;  // 0: the smart-card logon number registered at start-up
};
constexpr Purpose kPurposes[] = {
    {0x1, NID_server_auth},   {0x2, NID_client_auth},
    {0x4, NID_email_protect}, {0x8, NID_code_sign},
    {0x80, NID_time_stamp},   {0x100, NID_ms_code_ind},
    {0x200, NID_ms_code_com}, {0x400, NID_ms_ctl_sign},
    {0x10, NID_ms_sgc},       {0x800, NID_ms_efs},
    {0x20, NID_ns_sgc},       {0x1000, NID_delta_crl},
    {0x2000, NID_crl_reason}, {0x4000, NID_invalidity_date},
    {0x8000, NID_sxnet},      {0x40, 0},
};

int extendedKeyUsage(const X509V3_EXT_METHOD *method, const void *value, Encoded &out) {
    const TQXCRYPT_BLOB *blob = nullptr;
    int rc = blobBytes(value, &blob);
    if (rc != TQ_RTN_OK) return rc;
    // Bytes past the fourth would shift out of the mask: they are ignored.
    uint32_t mask = 0;
    for (size_t i = 0; i < blob->length && i < 4; ++i)
        mask |= static_cast<uint32_t>(blob->data[i]) << (8 * i);
    tq::ObjectStack purposes(sk_ASN1_OBJECT_new_null());
    if (!purposes) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    for (const Purpose &p : kPurposes) {
        if (!(mask & p.bit)) continue;
        ASN1_OBJECT *object = OBJ_nid2obj(p.nid ? p.nid : NID_ms_scard_logon);
        if (!object || !sk_ASN1_OBJECT_push(purposes.get(), object)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    return encode(method, purposes.get(), out);
}

struct Builder {
    int nid;
    int (*build)(const X509V3_EXT_METHOD *, const void *, Encoded &);
};
constexpr Builder kBuilders[] = {
    {NID_netscape_cert_type, bitString},
    {NID_key_usage, bitString},
    {NID_subject_key_identifier, octetString},
    {NID_crl_number, crlNumber},
    {NID_subject_alt_name, generalNames},
    {NID_issuer_alt_name, generalNames},
    {NID_basic_constraints, basicConstraints},
    {NID_authority_key_identifier, authorityKeyId},
    {NID_crl_distribution_points, distributionPoints},
    {NID_ext_key_usage, extendedKeyUsage},
};

}  // namespace

extern "C" X509_EXTENSION *CreateX509Extension(ASN1_OBJECT *type, unsigned char *der, long length,
                                               int critical) try {
    if (!type || length < 0 || !tq::fitsInt(static_cast<uint64_t>(length)) || (length > 0 && !der))
        return nullptr;
    tq::Asn1OctetStringPtr value(ASN1_OCTET_STRING_new());
    if (!value || ASN1_OCTET_STRING_set(value.get(), der, static_cast<int>(length)) != 1) return nullptr;
    return X509_EXTENSION_create_by_OBJ(nullptr, type, critical ? 1 : 0, value.get());
}
TQ_CATCH_EMPTY

namespace tq {

int buildExtension(const char *type, const void *value, int critical, X509ExtensionPtr &out) {
    if (!type) return TQ_RTN_BAD_ARGUMENT;
    Asn1ObjectPtr object(OBJ_txt2obj(type, 0));
    if (!object) object.reset(OBJ_txt2obj(type, 1));
    if (!object) return TQ_RTN_BAD_ARGUMENT;
    int nid = OBJ_obj2nid(object.get());
    if (nid == NID_undef) return TQ_RTN_BAD_ARGUMENT;
    const X509V3_EXT_METHOD *method = X509V3_EXT_get_nid(nid);
    if (!method || !method->it) return TQ_RTN_NOT_SUPPORTED;
    const Builder *builder = nullptr;
    for (const Builder &b : kBuilders)
        if (b.nid == nid) builder = &b;
    if (!builder) return TQ_RTN_NOT_SUPPORTED;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    Encoded der;
    int rc = builder->build(method, value, der);
    if (rc != TQ_RTN_OK) return rc;
    X509ExtensionPtr made(CreateX509Extension(object.get(), der.der.get(), der.length, critical));
    if (!made) return TQ_RTN_FAILED;
    out = std::move(made);
    return TQ_RTN_OK;
}

int buildOidExtension(const char *oid, const char *hexValue, int critical, X509ExtensionPtr &out) {
    if (!oid || !hexValue) return TQ_RTN_BAD_ARGUMENT;
    // Only a dotted identifier, and never registered: a known identifier
    // keeps its name and its decoding.
    Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    if (!object) return TQ_RTN_BAD_ARGUMENT;
    long length = 0;
    OsslBytes bytes(OPENSSL_hexstr2buf(hexValue, &length));
    if (!bytes) return TQ_RTN_FAILED;
    X509ExtensionPtr made(CreateX509Extension(object.get(), bytes.get(), length, critical));
    if (!made) return TQ_RTN_FAILED;
    out = std::move(made);
    return TQ_RTN_OK;
}

}  // namespace tq

namespace {

int findInStack(const STACK_OF(X509_EXTENSION) *list, const ASN1_OBJECT *type, int last) {
    return X509v3_get_ext_by_OBJ(list, type, last);
}
X509_EXTENSION *deleteFromStack(STACK_OF(X509_EXTENSION) *list, int at) {
    return X509v3_delete_ext(list, at);
}
int addToStack(STACK_OF(X509_EXTENSION) *list, X509_EXTENSION *extension, int at) {
    return X509v3_add_ext(&list, extension, at) ? 1 : 0;
}

}  // namespace

extern "C" {

int tqxCryptSetExtension(STACK_OF(X509_EXTENSION) *extensions, const char *type, const void *value,
                         int critical) try {
    if (!extensions) return TQ_RTN_BAD_ARGUMENT;
    tq::X509ExtensionPtr made;
    int rc = tq::buildExtension(type, value, critical, made);
    if (rc != TQ_RTN_OK) return rc;
    return tq::replaceExtension<STACK_OF(X509_EXTENSION), findInStack, deleteFromStack, addToStack>(
        extensions, made);
}
TQ_CATCH_CODE

int tqxCryptSetExtensionByOID(STACK_OF(X509_EXTENSION) *extensions, const char *oid, const char *hexValue,
                              int critical) try {
    if (!extensions) return TQ_RTN_BAD_ARGUMENT;
    tq::X509ExtensionPtr made;
    int rc = tq::buildOidExtension(oid, hexValue, critical, made);
    if (rc != TQ_RTN_OK) return rc;
    // By identifier the extensions accumulate.
    return X509v3_add_ext(&extensions, made.get(), -1) ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}
TQ_CATCH_CODE

}  // extern "C"
