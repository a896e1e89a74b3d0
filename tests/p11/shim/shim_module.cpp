// A PKCS#11 module for tests: it loads SoftHSM2 and forwards every standard
// call, and adds what only a vendor's module has: the two slot-parameter
// entries after the standard list, the login in several steps, PIN retry
// counters in the session information, record objects of the vendor class,
// and answers that the test injects. Built in three variants: with the
// vendor entries, with only the standard list, and without C_GetFunctionList.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "shim_emulation.h"
#include "shim_state.h"

namespace {

constexpr CK_OBJECT_CLASS kRecordClass = 0x80484341UL;
constexpr CK_OBJECT_HANDLE kRecordHandleBase = 0x7F000000UL;

CK_FUNCTION_LIST_PTR real = nullptr;
void *realLibrary = nullptr;

struct ExtendedList {
    CK_FUNCTION_LIST standard;
    CK_RV (*getSpecificParam)(CK_SLOT_ID, CK_ULONG, CK_ULONG_PTR, CK_BYTE_PTR);
    CK_RV (*setSpecificParam)(CK_SLOT_ID, CK_ULONG, CK_ULONG, CK_BYTE_PTR);
};

// Record searches the shim answers itself, by session.
std::map<CK_SESSION_HANDLE, std::vector<CK_OBJECT_HANDLE>> recordSearches;
// PIN parts of logins in several steps, by session.
struct PendingLogin {
    std::string pin;
    CK_ULONG remaining = 0;
};
std::map<CK_SESSION_HANDLE, PendingLogin> pendingLogins;

const CK_ATTRIBUTE *findAttribute(CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type) {
    for (CK_ULONG i = 0; i < count; ++i)
        if (attributes[i].type == type) return &attributes[i];
    return nullptr;
}

std::string recordName(CK_OBJECT_HANDLE handle) {
    CK_OBJECT_HANDLE index = handle - kRecordHandleBase;
    auto it = shim::state().records.begin();
    for (CK_OBJECT_HANDLE i = 0; i < index && it != shim::state().records.end(); ++i) ++it;
    return it == shim::state().records.end() ? std::string() : it->first;
}

bool isRecordHandle(CK_OBJECT_HANDLE handle) {
    return handle >= kRecordHandleBase && handle < kRecordHandleBase + shim::state().records.size();
}

// A record object holds its class, the token and private flags, its name
// as label and its value; false for any other attribute.
bool recordAttribute(const std::string &name, CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &out) {
    const auto *cls = reinterpret_cast<const unsigned char *>(&kRecordClass);
    switch (type) {
    case CKA_CLASS:
        out.assign(cls, cls + sizeof kRecordClass);
        return true;
    case CKA_TOKEN:
        out = {CK_TRUE};
        return true;
    case CKA_PRIVATE:
        out = {CK_FALSE};
        return true;
    case CKA_LABEL:
        out.assign(name.begin(), name.end());
        return true;
    case CKA_VALUE:
        out = shim::state().records[name];
        return true;
    default:
        return false;
    }
}

bool recordMatches(const std::string &name, const CK_ATTRIBUTE *search, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const auto *wanted = static_cast<const unsigned char *>(search[i].pValue);
        std::vector<unsigned char> held;
        if (!recordAttribute(name, search[i].type, held) ||
            held != std::vector<unsigned char>(wanted, wanted ? wanted + search[i].ulValueLen : wanted))
            return false;
    }
    return true;
}

