#include <cstring>

#include "card_access.h"

void InitCardRecord(TQSC_CARD_RECORD *record) {
    std::memset(record, 0, sizeof *record);
    record->atrLength = kRecordAtrCapacity;
    record->readerNameLength = kRecordReaderNameCapacity;
}

void CloseCardRecord(TQSC_CARD_RECORD *record) {
    // A record whose allocation failed arrives here as null.
    if (!record) return;
    if (record->card) pcsc::disconnectLeaving(record->card);
    if (record->context) pcsc::releaseContext(record->context);
    InitCardRecord(record);
}

static const SCARD_IO_REQUEST *pciForProtocol(uint32_t protocol) {
    switch (protocol) {
    case SCARD_PROTOCOL_T0:
        return SCARD_PCI_T0;
    case SCARD_PROTOCOL_T1:
        return SCARD_PCI_T1;
    case SCARD_PROTOCOL_RAW:
        return SCARD_PCI_RAW;
    }
    return nullptr;
}

int OpenCardRecord(const char *readerName, TQSC_CARD_RECORD **out) {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    auto *record = static_cast<TQSC_CARD_RECORD *>(TQSCMalloc(sizeof(TQSC_CARD_RECORD)));
    *out = record;
    if (!record) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    InitCardRecord(record);

    LONG rv = pcsc::establishUserContext(&record->context);
    if (rv != SCARD_S_SUCCESS) {
        DebugMessage(2, "[%s:%d] SCardEstablishContext fail: %X", __FILE__, __LINE__,
                     static_cast<unsigned>(rv));
        record->context = 0;
        CloseCardRecord(record);
        return TQSC_RTN_CONTEXT_FAILED;
    }

    DWORD protocol = 0;
    rv = pcsc::connect(record->context, readerName, &record->card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        DebugMessage(2, "[%s:%d] SCardConnect fail: %X", __FILE__, __LINE__, static_cast<unsigned>(rv));
        record->card = 0;
        CloseCardRecord(record);
        return TQSC_RTN_CARD_FAILED;
    }

    DWORD nameLength = record->readerNameLength;
    DWORD atrLength = record->atrLength;
    DWORD state = 0;
    rv = pcsc::status(record->card, record->readerName, &nameLength, &state, &protocol, record->atr,
                      &atrLength);
    if (rv != SCARD_S_SUCCESS || atrLength > kRecordAtrCapacity || nameLength > kRecordReaderNameCapacity) {
        DebugMessage(2, "[%s:%d] SCardStatus fail: %X", __FILE__, __LINE__, static_cast<unsigned>(rv));
        CloseCardRecord(record);
        return TQSC_RTN_CARD_FAILED;
    }
    record->readerNameLength = static_cast<uint32_t>(nameLength);
    record->atrLength = static_cast<uint32_t>(atrLength);
    record->state = static_cast<uint32_t>(state);
    record->protocol = static_cast<uint32_t>(protocol);
    if (pcsc::cardAbsent(state)) {
        CloseCardRecord(record);
        return TQSC_RTN_CARD_FAILED;
    }
    record->pci = pciForProtocol(record->protocol);
    return TQSC_RTN_SUCCESS;
}

LONG OpenContext(SCARDCONTEXT *context) { return pcsc::establishUserContext(context); }

LONG CloseContext(SCARDCONTEXT context) { return pcsc::releaseContext(context); }
