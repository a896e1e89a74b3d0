// The decoded value of one certificate or CRL extension: bytes or a list,
// by the extension's type.
#include <openssl/objects.h>

#include "x509_internal.h"

namespace {

using BlobFill = int (*)(const void *decoded, TQXCRYPT_BLOB *out);
using ListFill = int (*)(const void *decoded, tq::AttrList &out);

int stringBytes(const void *decoded, TQXCRYPT_BLOB *out) {
    // Bit strings, octet strings and integers alike: their content bytes.
    const auto *s = static_cast<const ASN1_STRING *>(decoded);
    return tqxCryptAssignBlob(out, ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
}

// Purposes that carry a bit of the extended-key-usage mask.
constexpr struct {
    int nid;
    uint32_t bit;
} kPurposeBits[] = {
    {NID_server_auth, 0x1}, {NID_client_auth, 0x2}, {NID_email_protect, 0x4},
    {NID_code_sign, 0x8},   {NID_ms_sgc, 0x10},     {NID_ns_sgc, 0x20},
};

int purposeMask(const void *decoded, TQXCRYPT_BLOB *out) {
    const auto *purposes = static_cast<const EXTENDED_KEY_USAGE *>(decoded);
    uint32_t mask = 0;
    for (int i = 0; i < sk_ASN1_OBJECT_num(purposes); ++i) {
        int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(purposes, i));
        for (const auto &p : kPurposeBits)
            if (p.nid == nid) mask |= p.bit;
    }
    uint32_t stored = tqxhtonl(mask);
    return tqxCryptAssignBlob(out, &stored, sizeof stored);
}

int generalNames(const void *decoded, tq::AttrList &out) {
    return tq::generalNameList(static_cast<const GENERAL_NAMES *>(decoded), out);
}

int basicConstraints(const void *decoded, tq::AttrList &out) {
    const auto *bc = static_cast<const BASIC_CONSTRAINTS *>(decoded);
    int rc = out.reserve(bc->pathlen ? 2 : 1);
    // The flag as decoded: a DER true is its content octet, 0xFF.
    uint32_t flag = tqxhtonl(static_cast<uint32_t>(bc->ca));
    if (rc == TQ_RTN_OK) rc = out.addBlob("CA", &flag, sizeof flag);
    if (rc == TQ_RTN_OK && bc->pathlen) rc = out.addString("PATHLEN", bc->pathlen);
    return rc;
}

int policies(const void *decoded, tq::AttrList &out) {
    const auto *policies = static_cast<const CERTIFICATEPOLICIES *>(decoded);
    int count = sk_POLICYINFO_num(policies);
    int rc = out.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; rc == TQ_RTN_OK && i < count; ++i) {
        const POLICYINFO *policy = sk_POLICYINFO_value(policies, i);
        tq::ObjectLabel label(policy->policyid);
        tq::AttrList qualifiers;
        rc = label.text() ? tq::qualifierList(policy->qualifiers, qualifiers) : TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (rc == TQ_RTN_OK) rc = out.addList(label.text(), qualifiers);
    }
    return rc;
}

int authorityKeyId(const void *decoded, tq::AttrList &out) {
    const auto *akid = static_cast<const AUTHORITY_KEYID *>(decoded);
    int rc = out.reserve((akid->keyid ? 1 : 0) + (akid->issuer ? 1 : 0) + (akid->serial ? 1 : 0));
    if (rc == TQ_RTN_OK && akid->keyid) rc = out.addString("keyid", akid->keyid);
    if (rc == TQ_RTN_OK && akid->issuer) {
        tq::AttrList issuer;
        rc = tq::generalNameList(akid->issuer, issuer);
        if (rc == TQ_RTN_OK) rc = out.addList("issuer", issuer);
    }
    if (rc == TQ_RTN_OK && akid->serial) rc = out.addString("serial", akid->serial);
    return rc;
}

