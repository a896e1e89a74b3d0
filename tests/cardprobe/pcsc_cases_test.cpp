// cardprobe's card access against a real PC/SC stack: pcscd with vpcd readers
// and scripted virtual cards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "card_access.h"
#include "pcsc_stack.h"
#include "probe.h"

namespace {

const char *const kT0Reader = "Virtual PCD 00 00";
const char *const kT1Reader = "Virtual PCD 00 01";
constexpr int kT0Slot = 0;
constexpr int kT1Slot = 1;
const char *const kT0Atr = "3B021450";  // T=0 by default
const char *const kT1Atr = "3B800181";  // TD1 offers T=1 only

std::string repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string selectCommand(const std::string &aidHex) {
    char lc[3];
    snprintf(lc, sizeof lc, "%02X", static_cast<unsigned>(aidHex.size() / 2));
    return "00A40400" + std::string(lc) + aidHex;
}

struct SelectCase {
    const char *name;
    bool t0;
    const char *aidText;  // null: no AID string at all
    std::vector<std::pair<std::string, std::string>> rules;
    int expected;
    std::vector<std::string> sent;
};

const std::string kLongAid = repeat("A0", 129);

std::vector<SelectCase> selectCases() {
    const std::string plain = selectCommand("A000000003");
    const std::string more = selectCommand("A00000000401");
    const std::string moreT1 = selectCommand("A00000000402");
    const std::string wrongLe = selectCommand("A00000000403");
    const std::string wrongLeTwice = selectCommand("A00000000404");
    const std::string wrongLe256 = selectCommand("A00000000405");
    const std::string more256 = selectCommand("A00000000406");
    const std::string dotted = selectCommand("A0000000F0");
    const std::string data28 = repeat("5A", 28), data256 = repeat("C3", 256);
    std::vector<SelectCase> cases = {
        {"t0 90 00", true, "A0 00 00 00 03", {{plain, "6F0A9000"}}, 0, {plain}},
        {"t1 90 00", false, "A0:00:00:00:03", {{plain, "6F0A9000"}}, 0, {plain}},
        {"t0 61 1C then one GET RESPONSE",
         true,
         "A0 00 00 00 04 01",
         {{more, "611C"}, {"00C000001C", data28 + "9000"}},
         0,
         {more, "00C000001C"}},
        {"t0 61 00 is 256 bytes",
         true,
         "A0 00 00 00 04 06",
         {{more256, "6100"}, {"00C0000000", data256 + "9000"}},
         0,
         {more256, "00C0000000"}},
        {"t1 61 10 is final",
         false,
         "A0 00 00 00 04 02",
         {{moreT1, "6110"}},
         TQSC_RTN_SW_MORE_DATA,
         {moreT1}},
        {"t0 6C 08 resends the whole command",
         true,
         "A0 00 00 00 04 03",
         {{wrongLe, "6C08"}, {wrongLe + "08", repeat("11", 8) + "9000"}},
         0,
         {wrongLe, wrongLe + "08"}},
        {"t0 6C 08 twice",
         true,
         "A0 00 00 00 04 04",
         {{wrongLeTwice, "6C08"}, {wrongLeTwice + "08", "6C08"}},
         TQSC_RTN_SW_UNKNOWN,
         {wrongLeTwice, wrongLeTwice + "08"}},
        {"t0 6C 00 is 256 bytes",
         true,
         "A0 00 00 00 04 05",
         {{wrongLe256, "6C00"}, {wrongLe256 + "00", data256 + "9000"}},
         0,
         {wrongLe256, wrongLe256 + "00"}},
        {"t1 90 01",
         false,
         "A0 00 00 01 90 01",
         {{selectCommand("A00000019001"), "9001"}},
         TQSC_RTN_SW_UNKNOWN,
         {selectCommand("A00000019001")}},
        {"trailing dot", true, "A0 00 00 00 .", {{dotted, "9000"}}, 0, {dotted}},
        {"bad character", true, "A0G1", {}, TQ_RTN_BAD_ARGUMENT, {}},
        {"missing aid", true, nullptr, {}, TQ_RTN_BAD_ARGUMENT, {}},
        {"aid of 129 bytes", true, kLongAid.c_str(), {}, TQ_RTN_BUFFER_TOO_SMALL, {}},
    };
    // Every status word of the table, answered on T=1 so that nothing follows.
    const std::vector<std::pair<const char *, int>> table = {{"6300", TQSC_RTN_SW_VERIFY_FAILED},
                                                             {"6982", TQSC_RTN_SW_SECURITY_NOT_SATISFIED},
                                                             {"6985", TQSC_RTN_SW_CONDITIONS_NOT_SATISFIED},
                                                             {"6A80", TQSC_RTN_SW_WRONG_DATA},
                                                             {"6A81", TQSC_RTN_SW_FUNCTION_NOT_SUPPORTED},
                                                             {"6A82", TQSC_RTN_SW_NOT_FOUND},
                                                             {"6A86", TQSC_RTN_SW_INCORRECT_P1P2},
                                                             {"6A88", TQSC_RTN_SW_NOT_FOUND},
                                                             {"6BA1", TQSC_RTN_SW_6BA1},
                                                             {"6BB2", TQSC_RTN_SW_6BB2},
                                                             {"6BB3", TQSC_RTN_SW_6BB3},
                                                             {"6BB4", TQSC_RTN_SW_6BB4},
                                                             {"6BB6", TQSC_RTN_SW_6BB6},
                                                             {"6D00", TQSC_RTN_SW_INS_NOT_SUPPORTED},
                                                             {"9C01", TQSC_RTN_SW_9C01},
                                                             {"9C03", TQSC_RTN_SW_9C03},
                                                             {"6F00", TQSC_RTN_SW_UNKNOWN},
                                                             {"6C08", TQSC_RTN_SW_UNKNOWN}};
    // The AID texts live as long as the table: the strings are kept in it.
    static std::vector<std::string> aids;
    if (aids.empty())
        for (const auto &entry : table) aids.push_back(std::string("A0000001") + entry.first);
    for (size_t i = 0; i < table.size(); ++i) {
        const std::string command = selectCommand(aids[i]);
        cases.push_back({table[i].first,
                         false,
                         aids[i].c_str(),
                         {{command, table[i].first}},
                         table[i].second,
                         {command}});
    }
    return cases;
}

// Commands handed to TransmitApdu as they stand, and what reaches the card.
struct TransmitCase {
    const char *name;
    bool t0;
    std::string command;
    std::vector<std::pair<std::string, std::string>> rules;
    int expected;
    size_t dataLength;
    std::vector<std::string> sent;
};

std::vector<TransmitCase> transmitCases() {
    // Lc 10 with far more bytes than that: no command shape T=0 knows.
    const std::string odd =
        "80CA0000"
        "10" +
        repeat("77", 256);
    return {
        {"t0 drops a trailing Le",
         true,
         "80CA000002AABB10",
         {{"80CA000002AABB", "01029000"}},
         0,
         2,
         {"80CA000002AABB"}},
        {"t1 keeps a trailing Le",
         false,
         "80CA000002AABB10",
         {{"80CA000002AABB10", "0102039000"}},
         0,
         3,
         {"80CA000002AABB10"}},
        {"t0 6C after the longest command",
         true,
         odd,
         {{odd, "6C08"}, {odd + "08", "9000"}},
         0,
         0,
         {odd, odd + "08"}},
    };
}

std::vector<uint8_t> bytesOf(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// One stack a suite: pcscd with vpcd's two readers or none, with the scripted
// cards in them or empty. Where a package is missing, the cases skip.
template <bool Readers, bool Cards>
class StackSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        missing_ = MissingPcscPackage();
        if (!missing_.empty()) return;
        const char *suite = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
        stack_ = new PcscStack(std::string(CARDPROBE_TEST_WORK_DIR) + "/" + suite);
        problem_ = stack_->startDaemon(Readers);
        if (!Cards) return;
        PcscStack::Card t0{kT0Atr, {}}, t1{kT1Atr, {}};
        for (const auto &c : selectCases())
            for (const auto &rule : c.rules) (c.t0 ? t0 : t1).rules.push_back(rule);
        for (const auto &c : transmitCases())
            for (const auto &rule : c.rules) (c.t0 ? t0 : t1).rules.push_back(rule);
        if (problem_.empty()) problem_ = stack_->insertCard(t0, kT0Slot);
        if (problem_.empty()) problem_ = stack_->insertCard(t1, kT1Slot);
    }
    static void TearDownTestSuite() {
        // The logs of a failed suite stay.
        if (stack_ && ::testing::UnitTest::GetInstance()->current_test_suite()->Failed()) stack_->keepFiles();
        delete stack_;
        stack_ = nullptr;
        problem_.clear();
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << missing_;
        ASSERT_EQ(problem_, "");
    }
    static PcscStack *stack_;
    static std::string missing_, problem_;
};
template <bool Readers, bool Cards>
PcscStack *StackSuite<Readers, Cards>::stack_ = nullptr;
template <bool Readers, bool Cards>
std::string StackSuite<Readers, Cards>::missing_;
template <bool Readers, bool Cards>
std::string StackSuite<Readers, Cards>::problem_;