#define SHIM_ENTER(name) \
    if (CK_RV injected = shim::enter(#name)) return injected;

CK_RV shimInitialize(CK_VOID_PTR args) {
    SHIM_ENTER(C_Initialize)
    shim::State &s = shim::state();
    s.initArgsGiven = args != nullptr;
    s.initArgs = static_cast<const CK_C_INITIALIZE_ARGS *>(args);
    if (args) s.initArgsCopy = *s.initArgs;
    return real->C_Initialize(args);
}

// The module finalises first and then answers what the test injected.
CK_RV shimFinalize(CK_VOID_PTR reserved) {
    recordSearches.clear();
    pendingLogins.clear();
    shim::resetEmulation();
    CK_RV rv = real->C_Finalize(reserved);
    if (CK_RV injected = shim::enter("C_Finalize")) return injected;
    return rv;
}

CK_RV shimGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count) {
    SHIM_ENTER(C_GetSlotList)
    if (tokenPresent && shim::state().emptyTokenList) {
        *count = 0;
        return CKR_OK;
    }
    CK_RV rv = real->C_GetSlotList(tokenPresent, slots, count);
    if (rv == CKR_OK && slots) *count += shim::state().extraSlots;
    return rv;
}

CK_RV shimGetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info) {
    SHIM_ENTER(C_GetSessionInfo)
    CK_RV rv = real->C_GetSessionInfo(session, info);
    if (rv == CKR_OK && shim::state().setDeviceError) info->ulDeviceError = shim::state().deviceError;
    return rv;
}

// The module's objects with the matching records among them; the shim
// answers the search from then on.
CK_RV searchWithRecords(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR search, CK_ULONG count) {
    CK_RV rv = real->C_FindObjectsInit(session, search, count);
    if (rv != CKR_OK) return rv;
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE batch[64];
    CK_ULONG n = 0;
    while ((rv = real->C_FindObjects(session, batch, 64, &n)) == CKR_OK && n > 0)
        found.insert(found.end(), batch, batch + n);
    real->C_FindObjectsFinal(session);
    if (rv != CKR_OK) return rv;
    shim::State &s = shim::state();
    std::vector<CK_OBJECT_HANDLE> records;
    CK_OBJECT_HANDLE handle = kRecordHandleBase;
    for (const auto &record : s.records) {
        if (recordMatches(record.first, search, count)) records.push_back(handle);
        ++handle;
    }
    found.insert(found.begin() + std::min<size_t>(s.recordsAfter, found.size()), records.begin(),
                 records.end());
    recordSearches[session] = found;
    s.recordSearchOpen = true;
    return CKR_OK;
}

CK_RV shimFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR search, CK_ULONG count) {
    SHIM_ENTER(C_FindObjectsInit)
    shim::State &s = shim::state();
    if (const CK_ATTRIBUTE *label = findAttribute(search, count, CKA_LABEL))
        s.labelLengths.push_back(label->ulValueLen);
    if (const CK_ATTRIBUTE *id = findAttribute(search, count, CKA_ID)) s.idLengths.push_back(id->ulValueLen);
    if (const CK_ATTRIBUTE *keyType = findAttribute(search, count, CKA_KEY_TYPE))
        s.keyTypeLengths.push_back(keyType->ulValueLen);
    const CK_ATTRIBUTE *cls = findAttribute(search, count, CKA_CLASS);
    if (cls && cls->ulValueLen == sizeof(CK_OBJECT_CLASS) &&
        *static_cast<const CK_OBJECT_CLASS *>(cls->pValue) == kRecordClass) {
        const CK_ATTRIBUTE *label = findAttribute(search, count, CKA_LABEL);
        std::vector<CK_OBJECT_HANDLE> found;
        CK_OBJECT_HANDLE handle = kRecordHandleBase;
        for (const auto &record : s.records) {
            if (!label ||
                std::string(static_cast<const char *>(label->pValue), label->ulValueLen) == record.first)
                found.push_back(handle);
            ++handle;
        }
        recordSearches[session] = found;
        s.recordSearchOpen = true;
        return CKR_OK;
    }
    if (!cls && !s.records.empty()) return searchWithRecords(session, search, count);
    return real->C_FindObjectsInit(session, search, count);
}

