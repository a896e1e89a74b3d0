#include "probe.h"

#include <cstdio>
#include <memory>

#include "byte_cursor.h"
#include "card_access.h"

namespace {
struct HeapDeleter {
    void operator()(void *p) const { TQSCFree(p); }
};
struct RecordCloser {
    void operator()(TQSC_CARD_RECORD *record) const {
        CloseCardRecord(record);
        TQSCFree(record);
    }
};
}  // namespace

int ProbeReaderNames(std::vector<std::string> *names) {
    names->clear();
    char *list = nullptr;
    uint32_t length = 0;
    const int rc = TQSCListReaders(nullptr, &list, &length);
    std::unique_ptr<char, HeapDeleter> owner(list);
    if (rc != TQSC_RTN_SUCCESS) return rc;
    ByteCursor cursor(list, length);
    while (!cursor.atEnd()) {
        const uint8_t *start = nullptr;
        const size_t n = cursor.takeUntil('\0', &start);
        if (n == 0) break;  // the empty name ends the list
        names->emplace_back(reinterpret_cast<const char *>(start), n);
    }
    return TQSC_RTN_SUCCESS;
}

int ProbeAtrText(const char *readerName, std::string *text) {
    text->clear();
    TQSC_CARD_RECORD *raw = nullptr;
    const int rc = OpenCardRecord(readerName, &raw);
    std::unique_ptr<TQSC_CARD_RECORD, RecordCloser> record(raw);
    if (rc != TQSC_RTN_SUCCESS) return rc;
    char digits[3];
    for (uint32_t i = 0; i < record->atrLength; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", record->atr[i]);
        text->append(digits, 2);
    }
    return TQSC_RTN_SUCCESS;
}

int ProbeSelectApplet(const char *readerName, const char *aidText) {
    TQSC_CARD_CHANNEL channel{};
    uint8_t aid[kAidCapacity] = {0};
    int result;
    const LONG rv = OpenContext(&channel.context);
    if (rv != SCARD_S_SUCCESS) {
        channel.context = 0;
        result = static_cast<int>(rv);
    } else {
        result = ConnectChannel(&channel, readerName);
        if (result == TQSC_RTN_SUCCESS) {
            size_t aidLength = sizeof aid;
            result = ParseHexBytes(aidText, aid, &aidLength);
            if (result == TQSC_RTN_SUCCESS) result = SelectByAid(&channel, aid, aidLength);
        }
    }
    CloseChannel(&channel);
    return result;
}

std::string CompactVersionText(const char *text) {
    std::string compact;
    for (const char *p = text; p && *p && compact.size() < 127; ++p)
        if (*p != ' ') compact.push_back(*p);
    return compact;
}
