/* Every public header compiles from plain C; a few calls prove the library links. */
#include <stdio.h>
#include <string.h>

#include "all_headers.h"

int main(void) {
    TQXCRYPT_BLOB blob;
    TQXCRYPT_HANDLE *handle = NULL;
    const unsigned char abc[3] = {'a', 'b', 'c'};
    int rc;

    memset(&blob, 0, sizeof blob);
    rc = TQXCrypt_Encode(abc, sizeof abc, &blob, NULL);
    if (rc != TQ_RTN_OK || blob.length != 5 || memcmp(blob.data, "YWJj\n", 5) != 0) {
        printf("encode failed: %d\n", rc);
        return 1;
    }
    TQXCryptFreeBlob(&blob);
    rc = TQXCrypt_DecodeObject(&handle, TQXCRYPT_KIND_STORE, abc, sizeof abc, 0, NULL);
    if (rc != TQ_RTN_BAD_ARGUMENT || handle != NULL) {
        printf("decode of kind 8 gave %d\n", rc);
        return 1;
    }
    TQXCryptFreeHandle(NULL);
    printf("C headers ok\n");
    return 0;
}
