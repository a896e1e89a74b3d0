// Token objects: the search every object operation uses, the readers by
// label and by CKA_ID, the RSA components of a key, and releasing a record.
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <ctime>

#include "access_internal.h"
#include "wiping.h"

// A host may offer its own pause (a Windows-style one); a JVM offers none.
extern "C" void Sleep(unsigned int milliseconds) __attribute__((weak));

namespace tqp11 {

CK_ULONG labelLength(const TQXP11_SESSION *session, const TQXP11_OBJECT *object) {
    CK_ULONG length = strnlen(object->label, TQXP11_LABEL_SIZE - 1);
    return (session->options & TQXP11_OPTION_COUNT_NUL) ? length + 1 : length;
}

Result readAttributes(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle, Attributes &read) {
    return read.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return session->module->C_GetAttributeValue(session->sessionHandle, handle, attributes, count);
    });
}

Result findObjects(TQXP11_SESSION *session, CK_OBJECT_HANDLE (&handles)[kSearchMax], Attributes &search,
                   CK_ULONG *found, CK_ULONG leading) {
    *found = 0;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = search.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return module->C_FindObjectsInit(session->sessionHandle, attributes, std::min(leading, count));
    });
    if (rv != CKR_OK) return rv;
    // Slots the module leaves unwritten hold no stale handle.
    std::fill(std::begin(handles), std::end(handles), CK_OBJECT_HANDLE(0));
    rv = module->C_FindObjects(session->sessionHandle, handles, kSearchMax, found);
    module->C_FindObjectsFinal(session->sessionHandle);
    // A module that claims more than it was asked for is not believed.
    if (*found > kSearchMax) *found = kSearchMax;
    return rv;
}

void addLabelKey(Attributes &list, CK_OBJECT_CLASS cls, bool token, CK_BBOOL isPrivate, const char *label,
                 CK_ULONG labelLength) {
    list.addUlong(CKA_CLASS, cls);
    list.addBool(CKA_TOKEN, token);
    list.addByte(CKA_PRIVATE, isPrivate);
    list.addText(CKA_LABEL, label, labelLength);
}

void addLabelKey(Attributes &list, const TQXP11_SESSION *session, const TQXP11_OBJECT *object,
                 CK_OBJECT_CLASS cls, bool token) {
    addLabelKey(list, cls, token, object->isPrivate, object->label, labelLength(session, object));
}

Result findOne(TQXP11_SESSION *session, Attributes &search, CK_OBJECT_HANDLE *handle) {
    CK_OBJECT_HANDLE handles[kSearchMax];
    CK_ULONG found = 0;
    Result rv = findObjects(session, handles, search, &found);
    if (rv != CKR_OK) return rv;
    if (found == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    if (found > 1) return TQP11_RTN_OBJECT_HAS_PROBLEM;
    *handle = handles[0];
    return CKR_OK;
}

bool keyTypeOfKind(CK_ULONG kind, CK_KEY_TYPE *keyType) {
    switch (kind) {
    case TQXP11_KIND_RSA_PUBLIC:
    case TQXP11_KIND_RSA_PRIVATE:
        *keyType = CKK_RSA;
        return true;
    case TQXP11_KIND_DES:
        *keyType = CKK_DES;
        return true;
    case TQXP11_KIND_DES2:
        *keyType = CKK_DES2;
        return true;
    case TQXP11_KIND_DES3:
        *keyType = CKK_DES3;
        return true;
    case TQXP11_KIND_AES:
        *keyType = CKK_AES;
        return true;
    case TQXP11_KIND_RC4:
        *keyType = CKK_RC4;
        return true;
    default:
        return false;
    }
}

namespace {

void freeBytes(TQXP11_BYTES &bytes) {
    std::free(bytes.data);
    bytes = TQXP11_BYTES{nullptr, 0};
}

// A secret key's value read from the token leaves no copy in freed memory.
void freeSecretBytes(TQXP11_BYTES &bytes) {
    tq::wipe(bytes.data, bytes.length);
    freeBytes(bytes);
}

}  // namespace

void freeValueRecord(CK_ULONG kind, TQXP11_VALUE *record) {
    switch (kind) {
    case TQXP11_KIND_DATA:
        freeBytes(record->data.value);
        break;
    case TQXP11_KIND_CERTIFICATE:
        freeBytes(record->certificate.subject);
        freeBytes(record->certificate.id);
        freeBytes(record->certificate.issuer);
        freeBytes(record->certificate.serialNumber);
        freeBytes(record->certificate.value);
        break;
    case TQXP11_KIND_RSA_PUBLIC:
        freeBytes(record->rsaPublic.id);
        freeBytes(record->rsaPublic.modulus);
        freeBytes(record->rsaPublic.publicExponent);
        break;
    case TQXP11_KIND_RSA_PRIVATE:
        freeBytes(record->rsaPrivate.id);
        freeBytes(record->rsaPrivate.modulus);
        freeBytes(record->rsaPrivate.publicExponent);
        break;
    case TQXP11_KIND_DES:
    case TQXP11_KIND_DES2:
    case TQXP11_KIND_DES3:
    case TQXP11_KIND_AES:
    case TQXP11_KIND_RC4:
        freeBytes(record->secret.id);
        freeBytes(record->secret.iv);
        freeSecretBytes(record->secret.value);
        break;
    default:
        return;
    }
    std::free(record);
}

}  // namespace tqp11

