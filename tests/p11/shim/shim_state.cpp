#include "shim_state.h"

namespace shim {

State &state() {
    static State s;
    return s;
}

void reset() { state() = State{}; }

CK_RV enter(const char *function) {
    State &s = state();
    ++s.calls[function];
    auto it = s.injections.find(function);
    if (it == s.injections.end()) return CKR_OK;
    Injection &injection = it->second;
    if (injection.skip > 0) {
        --injection.skip;
        return CKR_OK;
    }
    CK_RV rv = injection.rv;
    if (--injection.times <= 0) s.injections.erase(it);
    return rv;
}

int calls(const std::string &function) {
    auto it = state().calls.find(function);
    return it == state().calls.end() ? 0 : it->second;
}

}  // namespace shim