using CardprobeCards = StackSuite<true, true>;

TEST_F(CardprobeCards, ListsEveryReaderWithoutTrailingNul) {
    std::vector<std::string> names;
    ASSERT_EQ(ProbeReaderNames(&names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{kT0Reader, kT1Reader}));
    char *list = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(TQSCListReaders(nullptr, &list, &length), 0);
    std::unique_ptr<char, void (*)(void *)> owner(list, TQSCFree);
    ASSERT_GT(length, 1u);
    EXPECT_EQ(list[length - 1], '\0');
    EXPECT_EQ(list[length - 2], '\0');
    EXPECT_EQ(TQSCListReaders(nullptr, nullptr, &length), TQ_RTN_BAD_ARGUMENT);
}

TEST_F(CardprobeCards, AtrText) {
    const struct {
        const char *reader;
        int code;
        const char *text;
    } cases[] = {{kT0Reader, 0, kT0Atr},
                 {kT1Reader, 0, kT1Atr},
                 {"No Such Reader", TQSC_RTN_CARD_FAILED, ""},
                 {nullptr, TQSC_RTN_CARD_FAILED, ""}};
    for (const auto &c : cases) {
        std::string text = "unchanged";
        EXPECT_EQ(ProbeAtrText(c.reader, &text), c.code) << (c.reader ? c.reader : "(null)");
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(CardprobeCards, CardRecordHoldsTheStatus) {
    TQSC_CARD_RECORD *record = nullptr;
    ASSERT_EQ(OpenCardRecord(kT1Reader, &record), 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->protocol, static_cast<uint32_t>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(record->pci, SCARD_PCI_T1);
    EXPECT_EQ(record->atrLength, 4u);
    EXPECT_STREQ(record->readerName, kT1Reader);
    EXPECT_EQ(record->readerNameLength, strlen(kT1Reader) + 1);
    EXPECT_NE(record->state & SCARD_PRESENT, 0u);
    CloseCardRecord(record);
    EXPECT_EQ(record->card, 0);
    EXPECT_EQ(record->context, 0);
    TQSCFree(record);
    EXPECT_EQ(OpenCardRecord(kT0Reader, nullptr), TQ_RTN_BAD_ARGUMENT);
}

TEST_F(CardprobeCards, SelectApplet) {
    for (const auto &c : selectCases()) {
        SCOPED_TRACE(c.name);
        const int slot = c.t0 ? kT0Slot : kT1Slot;
        stack_->clearCommands(slot);
        const int result = ProbeSelectApplet(c.t0 ? kT0Reader : kT1Reader, c.aidText);
        const char *name = TQSCResultName(result);
        EXPECT_EQ(result, c.expected) << (name ? name : "not a result code of ours");
        EXPECT_EQ(stack_->commands(slot), c.sent);
    }
}

TEST_F(CardprobeCards, SelectWithoutCardOrReader) {
    const struct {
        const char *reader;
        int code;
    } cases[] = {{"No Such Reader", TQSC_RTN_TRANSMIT_FAILED}, {nullptr, TQSC_RTN_TRANSMIT_FAILED}};
    for (const auto &c : cases)
        EXPECT_EQ(ProbeSelectApplet(c.reader, "A0 00 00 00 03"), c.code) << (c.reader ? c.reader : "(null)");
}

TEST_F(CardprobeCards, TransmitKeepsItsResponseData) {
    TQSC_CARD_CHANNEL channel{};
    ASSERT_EQ(OpenContext(&channel.context), SCARD_S_SUCCESS);
    ASSERT_EQ(ConnectChannel(&channel, kT0Reader), 0);
    EXPECT_EQ(channel.protocol, static_cast<uint32_t>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(channel.atrLength, 4u);
    const uint8_t more[] = {0x00, 0xA4, 0x04, 0x00, 0x06, 0xA0, 0x00, 0x00, 0x00, 0x04, 0x01};
    uint8_t response[256];
    size_t length = sizeof response;
    ASSERT_EQ(TransmitApdu(&channel, more, sizeof more, response, &length), 0);
    ASSERT_EQ(length, 28u);
    EXPECT_EQ(response[0], 0x5A);
    EXPECT_EQ(response[27], 0x5A);
    // A buffer too small for the answer's data is refused, not overrun.
    uint8_t small[8];
    length = sizeof small;
    EXPECT_EQ(TransmitApdu(&channel, more, sizeof more, small, &length), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, sizeof small);
    CloseChannel(&channel);
}

TEST_F(CardprobeCards, TransmitAsGiven) {
    for (const auto &c : transmitCases()) {
        SCOPED_TRACE(c.name);
        const int slot = c.t0 ? kT0Slot : kT1Slot;
        TQSC_CARD_CHANNEL channel{};
        ASSERT_EQ(OpenContext(&channel.context), SCARD_S_SUCCESS);
        ASSERT_EQ(ConnectChannel(&channel, c.t0 ? kT0Reader : kT1Reader), 0);
        stack_->clearCommands(slot);
        const std::vector<uint8_t> command = bytesOf(c.command);
        uint8_t response[256];
        size_t length = sizeof response;
        EXPECT_EQ(TransmitApdu(&channel, command.data(), command.size(), response, &length), c.expected);
        EXPECT_EQ(length, c.dataLength);
        EXPECT_EQ(stack_->commands(slot), c.sent);
        CloseChannel(&channel);
    }
}

// Runs the test class in a JVM that loads the Linux build of the natives;
// its printed lines, or the exit status when it failed.
std::vector<std::string> runJvm(const std::string &workDir, const char *classes,
                                const std::vector<std::string> &calls) {
    // -Xcheck:jni: the JVM reports every misuse of JNI by the natives.
    std::vector<std::string> argv = {CARDPROBE_JAVA,
                                     "-Xshare:off",
                                     "-Xcheck:jni",
                                     "-cp",
                                     classes,
                                     "com.quelmara.smartcard.SCUtils",
                                     CARDPROBE_NATIVE_LIBRARY};
    argv.insert(argv.end(), calls.begin(), calls.end());
    std::vector<std::string> env;
    if (*CARDPROBE_JVM_PRELOAD) {
        // The sanitizer runtime must come first; the JVM's own signal use and
        // its never-freed allocations are no findings of ours.
        env.push_back(std::string("LD_PRELOAD=") + CARDPROBE_JVM_PRELOAD);
        env.push_back("ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=0:handle_segv=0");
    }
    const std::string out = workDir + "/jvm-" + std::to_string(getpid()) + ".out";
    unlink(out.c_str());
    ChildProcess jvm;
    if (!jvm.start(argv, out, env)) return {"java could not be started"};
    const int status = jvm.wait();
    std::vector<std::string> lines;
    {
        std::ifstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    unlink(out.c_str());
    if (status != 0) lines.push_back("exit status " + std::to_string(status));
    return lines;
}

using CardprobeNoReader = StackSuite<false, false>;
using CardprobeEmptyReader = StackSuite<true, false>;

TEST_F(CardprobeEmptyReader, NoCard) {
    std::vector<std::string> names;
    EXPECT_EQ(ProbeReaderNames(&names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{kT0Reader, kT1Reader}));
    std::string text = "unchanged";
    EXPECT_EQ(ProbeAtrText(kT0Reader, &text), TQSC_RTN_CARD_FAILED);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ProbeSelectApplet(kT1Reader, "A0 00 00 00 03"), TQSC_RTN_TRANSMIT_FAILED);
    EXPECT_EQ(runJvm(stack_->dir(), CARDPROBE_JAVA_CLASSES,
                     {"readers", std::string("atr|") + kT0Reader,
                      std::string("select|") + kT1Reader + "|A0 00 00 00 03"}),
              (std::vector<std::string>{"readers [\"Virtual PCD 00 00\",\"Virtual PCD 00 01\"] ErrorCode=0",
                                        "atr null ErrorCode=14", "select 25014 ErrorCode=25014"}));
}

TEST_F(CardprobeNoReader, EmptyListIsSuccess) {
    char *list = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(TQSCListReaders(nullptr, &list, &length), 0);
    std::unique_ptr<char, void (*)(void *)> owner(list, TQSCFree);
    ASSERT_EQ(length, 1u);
    EXPECT_EQ(list[0], '\0');
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(ProbeReaderNames(&names), 0);
    EXPECT_TRUE(names.empty());
    std::string text;
    EXPECT_EQ(ProbeAtrText(kT0Reader, &text), TQSC_RTN_CARD_FAILED);
    EXPECT_EQ(ProbeSelectApplet(kT0Reader, "A0 00 00 00 03"), TQSC_RTN_TRANSMIT_FAILED);
    EXPECT_EQ(runJvm(stack_->dir(), CARDPROBE_JAVA_CLASSES, {"readers"}),
              (std::vector<std::string>{"readers [] ErrorCode=0"}));
}

class CardprobeJvm : public CardprobeCards {};

TEST_F(CardprobeJvm, TheFourNatives) {
    const std::string t0 = kT0Reader, t1 = kT1Reader;
    const std::vector<std::string> lines =
        runJvm(stack_->dir(), CARDPROBE_JAVA_CLASSES,
               {"version", "readers", "atr|" + t0, "atr|" + t1, "atr|No Such Reader", "atr|null",
                "select|" + t0 + "|A0 00 00 00 03", "select|" + t0 + "|A0 00 00 00 04 01",
                "select|" + t0 + "|A0 00 00 00 04 03", "select|" + t1 + "|A0 00 00 00 04 02",
                "select|" + t1 + "|A0:00:00:01:6A:82", "select|" + t0 + "|A0G1", "select|" + t0 + "|null",
                "select|" + t0 + "|" + kLongAid, "select|No Such Reader|A0 00 00 00 03"});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "version \"1,1,11,516\" ErrorCode=-1",
                         "readers [\"Virtual PCD 00 00\",\"Virtual PCD 00 01\"] ErrorCode=0",
                         "atr \"3B021450\" ErrorCode=0",
                         "atr \"3B800181\" ErrorCode=0",
                         "atr null ErrorCode=14",
                         "atr null ErrorCode=14",
                         "select 0 ErrorCode=0",
                         "select 0 ErrorCode=0",
                         "select 0 ErrorCode=0",
                         "select 25023 ErrorCode=25023",
                         "select 25022 ErrorCode=25022",
                         "select 5005 ErrorCode=5005",
                         "select 5005 ErrorCode=5005",
                         "select 5003 ErrorCode=5003",
                         "select 25014 ErrorCode=25014",
                     }));
    // SELECT with the AID text sends exactly 00 A4 04 00 05 A0 00 00 00 03 first.
    stack_->clearCommands(kT0Slot);
    runJvm(stack_->dir(), CARDPROBE_JAVA_CLASSES, {"select|" + t0 + "|A0 00 00 00 03"});
    EXPECT_EQ(stack_->commands(kT0Slot), (std::vector<std::string>{"00A4040005A000000003"}));
}

TEST_F(CardprobeJvm, WithoutErrorCodeField) {
    const std::vector<std::string> lines =
        runJvm(stack_->dir(), CARDPROBE_JAVA_CLASSES_NO_FIELD, {kT1Reader, "A0 00 00 00 04 02"});
    EXPECT_EQ(lines, (std::vector<std::string>{"readers 2", "atr 3B800181", "select 25023"}));
}

TEST(CardprobeServiceStopped, ContextFailures) {
    // Our own socket, which no pcscd serves.
    ASSERT_NE(PrivatePcscSocket(), "");
    std::vector<std::string> names;
    EXPECT_EQ(ProbeReaderNames(&names), TQSC_RTN_CONTEXT_FAILED);
    std::string text;
    EXPECT_EQ(ProbeAtrText(kT0Reader, &text), TQSC_RTN_CONTEXT_FAILED);
    // SELECT hands on the PC/SC status itself.
    EXPECT_EQ(ProbeSelectApplet(kT0Reader, "A0 00 00 00 03"), static_cast<int>(SCARD_E_NO_SERVICE));
    const std::string raw = std::to_string(static_cast<int>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(runJvm(CARDPROBE_TEST_WORK_DIR, CARDPROBE_JAVA_CLASSES,
                     {"readers", "atr|Virtual PCD 00 00", "select|Virtual PCD 00 00|A0 00 00 00 03"}),
              (std::vector<std::string>{"readers null ErrorCode=10", "atr null ErrorCode=10",
                                        "select " + raw + " ErrorCode=" + raw}));
}

}  // namespace