CK_RV shimFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max,
                      CK_ULONG_PTR found) {
    SHIM_ENTER(C_FindObjects)
    auto it = recordSearches.find(session);
    if (it == recordSearches.end()) {
        CK_RV rv = real->C_FindObjects(session, handles, max, found);
        if (rv == CKR_OK) *found += shim::state().extraFound;
        return rv;
    }
    *found = 0;
    while (*found < max && !it->second.empty()) {
        handles[(*found)++] = it->second.front();
        it->second.erase(it->second.begin());
    }
    return CKR_OK;
}

CK_RV shimFindObjectsFinal(CK_SESSION_HANDLE session) {
    SHIM_ENTER(C_FindObjectsFinal)
    if (recordSearches.erase(session)) {
        shim::state().recordSearchOpen = false;
        return CKR_OK;
    }
    return real->C_FindObjectsFinal(session);
}

CK_RV readRecord(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    const std::string name = recordName(handle);
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE &a = attributes[i];
        std::vector<unsigned char> value;
        if (!recordAttribute(name, a.type, value)) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (!a.pValue) {
            a.ulValueLen = value.size();
        } else if (a.ulValueLen < value.size()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!value.empty()) std::memcpy(a.pValue, value.data(), value.size());
            a.ulValueLen = value.size();
        }
    }
    return rv;
}

CK_RV readAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                     CK_ULONG count) {
    if (isRecordHandle(object)) return readRecord(object, attributes, count);
    CK_RV rv = real->C_GetAttributeValue(session, object, attributes, count);
    shim::State &s = shim::state();
    if (rv == CKR_OK && s.zeroModulusReads > 0) {
        for (CK_ULONG i = 0; i < count; ++i) {
            if (attributes[i].type == CKA_MODULUS && attributes[i].pValue) {
                std::memset(attributes[i].pValue, 0, attributes[i].ulValueLen);
                --s.zeroModulusReads;
            }
        }
    }
    for (CK_ULONG i = 0; rv == CKR_OK && i < count; ++i) {
        CK_ATTRIBUTE &a = attributes[i];
        auto asked = s.queryAnswers.find(a.type);
        if (!a.pValue && asked != s.queryAnswers.end()) {
            a.ulValueLen = asked->second.length;
            if (--asked->second.times <= 0) s.queryAnswers.erase(asked);
        }
        auto overstated = s.overstatedReads.find(a.type);
        if (a.pValue && overstated != s.overstatedReads.end()) a.ulValueLen += overstated->second;
    }
    return rv;
}

CK_RV shimGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                            CK_ULONG count) {
    SHIM_ENTER(C_GetAttributeValue)
    shim::recordTemplate("C_GetAttributeValue", attributes, count);
    return shim::answerAttributes(attributes, count, [&](CK_ATTRIBUTE_PTR some, CK_ULONG n) {
        return readAttributes(session, object, some, n);
    });
}

// Plain forwarders that count calls and take injected answers.
#define SHIM_FORWARD(name, params, args) \
    CK_RV shim##name params {            \
        SHIM_ENTER(C_##name)             \
        return real->C_##name args;      \
    }
SHIM_FORWARD(GetSlotInfo, (CK_SLOT_ID slot, CK_SLOT_INFO_PTR info), (slot, info))
SHIM_FORWARD(GetTokenInfo, (CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info), (slot, info))
SHIM_FORWARD(InitToken, (CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG length, CK_UTF8CHAR_PTR label),
             (slot, pin, length, label))
SHIM_FORWARD(OpenSession,
             (CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
              CK_SESSION_HANDLE_PTR session),
             (slot, flags, application, notify, session))
SHIM_FORWARD(CloseSession, (CK_SESSION_HANDLE session), (session))
SHIM_FORWARD(Login, (CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length),
             (session, user, pin, length))
SHIM_FORWARD(Logout, (CK_SESSION_HANDLE session), (session))
SHIM_FORWARD(InitPIN, (CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG length),
             (session, pin, length))
