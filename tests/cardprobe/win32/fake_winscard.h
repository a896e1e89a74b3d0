// The scripted PC/SC library that stands in for winscard.dll under wine:
// what the next calls answer, and what they were given.
#pragma once
#include <windows.h>

struct FakeCardAnswer {
    BYTE bytes[300];
    DWORD length;
};

struct FakeCardScript {
    LONG establishResult;
    LONG listResult;
    char readers[512];  // multi-string, readersLength bytes with both NULs
    DWORD readersLength;
    LONG connectResult;
    DWORD protocol;
    LONG statusResult;
    DWORD state;
    BYTE atr[64];
    DWORD atrLength;
    FakeCardAnswer answers[4];  // one per SCardTransmit, in order
    int answerCount;
};

struct FakeCardLog {
    int commandCount;
    BYTE commands[8][300];
    DWORD commandLengths[8];
    DWORD receiveCapacities[8];  // the receive length offered with each command
    const void *pcis[8];
    int contextsOpen;  // established and not yet released
    int cardsOpen;     // connected and not yet disconnected
    DWORD lastDisposition;
};

extern "C" {
typedef void (*FakeCardConfigureFn)(const FakeCardScript *);
typedef const FakeCardLog *(*FakeCardLogFn)(void);
}
