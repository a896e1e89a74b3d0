// Card access: reader listing, card records (ATR path), channels (SELECT path),
// hexadecimal AIDs and APDU exchange.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pcsc.h"
#include "result_codes.h"

constexpr uint32_t kRecordAtrCapacity = 60;
constexpr uint32_t kRecordReaderNameCapacity = 256;
constexpr uint32_t kChannelAtrCapacity = 32;
constexpr uint32_t kChannelReaderNameCapacity = 1024;
constexpr size_t kAidCapacity = 128;
constexpr size_t kSelectBufferSize = 256;

struct TQSC_CARD_RECORD {
    uint32_t protocol;
    uint8_t atr[kRecordAtrCapacity];
    uint32_t atrLength;
    char readerName[kRecordReaderNameCapacity];
    uint32_t readerNameLength;
    uint32_t state;
    SCARDCONTEXT context;
    SCARDHANDLE card;
    const SCARD_IO_REQUEST *pci;
};

struct TQSC_CARD_CHANNEL {
    SCARDCONTEXT context;
    SCARDHANDLE card;
    uint8_t atr[kChannelAtrCapacity];
    uint32_t atrLength;
    uint32_t protocol;
    uint32_t state;
};

void *TQSCMalloc(size_t size);
void TQSCFree(void *pointer);
void DebugMessage(int level, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

int TQSCListReaders(const char *groups, char **list, uint32_t *length);

void InitCardRecord(TQSC_CARD_RECORD *record);
int OpenCardRecord(const char *readerName, TQSC_CARD_RECORD **record);
void CloseCardRecord(TQSC_CARD_RECORD *record);

LONG OpenContext(SCARDCONTEXT *context);
LONG CloseContext(SCARDCONTEXT context);
int ConnectChannel(TQSC_CARD_CHANNEL *channel, const char *readerName);
// Leaves the card as it is and releases the channel's context.
void CloseChannel(TQSC_CARD_CHANNEL *channel);

int ParseHexBytes(const char *text, uint8_t *out, size_t *count);

// Writes CLA INS P1 P2 [Lc data] and Le after them; returns the number of
// bytes to send (Le is never counted), or 0 when the command does not fit.
size_t BuildApdu(uint8_t *out, size_t capacity, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                 const uint8_t *data, size_t dataLength, uint8_t le);
int TransmitApdu(TQSC_CARD_CHANNEL *channel, const uint8_t *command, size_t commandLength, uint8_t *response,
                 size_t *responseLength);
int SelectByAid(TQSC_CARD_CHANNEL *channel, const uint8_t *aid, size_t aidLength);