SHIM_FORWARD(SetPIN,
             (CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
              CK_ULONG newLength),
             (session, oldPin, oldLength, newPin, newLength))
SHIM_FORWARD(CreateObject,
             (CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
              CK_OBJECT_HANDLE_PTR object),
             (session, attributes, count, object))
SHIM_FORWARD(DestroyObject, (CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object), (session, object))
SHIM_FORWARD(SetAttributeValue,
             (CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
              CK_ULONG count),
             (session, object, attributes, count))
SHIM_FORWARD(SignInit, (CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key),
             (session, mechanism, key))
#undef SHIM_FORWARD

// Single-part operations: an injected failure still ends the module's
// operation, as PKCS#11 says a failed call does.
#define SHIM_SINGLE_PART(name)                                                                      \
    CK_RV shim##name(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out, \
                     CK_ULONG_PTR outLength) {                                                      \
        CK_RV injected = shim::enter("C_" #name);                                                   \
        CK_RV rv = real->C_##name(session, in, inLength, out, outLength);                           \
        return injected != CKR_OK ? injected : rv;                                                  \
    }
SHIM_SINGLE_PART(Sign)
SHIM_SINGLE_PART(Encrypt)
SHIM_SINGLE_PART(Decrypt)
#undef SHIM_SINGLE_PART

#ifdef SHIM_VENDOR
// The vendor entries.
CK_RV getSpecificParam(CK_SLOT_ID slot, CK_ULONG parameter, CK_ULONG_PTR length, CK_BYTE_PTR data) {
    SHIM_ENTER(C_GEM_GetSpecificParam)
    shim::State &s = shim::state();
    s.paramLengthOnEntry = *length;
    if (parameter != 5) return CKR_ARGUMENTS_BAD;
    if (*length < 1) return CKR_BUFFER_TOO_SMALL;
    *data = s.pinFlags[slot];
    *length = 1;
    return CKR_OK;
}

CK_RV setSpecificParam(CK_SLOT_ID slot, CK_ULONG parameter, CK_ULONG length, CK_BYTE_PTR data) {
    SHIM_ENTER(C_GEM_SetSpecificParam)
    if (parameter != 5 || length != 1) return CKR_ARGUMENTS_BAD;
    shim::state().pinFlags[slot] = *data;
    return CKR_OK;
}
#endif

void load() {
    if (real) return;
    realLibrary = dlopen(TQ_SOFTHSM_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!realLibrary) return;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(realLibrary, "C_GetFunctionList"));
    if (!getList || getList(&real) != CKR_OK) real = nullptr;
}

__attribute__((destructor)) void unload() {
    if (realLibrary) dlclose(realLibrary);
}

#ifdef SHIM_VENDOR
ExtendedList extendedList;
#endif

CK_RV buildList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (shim::state().failGetFunctionList) return CKR_GENERAL_ERROR;
    load();
    if (!real) return CKR_GENERAL_ERROR;
    CK_FUNCTION_LIST forwarding = *real;
    forwarding.C_Initialize = shimInitialize;
    forwarding.C_Finalize = shimFinalize;
    forwarding.C_GetSlotList = shimGetSlotList;
    forwarding.C_GetSlotInfo = shimGetSlotInfo;
    forwarding.C_GetTokenInfo = shimGetTokenInfo;
    forwarding.C_InitToken = shimInitToken;
    forwarding.C_OpenSession = shimOpenSession;
    forwarding.C_CloseSession = shimCloseSession;
    forwarding.C_GetSessionInfo = shimGetSessionInfo;
    forwarding.C_Login = shimLogin;
    forwarding.C_Logout = shimLogout;
    forwarding.C_InitPIN = shimInitPIN;
    forwarding.C_SetPIN = shimSetPIN;
    forwarding.C_CreateObject = shimCreateObject;
    forwarding.C_DestroyObject = shimDestroyObject;
    forwarding.C_SetAttributeValue = shimSetAttributeValue;
    forwarding.C_FindObjectsInit = shimFindObjectsInit;
    forwarding.C_FindObjects = shimFindObjects;
    forwarding.C_FindObjectsFinal = shimFindObjectsFinal;
    forwarding.C_GetAttributeValue = shimGetAttributeValue;
    forwarding.C_SignInit = shimSignInit;
    forwarding.C_Sign = shimSign;
    forwarding.C_Encrypt = shimEncrypt;
    forwarding.C_Decrypt = shimDecrypt;
    shim::installEmulation(forwarding);
