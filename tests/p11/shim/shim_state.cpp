#include "shim_state.h"

#include <cstring>

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

CK_RV answerAttributes(CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                       const std::function<CK_RV(CK_ATTRIBUTE_PTR, CK_ULONG)> &read) {
    const State &s = state();
    std::vector<CK_ATTRIBUTE> others;
    std::vector<CK_ULONG> where;
    CK_RV own = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE &a = attributes[i];
        auto unavailable = s.unavailable.find(a.type);
        auto substitute = s.substitutes.find(a.type);
        if (unavailable != s.unavailable.end()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (own == CKR_OK) own = unavailable->second;
        } else if (substitute != s.substitutes.end()) {
            const std::vector<unsigned char> &value = substitute->second;
            if (a.pValue && a.ulValueLen < value.size()) {
                a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                if (own == CKR_OK) own = CKR_BUFFER_TOO_SMALL;
                continue;
            }
            if (a.pValue && !value.empty()) std::memcpy(a.pValue, value.data(), value.size());
            a.ulValueLen = value.size();
        } else {
            others.push_back(a);
            where.push_back(i);
        }
    }
    CK_RV rv = others.empty() ? CKR_OK : read(others.data(), others.size());
    for (size_t k = 0; k < others.size(); ++k) attributes[where[k]].ulValueLen = others[k].ulValueLen;
    return rv != CKR_OK ? rv : own;
}

int calls(const std::string &function) {
    auto it = state().calls.find(function);
    return it == state().calls.end() ? 0 : it->second;
}

}  // namespace shim