namespace {

using tqp11::Result;

using Member = TQXP11_BYTES *(*)(TQXP11_VALUE *);
struct Field {
    CK_ATTRIBUTE_TYPE type;
    Member member;
};

constexpr size_t kMaxFields = 5;

const Field kDataFields[] = {{CKA_VALUE, [](TQXP11_VALUE *v) { return &v->data.value; }}};
const Field kCertificateFields[] = {
    {CKA_SUBJECT, [](TQXP11_VALUE *v) { return &v->certificate.subject; }},
    {CKA_ID, [](TQXP11_VALUE *v) { return &v->certificate.id; }},
    {CKA_ISSUER, [](TQXP11_VALUE *v) { return &v->certificate.issuer; }},
    {CKA_SERIAL_NUMBER, [](TQXP11_VALUE *v) { return &v->certificate.serialNumber; }},
    {CKA_VALUE, [](TQXP11_VALUE *v) { return &v->certificate.value; }}};
const Field kRsaPublicFields[] = {
    {CKA_ID, [](TQXP11_VALUE *v) { return &v->rsaPublic.id; }},
    {CKA_MODULUS, [](TQXP11_VALUE *v) { return &v->rsaPublic.modulus; }},
    {CKA_PUBLIC_EXPONENT, [](TQXP11_VALUE *v) { return &v->rsaPublic.publicExponent; }}};
const Field kRsaPrivateFields[] = {
    {CKA_ID, [](TQXP11_VALUE *v) { return &v->rsaPrivate.id; }},
    {CKA_MODULUS, [](TQXP11_VALUE *v) { return &v->rsaPrivate.modulus; }},
    {CKA_PUBLIC_EXPONENT, [](TQXP11_VALUE *v) { return &v->rsaPrivate.publicExponent; }}};
const Field kRsaPublicPartFields[] = {
    {CKA_MODULUS, [](TQXP11_VALUE *v) { return &v->rsaPrivate.modulus; }},
    {CKA_PUBLIC_EXPONENT, [](TQXP11_VALUE *v) { return &v->rsaPrivate.publicExponent; }}};
// What certificate and key handles are made of: a certificate's DER, a key's
// n and e.
const Field kCertificateValueFields[] = {{CKA_VALUE, [](TQXP11_VALUE *v) { return &v->certificate.value; }}};
const Field kRsaPublicNumberFields[] = {
    {CKA_MODULUS, [](TQXP11_VALUE *v) { return &v->rsaPublic.modulus; }},
    {CKA_PUBLIC_EXPONENT, [](TQXP11_VALUE *v) { return &v->rsaPublic.publicExponent; }}};
const Field kSecretFields[] = {{CKA_ID, [](TQXP11_VALUE *v) { return &v->secret.id; }},
                               {CKA_VALUE, [](TQXP11_VALUE *v) { return &v->secret.value; }}};

template <size_t N>
constexpr size_t fieldCount(const Field (&)[N]) {
    return N;
}

// A value record under construction: its buffers go if the read fails.
class RecordBuilder {
public:
    RecordBuilder(const Field *fields, size_t n) : fields_(fields) {
        for (size_t i = 0; i < n; ++i) query_.addQuery(fields_[i].type);
    }
    ~RecordBuilder() {
        if (!record_) return;
        // A secret key's value may be in its buffer already.
        for (size_t i = 0; i < query_.size(); ++i) tqp11::freeSecretBytes(*fields_[i].member(record_));
        std::free(record_);
    }
    RecordBuilder(const RecordBuilder &) = delete;
    RecordBuilder &operator=(const RecordBuilder &) = delete;