#ifdef SHIM_VENDOR
    extendedList.standard = forwarding;
    extendedList.getSpecificParam = getSpecificParam;
    extendedList.setSpecificParam = setSpecificParam;
    *list = &extendedList.standard;
#else
    // Exactly the standard list, on the heap, so a read past it is caught.
    static std::unique_ptr<CK_FUNCTION_LIST> standardOnly(new CK_FUNCTION_LIST);
    *standardOnly = forwarding;
    *list = standardOnly.get();
#endif
    return CKR_OK;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (CK_RV injected = shim::enter("C_GetFunctionList")) return injected;
    return buildList(list);
}

#ifdef SHIM_VENDOR
__attribute__((visibility("default"))) CK_RV C_GEM_GetSpecificParam(CK_SLOT_ID slot, CK_ULONG parameter,
                                                                    CK_ULONG_PTR length, CK_BYTE_PTR data) {
    return getSpecificParam(slot, parameter, length, data);
}

__attribute__((visibility("default"))) CK_RV C_GEM_SetSpecificParam(CK_SLOT_ID slot, CK_ULONG parameter,
                                                                    CK_ULONG length, CK_BYTE_PTR data) {
    return setSpecificParam(slot, parameter, length, data);
}

__attribute__((visibility("default"))) CK_RV C_LoginBegin(CK_SESSION_HANDLE session, CK_USER_TYPE,
                                                          CK_ULONG_PTR partsRequired, CK_ULONG_PTR second) {
    SHIM_ENTER(C_LoginBegin)
    PendingLogin &pending = pendingLogins[session];
    OPENSSL_cleanse(&pending.pin[0], pending.pin.size());
    pending.pin.clear();
    pending.remaining = shim::state().loginParts;
    *partsRequired = pending.remaining;
    *second = 0;
    return CKR_OK;
}

__attribute__((visibility("default"))) CK_RV C_LoginNext(CK_SESSION_HANDLE session, CK_USER_TYPE,
                                                         CK_UTF8CHAR_PTR part, CK_ULONG length,
                                                         CK_ULONG_PTR partsRequired) {
    SHIM_ENTER(C_LoginNext)
    auto it = pendingLogins.find(session);
    if (it == pendingLogins.end() || it->second.remaining == 0) return CKR_OPERATION_NOT_INITIALIZED;
    it->second.pin.append(reinterpret_cast<const char *>(part), length);
    *partsRequired = --it->second.remaining;
    return CKR_OK;
}

__attribute__((visibility("default"))) CK_RV C_LoginEnd(CK_SESSION_HANDLE session, CK_USER_TYPE user) {
    SHIM_ENTER(C_LoginEnd)
    auto it = pendingLogins.find(session);
    if (it == pendingLogins.end()) return CKR_OPERATION_NOT_INITIALIZED;
    CK_RV rv = it->second.remaining != 0
                   ? CKR_PIN_INCORRECT
                   : real->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(&it->second.pin[0]),
                                   it->second.pin.size());
    OPENSSL_cleanse(&it->second.pin[0], it->second.pin.size());
    pendingLogins.erase(it);
    return rv;
}

__attribute__((visibility("default"))) CK_RV C_Ext_SetUserInfo(CK_SLOT_ID, CK_VOID_PTR, CK_ULONG) {
    return CKR_OK;
}
#endif

}  // extern "C"
