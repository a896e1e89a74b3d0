// The PC/SC calls of cardprobe, under one set of names on both platforms.
// Windows has ANSI-suffixed calls, 4-byte DWORD/LONG and a card state that is
// a value; pcsc-lite has no suffix, 8-byte DWORD/LONG on x86-64 and a state
// that is a bit mask. Everything above this header sees only these wrappers.
#pragma once
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <winscard.h>
#else
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#endif

namespace pcsc {

inline LONG establishUserContext(SCARDCONTEXT *context) {
    return SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context);
}
inline LONG releaseContext(SCARDCONTEXT context) { return SCardReleaseContext(context); }

inline LONG listReaders(SCARDCONTEXT context, const char *groups, char *buffer, DWORD *length) {
#ifdef _WIN32
    return SCardListReadersA(context, groups, buffer, length);
#else
    return SCardListReaders(context, groups, buffer, length);
#endif
}

inline LONG connect(SCARDCONTEXT context, const char *reader, SCARDHANDLE *card, DWORD *protocol) {
#ifdef _WIN32
    return SCardConnectA(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card,
                         protocol);
#else
    return SCardConnect(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card,
                        protocol);
#endif
}

inline LONG status(SCARDHANDLE card, char *name, DWORD *nameLength, DWORD *state, DWORD *protocol,
                   uint8_t *atr, DWORD *atrLength) {
#ifdef _WIN32
    return SCardStatusA(card, name, nameLength, state, protocol, atr, atrLength);
#else
    return SCardStatus(card, name, nameLength, state, protocol, atr, atrLength);
#endif
}

inline LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST *pci, const uint8_t *command,
                     DWORD commandLength, uint8_t *answer, DWORD *answerLength) {
    return SCardTransmit(card, pci, command, commandLength, nullptr, answer, answerLength);
}

inline LONG disconnectLeaving(SCARDHANDLE card) { return SCardDisconnect(card, SCARD_LEAVE_CARD); }

inline bool cardAbsent(DWORD state) {
#ifdef _WIN32
    return state == SCARD_ABSENT;
#else
    return (state & SCARD_ABSENT) != 0;
#endif
}

}  // namespace pcsc