    tqp11::Attributes &query() { return query_; }

    // Allocates one buffer of the reported length for each field. A length
    // the module could not give, or one no caller's int holds, fails the read.
    Result allocate() {
        for (size_t i = 0; i < query_.size(); ++i)
            if (tqp11::unusableLength(query_[i].ulValueLen)) return CKR_BUFFER_TOO_SMALL;
        record_ = static_cast<TQXP11_VALUE *>(std::calloc(1, sizeof(TQXP11_VALUE)));
        if (!record_) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
        for (size_t i = 0; i < query_.size(); ++i) {
            CK_ULONG length = query_[i].ulValueLen;
            TQXP11_BYTES *bytes = fields_[i].member(record_);
            if (length > 0) {
                bytes->data = static_cast<unsigned char *>(std::calloc(1, length));
                if (!bytes->data) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
            }
            bytes->length = length;
            query_.setBuffer(i, bytes->data, length);
        }
        return CKR_OK;
    }
    // Lengths the module wrote on the second read; one beyond its buffer
    // (or the unavailable mark) means the value did not fit.
    Result settle() {
        for (size_t i = 0; i < query_.size(); ++i) {
            TQXP11_BYTES *bytes = fields_[i].member(record_);
            if (query_[i].ulValueLen > bytes->length) return CKR_BUFFER_TOO_SMALL;
            bytes->length = query_[i].ulValueLen;
        }
        return CKR_OK;
    }
    TQXP11_VALUE *release() {
        TQXP11_VALUE *r = record_;
        record_ = nullptr;
        return r;
    }

private:
    const Field *fields_;
    tqp11::AttributeList<kMaxFields> query_;
    TQXP11_VALUE *record_ = nullptr;
};

// The search of the readers by label.
struct LabelSearch : tqp11::AttributeList<4> {
    LabelSearch(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls) {
        tqp11::addLabelKey(*this, session, object, cls);
    }
};

}  // namespace

Result tqp11::findByLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls) {
    LabelSearch search(session, object, cls);
    return findOne(session, search, &object->handle);
}

Result tqp11::labelFree(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls) {
    LabelSearch search(session, object, cls);
    CK_OBJECT_HANDLE handles[kSearchMax];
    CK_ULONG found = 0;
    Result rv = findObjects(session, handles, search, &found);
    if (rv != CKR_OK) return rv;
    if (found == 1) return TQP11_RTN_OBJECT_EXIST;
    if (found > 1) return TQP11_RTN_OBJECT_HAS_PROBLEM;
    return CKR_OK;
}

namespace {

Result checkAccess(TQXP11_SESSION *session, const TQXP11_OBJECT *object) {
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (object->isPrivate == CK_TRUE && !tqp11::userLoggedIn(session)) return CKR_USER_NOT_LOGGED_IN;
    return CKR_OK;
}

// Allocates the record's buffers, reads into them and hands the record to
// the object.
Result completeRead(TQXP11_SESSION *session, TQXP11_OBJECT *object, RecordBuilder &record) {
    Result rv = record.allocate();
    if (rv == CKR_OK) rv = tqp11::readAttributes(session, object->handle, record.query());
    if (rv == CKR_OK) rv = record.settle();
    if (rv != CKR_OK) return rv;
    object->valueRecord = record.release();
    return CKR_OK;
}

// Learns the lengths of the fields, then reads them into a new value record.
// With `forget`, a read that fails after its lengths were learned clears the
// handle, so the next read searches again.
Result readValues(TQXP11_SESSION *session, TQXP11_OBJECT *object, const Field *fields, size_t n,
                  bool forget = false) {
    object->valueRecord = nullptr;
    RecordBuilder record(fields, n);
    Result rv = tqp11::readAttributes(session, object->handle, record.query());
    if (rv != CKR_OK) return rv;
    rv = completeRead(session, object, record);
    if (rv != CKR_OK && forget) object->handle = 0;
    return rv;
}

Result readByLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls, const Field *fields,
                   size_t n) {
    Result rv = checkAccess(session, object);
    if (rv != CKR_OK) return rv;
    if (object->handle == 0) {
        rv = tqp11::findByLabel(session, object, cls);
        if (rv != CKR_OK) return rv;
    }
    return readValues(session, object, fields, n, true);
}

bool sensitive(Result rv) { return rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_INFORMATION_SENSITIVE; }

