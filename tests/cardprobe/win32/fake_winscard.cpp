// A winscard.dll of the tests: every call answers from the script that the
// test program sets, and records what it was given.
#define WINSCARDAPI
#define WINSCARDDATA
#include <windows.h>
#include <winscard.h>

#include <cstring>

#include "fake_winscard.h"

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};
}

namespace {
FakeCardScript script;
FakeCardLog journal;
int nextAnswer;
const SCARDCONTEXT kContext = 0x1234;
const SCARDHANDLE kCard = 0x5678;
}  // namespace

extern "C" {

__declspec(dllexport) void FakeCardConfigure(const FakeCardScript *s) {
    script = *s;
    nextAnswer = 0;
    journal.commandCount = 0;
}

__declspec(dllexport) const FakeCardLog *FakeCardJournal(void) { return &journal; }

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (scope != SCARD_SCOPE_USER) return SCARD_E_INVALID_PARAMETER;
    if (script.establishResult != SCARD_S_SUCCESS) return script.establishResult;
    *context = kContext;
    ++journal.contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
    if (context != kContext) return SCARD_E_INVALID_HANDLE;
    --journal.contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) {
    if (context != kContext || groups) return SCARD_E_INVALID_PARAMETER;
    if (script.listResult != SCARD_S_SUCCESS) return script.listResult;
    if (readers && *length < script.readersLength) return SCARD_E_INSUFFICIENT_BUFFER;
    if (readers) std::memcpy(readers, script.readers, script.readersLength);
    *length = script.readersLength;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active) {
    if (context != kContext || !reader || share != SCARD_SHARE_SHARED ||
        protocols != (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1))
        return SCARD_E_INVALID_PARAMETER;
    if (script.connectResult != SCARD_S_SUCCESS) return script.connectResult;
    *card = kCard;
    *active = script.protocol;
    ++journal.cardsOpen;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR name, LPDWORD nameLength, LPDWORD state, LPDWORD protocol,
                         LPBYTE atr, LPDWORD atrLength) {
    if (card != kCard) return SCARD_E_INVALID_HANDLE;
    if (script.statusResult != SCARD_S_SUCCESS) return script.statusResult;
    const char *reader = script.readers;
    const DWORD readerLength = static_cast<DWORD>(std::strlen(reader) + 1);
    if (*nameLength < readerLength || *atrLength < script.atrLength) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(name, reader, readerLength);
    *nameLength = readerLength;
    std::memcpy(atr, script.atr, script.atrLength);
    *atrLength = script.atrLength;
    *state = script.state;
    *protocol = script.protocol;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST pci, LPCBYTE command, DWORD commandLength,
                          LPSCARD_IO_REQUEST, LPBYTE answer, LPDWORD answerLength) {
    if (card != kCard || journal.commandCount == 8 || commandLength > 300) return SCARD_E_INVALID_PARAMETER;
    const int n = journal.commandCount++;
    std::memcpy(journal.commands[n], command, commandLength);
    journal.commandLengths[n] = commandLength;
    journal.receiveCapacities[n] = *answerLength;
    journal.pcis[n] = pci;
    if (nextAnswer == script.answerCount) return SCARD_E_NOT_TRANSACTED;
    const FakeCardAnswer &a = script.answers[nextAnswer++];
    if (*answerLength < a.length) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(answer, a.bytes, a.length);
    *answerLength = a.length;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    if (card != kCard) return SCARD_E_INVALID_HANDLE;
    --journal.cardsOpen;
    journal.lastDisposition = disposition;
    return SCARD_S_SUCCESS;
}

}  // extern "C"
