#include <cstring>
#include <memory>

#include "byte_cursor.h"
#include "card_access.h"

namespace {

struct HeapDeleter {
    void operator()(void *p) const { TQSCFree(p); }
};

// A T=0 answer of 61 00 or 6C 00 announces 256 bytes.
size_t announcedLength(uint8_t sw2) { return sw2 == 0 ? 256 : sw2; }

constexpr size_t kMaxShortCommand = 5 + 255 + 1;

// A card's answer: its data and the status word after them.
struct Answer {
    const uint8_t *data = nullptr;
    size_t dataLength = 0;
    uint8_t sw1 = 0, sw2 = 0;
};

bool splitAnswer(const uint8_t *bytes, size_t length, Answer *answer) {
    if (length < 2) return false;
    ByteCursor cursor(bytes, length);
    answer->dataLength = length - 2;
    return cursor.take(answer->dataLength, &answer->data) && cursor.readByte(&answer->sw1) &&
           cursor.readByte(&answer->sw2);
}

}  // namespace

int ConnectChannel(TQSC_CARD_CHANNEL *channel, const char *readerName) {
    DWORD protocol = 0;
    LONG rv = pcsc::connect(channel->context, readerName, &channel->card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        channel->card = 0;
        return TQSC_RTN_TRANSMIT_FAILED;
    }
    char name[kChannelReaderNameCapacity];
    DWORD nameLength = sizeof name;
    uint8_t atr[kChannelAtrCapacity];
    DWORD atrLength = sizeof atr;
    DWORD state = 0;
    rv = pcsc::status(channel->card, name, &nameLength, &state, &protocol, atr, &atrLength);
    if (rv != SCARD_S_SUCCESS || atrLength > sizeof atr) return TQSC_RTN_TRANSMIT_FAILED;
    channel->protocol = static_cast<uint32_t>(protocol);
    std::memcpy(channel->atr, atr, sizeof atr);
    channel->atrLength = static_cast<uint32_t>(atrLength);
    channel->state = static_cast<uint32_t>(state);
    return TQSC_RTN_SUCCESS;
}

void CloseChannel(TQSC_CARD_CHANNEL *channel) {
    if (channel->card) pcsc::disconnectLeaving(channel->card);
    channel->card = 0;
    CloseContext(channel->context);
    channel->context = 0;
}

size_t BuildApdu(uint8_t *out, size_t capacity, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                 const uint8_t *data, size_t dataLength, uint8_t le) {
    if (dataLength > 255 || capacity < 5 + dataLength + (dataLength ? 1 : 0)) return 0;
    out[0] = cla;
    out[1] = ins;
    out[2] = p1;
    out[3] = p2;
    if (dataLength < 1) {
        out[4] = le;
        return 4;
    }
    out[4] = static_cast<uint8_t>(dataLength);
    std::memcpy(out + 5, data, dataLength);
    out[5 + dataLength] = le;
    return 5 + dataLength;
}

int TransmitApdu(TQSC_CARD_CHANNEL *channel, const uint8_t *command, size_t commandLength, uint8_t *response,
                 size_t *responseLength) {
    if (!command || commandLength < 4 || commandLength > kMaxShortCommand || !response || !responseLength)
        return TQ_RTN_BAD_ARGUMENT;
    // Room for the largest short answer, whatever the caller's buffer: a 61 00
    // or 6C 00 asks for 256 bytes.
    const size_t capacity = (*responseLength > 256 ? *responseLength : 256) + 2;
    std::unique_ptr<uint8_t, HeapDeleter> buffer(static_cast<uint8_t *>(TQSCMalloc(capacity)));
    if (!buffer) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    uint8_t *answer = buffer.get();
    std::memset(answer, 0, capacity);
    DWORD received = static_cast<DWORD>(capacity);

    if (channel->protocol == SCARD_PROTOCOL_T1) {
        if (pcsc::transmit(channel->card, SCARD_PCI_T1, command, static_cast<DWORD>(commandLength), answer,
                           &received) != SCARD_S_SUCCESS)
            return TQSC_RTN_TRANSMIT_FAILED;
    } else if (channel->protocol == SCARD_PROTOCOL_T0) {
        uint8_t sent[kMaxShortCommand];
        std::memcpy(sent, command, commandLength);
        size_t sentLength = commandLength;
        const size_t lc = commandLength > 4 ? command[4] : 0;
        // T=0 carries no Le after command data.
        if (sentLength != 4 && sentLength != 5 && sentLength != lc + 5 && sentLength == lc + 6) --sentLength;
        if (pcsc::transmit(channel->card, SCARD_PCI_T0, sent, static_cast<DWORD>(sentLength), answer,
                           &received) != SCARD_S_SUCCESS)
            return TQSC_RTN_TRANSMIT_FAILED;
        Answer first;
        if (received <= capacity && splitAnswer(answer, received, &first)) {
            const uint8_t sw1 = first.sw1, sw2 = first.sw2;
            // The command as sent, and room for the Le that a 6C answer adds to it.
            uint8_t followUp[kMaxShortCommand + 1];
            size_t followUpLength = 0;
            size_t followUpReceive = 0;
            if (sw1 == 0x61) {
                const uint8_t getResponse[5] = {0x00, 0xC0, 0x00, 0x00, sw2};
                std::memcpy(followUp, getResponse, sizeof getResponse);
                followUpLength = sizeof getResponse;
                followUpReceive = announcedLength(sw2) + 4;
            } else if (sw1 == 0x6C) {
                // The same command again, asking for exactly the announced length.
                std::memcpy(followUp, sent, sentLength);
                if (sentLength <= 5) {
                    followUp[4] = sw2;
                    followUpLength = 5;
                } else {
                    followUp[sentLength] = sw2;
                    followUpLength = sentLength + 1;
                }
                followUpReceive = announcedLength(sw2) + 2;
            }
            if (followUpLength) {
                std::memset(answer, 0, capacity);
                received = static_cast<DWORD>(followUpReceive < capacity ? followUpReceive : capacity);
                if (pcsc::transmit(channel->card, SCARD_PCI_T0, followUp, static_cast<DWORD>(followUpLength),
                                   answer, &received) != SCARD_S_SUCCESS)
                    return TQSC_RTN_TRANSMIT_FAILED;
            }
        }
    } else {
        // No protocol we can speak: nothing is sent, and an empty status word is unknown.
        return MapStatusWord(0x00, 0x00);
    }

    // An answer without a whole status word is a failed exchange.
    Answer last;
    if (received > capacity || !splitAnswer(answer, received, &last)) return TQSC_RTN_TRANSMIT_FAILED;
    const int result = MapStatusWord(last.sw1, last.sw2);
    if (result != TQSC_RTN_SUCCESS) return result;
    if (last.dataLength > *responseLength) return TQ_RTN_BUFFER_TOO_SMALL;
    std::memcpy(response, last.data, last.dataLength);
    *responseLength = last.dataLength;
    return TQSC_RTN_SUCCESS;
}

int SelectByAid(TQSC_CARD_CHANNEL *channel, const uint8_t *aid, size_t aidLength) {
    uint8_t command[kSelectBufferSize] = {0};
    const size_t length = BuildApdu(command, sizeof command, 0x00, 0xA4, 0x04, 0x00, aid, aidLength, 0x00);
    if (length == 0) return TQ_RTN_BUFFER_TOO_SMALL;
    uint8_t response[kSelectBufferSize] = {0};
    size_t responseLength = sizeof response;
    return TransmitApdu(channel, command, length, response, &responseLength);
}