// Secret keys: always searched, and a sensitive value leaves only the ID.
Result readSecretKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, bool withValueLength) {
    Result rv = checkAccess(session, object);
    if (rv != CKR_OK) return rv;
    LabelSearch search(session, object, CKO_SECRET_KEY);
    CK_OBJECT_HANDLE found = 0;
    rv = tqp11::findOne(session, search, &found);
    if (rv != CKR_OK) return rv;
    object->handle = found;
    object->valueRecord = nullptr;

    tqp11::AttributeList<3> lengths;
    lengths.addQuery(CKA_ID);
    lengths.addQuery(CKA_VALUE);
    if (withValueLength) lengths.addQuery(CKA_VALUE_LEN);
    rv = tqp11::readAttributes(session, found, lengths);
    if (rv == CKR_OK) {
        RecordBuilder record(kSecretFields, fieldCount(kSecretFields));
        record.query().setBuffer(0, nullptr, lengths[0].ulValueLen);
        record.query().setBuffer(1, nullptr, lengths[1].ulValueLen);
        rv = completeRead(session, object, record);
        if (rv == CKR_OK) return rv;
    }
    if (sensitive(rv)) {
        RecordBuilder idOnly(kSecretFields, 1);
        idOnly.query().setBuffer(0, nullptr, lengths[0].ulValueLen);
        rv = completeRead(session, object, idOnly);
    }
    if (rv != CKR_OK) object->handle = 0;
    return rv;
}

// The search of the readers by CKA_ID.
struct IdSearch : tqp11::AttributeList<5> {
    IdSearch(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls, bool withKeyType) {
        const TQXP11_BYTES &id = object->valueRecord->first;
        // The counted NUL lies in the caller's buffer; no buffer has none.
        CK_ULONG idLength = id.data ? id.length + ((session->options & TQXP11_OPTION_COUNT_NUL) ? 1 : 0) : 0;
        addUlong(CKA_CLASS, cls);
        addBool(CKA_TOKEN, true);
        addByte(CKA_PRIVATE, object->isPrivate);
        if (withKeyType) addUlong(CKA_KEY_TYPE, CKK_RSA);
        addBytes(CKA_ID, id.data, idLength);
    }
};

Result readCertificateById(TQXP11_SESSION *session, TQXP11_OBJECT *object, const Field *fields, size_t n) {
    Result rv = checkAccess(session, object);
    if (rv != CKR_OK) return rv;
    if (!object->valueRecord) return CKR_ARGUMENTS_BAD;
    IdSearch search(session, object, CKO_CERTIFICATE, false);
    rv = tqp11::findOne(session, search, &object->handle);
    if (rv != CKR_OK) return rv;
    return readValues(session, object, fields, n, true);
}

bool allZero(const TQXP11_BYTES &bytes) {
    for (CK_ULONG i = 0; i < bytes.length; ++i)
        if (bytes.data[i] != 0) return false;
    return true;
}

void pauseOneSecond() {
    if (Sleep) {
        Sleep(1000);
        return;
    }
    timespec left{1, 0};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {}
}

Result readRsaPrivateKeyById(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    Result rv = checkAccess(session, object);
    if (rv != CKR_OK) return rv;
    if (!object->valueRecord) return CKR_ARGUMENTS_BAD;
    IdSearch search(session, object, CKO_PRIVATE_KEY, true);
    rv = tqp11::findOne(session, search, &object->handle);
    if (rv != CKR_OK) return rv;
    rv = readValues(session, object, kRsaPublicPartFields, fieldCount(kRsaPublicPartFields), true);
    if (rv != CKR_OK) return rv;
    // Some tokens answer a zero modulus right after a key was stored: give
    // them a second and read once more into the same buffers.
    TQXP11_RSA_PRIVATE_VALUE &key = object->valueRecord->rsaPrivate;
    if (allZero(key.modulus)) {
        pauseOneSecond();
        tqp11::AttributeList<2> again;
        again.addBuffer(CKA_MODULUS, key.modulus.data, key.modulus.length);
        again.addBuffer(CKA_PUBLIC_EXPONENT, key.publicExponent.data, key.publicExponent.length);
        rv = tqp11::readAttributes(session, object->handle, again);
        // An empty buffer only learns a length: what it holds stays as read.
        if (rv == CKR_OK && key.modulus.data && again[0].ulValueLen <= key.modulus.length)
            key.modulus.length = again[0].ulValueLen;
        if (rv == CKR_OK && key.publicExponent.data && again[1].ulValueLen <= key.publicExponent.length)
            key.publicExponent.length = again[1].ulValueLen;
    }
    return rv;
}

