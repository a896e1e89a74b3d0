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

void recordTemplate(const char *function, const CK_ATTRIBUTE *attributes, CK_ULONG count) {
    State::Template t;
    t.function = function;
    for (CK_ULONG i = 0; i < count; ++i) {
        t.types.push_back(attributes[i].type);
        const auto *p = static_cast<const unsigned char *>(attributes[i].pValue);
        t.values.emplace_back(p, p ? p + attributes[i].ulValueLen : p);
    }
    state().templates.push_back(std::move(t));
}

std::vector<unsigned char> State::Template::value(CK_ATTRIBUTE_TYPE type) const {
    for (size_t i = 0; i < types.size(); ++i)
        if (types[i] == type) return values[i];
    return {};
}

const State::Template &lastTemplate(const std::string &function, int back) {
    const std::vector<State::Template> &all = state().templates;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->function == function && back-- == 0) return *it;
    static const State::Template none;
    return none;
}

int calls(const std::string &function) {
    auto it = state().calls.find(function);
    return it == state().calls.end() ? 0 : it->second;
}

}  // namespace shim