int distributionPoints(const void *decoded, tq::AttrList &out) {
    const auto *points = static_cast<const CRL_DIST_POINTS *>(decoded);
    size_t items = 0;
    for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT *point = sk_DIST_POINT_value(points, i);
        items += (point->distpoint ? 1 : 0) + (point->reasons ? 1 : 0) + (point->CRLissuer ? 1 : 0);
    }
    int rc = out.reserve(items);
    for (int i = 0; rc == TQ_RTN_OK && i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT *point = sk_DIST_POINT_value(points, i);
        const DIST_POINT_NAME *name = point->distpoint;
        if (name && name->type == 0) {
            tq::AttrList full;
            rc = tq::generalNameList(name->name.fullname, full);
            if (rc == TQ_RTN_OK) rc = out.addList("fullname", full);
        }
        if (rc == TQ_RTN_OK && point->reasons) rc = out.addText("reasons", tq::kUnsupported);
        if (rc == TQ_RTN_OK && point->CRLissuer) {
            tq::AttrList issuer;
            rc = tq::generalNameList(point->CRLissuer, issuer);
            if (rc == TQ_RTN_OK) rc = out.addList("CRLIssuer", issuer);
        }
        if (rc == TQ_RTN_OK && name && name->type == 1) rc = out.addText("RelativeName", tq::kUnsupported);
    }
    return rc;
}

int accessDescriptions(const void *decoded, tq::AttrList &out) {
    const auto *access = static_cast<const AUTHORITY_INFO_ACCESS *>(decoded);
    int count = sk_ACCESS_DESCRIPTION_num(access);
    int rc = out.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; rc == TQ_RTN_OK && i < count; ++i) {
        const ACCESS_DESCRIPTION *description = sk_ACCESS_DESCRIPTION_value(access, i);
        tq::ObjectLabel label(description->method);
        tq::AttrList location;
        rc = label.text() ? location.reserve(1) : TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (rc == TQ_RTN_OK) rc = tq::addGeneralName(location, description->location);
        if (rc == TQ_RTN_OK) rc = out.addList(label.text(), location);
    }
    return rc;
}

// The decoded forms, by the object number of the extension's method; every
// other method gives 5004.
constexpr struct {
    int nid;
    BlobFill blob;
    ListFill list;
} kValueForms[] = {
    {NID_netscape_cert_type, stringBytes, nullptr},
    {NID_subject_key_identifier, stringBytes, nullptr},
    {NID_key_usage, stringBytes, nullptr},
    {NID_subject_alt_name, nullptr, generalNames},
    {NID_issuer_alt_name, nullptr, generalNames},
    {NID_basic_constraints, nullptr, basicConstraints},
    {NID_crl_number, stringBytes, nullptr},
    {NID_certificate_policies, nullptr, policies},
    {NID_authority_key_identifier, nullptr, authorityKeyId},
    {NID_crl_distribution_points, nullptr, distributionPoints},
    {NID_ext_key_usage, purposeMask, nullptr},
    {NID_info_access, nullptr, accessDescriptions},
};

// The decoded structure, released with its method's item.
class Decoded {
public:
    Decoded(const X509V3_EXT_METHOD *method, void *value) : method_(method), value_(value) {}
    ~Decoded() {
        if (!value_) return;
        if (method_->it)
            ASN1_item_free(static_cast<ASN1_VALUE *>(value_), ASN1_ITEM_ptr(method_->it));
        else if (method_->ext_free)
            method_->ext_free(value_);
    }
    Decoded(const Decoded &) = delete;
    Decoded &operator=(const Decoded &) = delete;
    const void *get() const { return value_; }

private:
    const X509V3_EXT_METHOD *method_;
    void *value_;
};

}  // namespace

extern "C" int tqxCryptGetExtensionValue(X509_EXTENSION *extension, void *value, int *critical) try {
    tq::ErrorQueueScope scope;
    if (!extension || !value) return TQ_RTN_BAD_ARGUMENT;
    const X509V3_EXT_METHOD *method = X509V3_EXT_get(extension);
    if (!method) return TQ_RTN_FAILED;
    Decoded decoded(method, X509V3_EXT_d2i(extension));
    if (!decoded.get()) return TQ_RTN_BAD_FORMAT;
    if (critical) *critical = X509_EXTENSION_get_critical(extension) ? 1 : 0;
    for (const auto &form : kValueForms) {
        if (form.nid != method->ext_nid) continue;
        if (form.blob) return form.blob(decoded.get(), static_cast<TQXCRYPT_BLOB *>(value));
        // Produced whole or not at all.
        auto *list = static_cast<TQXCRYPT_ATTRIBUTES *>(value);
        tq::AttrList built;
        int rc = form.list(decoded.get(), built);
        if (rc == TQ_RTN_OK)
            built.handOut(list);
        else
            *list = {0, nullptr};
        return rc;
    }
    return TQ_RTN_NOT_SUPPORTED;
}
TQ_CATCH_CODE