Result readObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    switch (object->kind) {
    case TQXP11_KIND_DATA:
        return readByLabel(session, object, CKO_DATA, kDataFields, fieldCount(kDataFields));
    case TQXP11_KIND_CERTIFICATE:
        return readByLabel(session, object, CKO_CERTIFICATE, kCertificateFields,
                           fieldCount(kCertificateFields));
    case TQXP11_KIND_RSA_PUBLIC:
        return readByLabel(session, object, CKO_PUBLIC_KEY, kRsaPublicFields, fieldCount(kRsaPublicFields));
    case TQXP11_KIND_RSA_PRIVATE:
        return tqp11::readRsaPrivateKey(session, object);
    case TQXP11_KIND_DES:
    case TQXP11_KIND_DES2:
    case TQXP11_KIND_DES3:
    case TQXP11_KIND_AES:
        return readSecretKey(session, object, false);
    case TQXP11_KIND_RC4:
        return readSecretKey(session, object, true);
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
}

}  // namespace

Result tqp11::readKindValues(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    switch (object->kind) {
    case TQXP11_KIND_DATA:
        return readValues(session, object, kDataFields, fieldCount(kDataFields));
    case TQXP11_KIND_CERTIFICATE:
        return readValues(session, object, kCertificateFields, fieldCount(kCertificateFields));
    case TQXP11_KIND_RSA_PUBLIC:
        return readValues(session, object, kRsaPublicFields, fieldCount(kRsaPublicFields));
    case TQXP11_KIND_RSA_PRIVATE:
        return readValues(session, object, kRsaPrivateFields, fieldCount(kRsaPrivateFields));
    default:
        return readValues(session, object, kSecretFields, fieldCount(kSecretFields));
    }
}

Result tqp11::readRsaPrivateKey(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    return readByLabel(session, object, CKO_PRIVATE_KEY, kRsaPrivateFields, fieldCount(kRsaPrivateFields));
}

bool tqaccess::classOfKind(CK_ULONG kind, CK_OBJECT_CLASS *cls) {
    switch (kind) {
    case TQXP11_KIND_DATA:
        *cls = CKO_DATA;
        return true;
    case TQXP11_KIND_CERTIFICATE:
        *cls = CKO_CERTIFICATE;
        return true;
    case TQXP11_KIND_RSA_PUBLIC:
        *cls = CKO_PUBLIC_KEY;
        return true;
    case TQXP11_KIND_RSA_PRIVATE:
        *cls = CKO_PRIVATE_KEY;
        return true;
    case TQXP11_KIND_DES:
    case TQXP11_KIND_DES2:
    case TQXP11_KIND_DES3:
    case TQXP11_KIND_AES:
    case TQXP11_KIND_RC4:
        *cls = CKO_SECRET_KEY;
        return true;
    default:
        return false;
    }
}

Result tqaccess::readCertificateValue(TQXP11_SESSION *session, TQXP11_OBJECT *object, bool byId) {
    const size_t n = fieldCount(kCertificateValueFields);
    return byId ? readCertificateById(session, object, kCertificateValueFields, n)
                : readByLabel(session, object, CKO_CERTIFICATE, kCertificateValueFields, n);
}

