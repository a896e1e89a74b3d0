// Result codes of the token layer.
#include "access_internal.h"

extern "C" {

TQ_API int TQXP11_ErrorCode(CK_RV rv) try {
    switch (rv) {
#define TQP11_MAP_CASE(name, value, code) \
    case value:                           \
        return code;
        TQP11_RTN_MAPPED_LIST(TQP11_MAP_CASE)
#undef TQP11_MAP_CASE
#define TQP11_OWN_CASE(name, code) \
    case code:                     \
        return code;
        TQP11_RTN_OWN_LIST(TQP11_OWN_CASE)
#undef TQP11_OWN_CASE
    default:
        return TQP11_RTN_UNKNOW_ERROR;
    }
}
TQ_CATCH_CODE

TQ_API const char *TQXP11_ErrorMessage(int64_t code) try {
    switch (code) {
#define TQP11_MAP_TEXT(name, value, code) \
    case code:                            \
        return #name;
        TQP11_RTN_MAPPED_LIST(TQP11_MAP_TEXT)
#undef TQP11_MAP_TEXT
#define TQP11_OWN_TEXT(name, code) \
    case code:                     \
        return #name;
        TQP11_RTN_OWN_LIST(TQP11_OWN_TEXT)
#undef TQP11_OWN_TEXT
    default:
        return "TQP11_RTN_UNKNOW_ERROR";
    }
}
TQ_CATCH_RETURN("TQP11_RTN_UNKNOW_ERROR")

}  // extern "C"
