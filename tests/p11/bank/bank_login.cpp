// A bank-login library as a host installs one: its two text values are the
// two halves of the user's PIN, and it logs the given session in on the
// token module the process has loaded.
#include <dlfcn.h>

#include <string>

#include <openssl/crypto.h>
#include <p11-kit/pkcs11.h>

extern "C" __attribute__((visibility("default"), used)) int bankLogin(const char *first, const char *second,
                                                                      int session) {
    if (!first || !second) return static_cast<int>(CKR_ARGUMENTS_BAD);
    void *module = dlopen(TQ_SOFTHSM_MODULE, RTLD_NOW | RTLD_NOLOAD);
    if (!module) return static_cast<int>(CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_RV rv = CKR_FUNCTION_FAILED;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getList && getList(&list) == CKR_OK) {
        std::string pin = std::string(first) + second;
        rv = list->C_Login(static_cast<CK_SESSION_HANDLE>(session), CKU_USER,
                           reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size());
        OPENSSL_cleanse(&pin[0], pin.size());
    }
    dlclose(module);
    return static_cast<int>(rv);
}

// Bank-login libraries export the entry under a name that carries quotes.
__asm__(
    ".globl \"\\\"TQ_EraCOM_BankLogin\\\"\"\n"
    ".type \"\\\"TQ_EraCOM_BankLogin\\\"\", @function\n"
    ".set \"\\\"TQ_EraCOM_BankLogin\\\"\", bankLogin\n");
