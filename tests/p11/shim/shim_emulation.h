// What the shim adds over SoftHSM2 because SoftHSM2 lacks it: RC4 keys with
// CKM_RC4, recovering data with an RSA public key, and unwrapping in the
// padded CBC modes (secret keys, and RSA private keys as PKCS#8).
#pragma once

#include <p11-kit/pkcs11.h>

namespace shim {

// Installs the emulation over the forwarding list; the list's entries that
// were there before serve everything the emulation does not take itself.
void installEmulation(CK_FUNCTION_LIST &list);
void resetEmulation();

}  // namespace shim