Result tqaccess::readRsaKeyNumbers(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    switch (object->kind) {
    case TQXP11_KIND_RSA_PRIVATE:
        return readByLabel(session, object, CKO_PRIVATE_KEY, kRsaPublicPartFields,
                           fieldCount(kRsaPublicPartFields));
    case TQXP11_KIND_RSA_PUBLIC:
        return readByLabel(session, object, CKO_PUBLIC_KEY, kRsaPublicNumberFields,
                           fieldCount(kRsaPublicNumberFields));
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
}

namespace {

constexpr size_t kRsaComponents = 7;

Result rsaComponents(TQXP11_SESSION *session, TQXP11_OBJECT *object, unsigned char **out[kRsaComponents],
                     int *outLength[kRsaComponents]) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    for (size_t i = 0; i < kRsaComponents; ++i)
        if (!out[i] || !outLength[i]) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (object->handle == 0) return CKR_KEY_HANDLE_INVALID;
    // The components go out through the arguments; a value record the object
    // holds stays its own (dropping it here would lose it).
    for (size_t i = 0; i < kRsaComponents; ++i) {
        *out[i] = nullptr;
        *outLength[i] = 0;
    }
    static const CK_ATTRIBUTE_TYPE kTypes[kRsaComponents] = {
        CKA_MODULUS,    CKA_PUBLIC_EXPONENT, CKA_PRIME_1,    CKA_PRIME_2,
        CKA_EXPONENT_1, CKA_EXPONENT_2,      CKA_COEFFICIENT};
    tqp11::AttributeList<kRsaComponents> components;
    for (CK_ATTRIBUTE_TYPE type : kTypes) components.addQuery(type);
    Result rv = tqp11::readAttributes(session, object->handle, components);
    if (rv != CKR_OK) return rv;
    // What the module writes before it fails may be key material.
    tq::Wiped<tq::systemFree> buffers[kRsaComponents];
    CK_ULONG sizes[kRsaComponents] = {};
    for (size_t i = 0; i < kRsaComponents; ++i) {
        // The unavailable mark, or a length no int holds, is no length to
        // hand out: the read fails as one that did not fit.
        if (tqp11::unusableLength(components[i].ulValueLen)) return CKR_BUFFER_TOO_SMALL;
        sizes[i] = components[i].ulValueLen;
        if (sizes[i] == 0) continue;
        buffers[i].reset(std::malloc(sizes[i]), sizes[i]);
        if (!buffers[i]) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
        components.setBuffer(i, buffers[i].get(), sizes[i]);
    }
    rv = tqp11::readAttributes(session, object->handle, components);
    for (size_t i = 0; rv == CKR_OK && i < kRsaComponents; ++i)
        if (buffers[i] && components[i].ulValueLen > sizes[i]) rv = CKR_BUFFER_TOO_SMALL;
    if (rv != CKR_OK) return rv;
    for (size_t i = 0; i < kRsaComponents; ++i) {
        if (buffers[i]) *outLength[i] = static_cast<int>(components[i].ulValueLen);
        *out[i] = buffers[i].release();
    }
    return CKR_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_ReadObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    if (!session || !object) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    return TQXP11_ErrorCode(readObject(session, object));
}
TQ_CATCH_CODE

TQ_API int TQXP11_ReadCertificateObjectWithCKAID(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    if (!session || !object) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    return TQXP11_ErrorCode(
        readCertificateById(session, object, kCertificateFields, fieldCount(kCertificateFields)));
}
TQ_CATCH_CODE

TQ_API int TQXP11_ReadRSAPrivateKeyObjectWithCKAID(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    if (!session || !object) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    return TQXP11_ErrorCode(readRsaPrivateKeyById(session, object));
}
TQ_CATCH_CODE

TQ_API int TQXP11_RSAKEY_AttrValue(TQXP11_SESSION *session, TQXP11_OBJECT *object, unsigned char **modulus,
                                   int *modulusLength, unsigned char **publicExponent,
                                   int *publicExponentLength, unsigned char **prime1, int *prime1Length,
                                   unsigned char **prime2, int *prime2Length, unsigned char **exponent1,
                                   int *exponent1Length, unsigned char **exponent2, int *exponent2Length,
                                   unsigned char **coefficient, int *coefficientLength) try {
    unsigned char **out[kRsaComponents] = {modulus,   publicExponent, prime1,     prime2,
                                           exponent1, exponent2,      coefficient};
    int *outLength[kRsaComponents] = {modulusLength,   publicExponentLength, prime1Length,     prime2Length,
                                      exponent1Length, exponent2Length,      coefficientLength};
    return TQXP11_ErrorCode(rsaComponents(session, object, out, outLength));
}
TQ_CATCH_CODE

TQ_API int TQXP11_FreeObject(TQXP11_OBJECT *object) try {
    if (!object) return TQP11_RTN_OK;
    if (object->valueRecord) {
        switch (object->kind) {
        case TQXP11_KIND_DATA:
        case TQXP11_KIND_CERTIFICATE:
        case TQXP11_KIND_RSA_PUBLIC:
        case TQXP11_KIND_RSA_PRIVATE:
        case TQXP11_KIND_DES:
        case TQXP11_KIND_DES2:
        case TQXP11_KIND_DES3:
        case TQXP11_KIND_AES:
        case TQXP11_KIND_RC4:
            tqp11::freeValueRecord(object->kind, object->valueRecord);
            object->valueRecord = nullptr;
            break;
        default:
            break;
        }
    }
    object->handle = 0;
    return TQP11_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"
