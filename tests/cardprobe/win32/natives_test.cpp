// Loads cardprobe.dll under wine and calls its four natives through a JNI
// function table of our own, with the scripted winscard.dll beside it.
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_winscard.h"
#include "result_codes.h"

namespace {

// ---- a minimal Java side ----
struct FakeClass {
    const char *name;
};
FakeClass stringClass{"java/lang/String"};
FakeClass scutilsClass{"com/quelmara/smartcard/SCUtils"};
int errorCodeFieldToken;

struct FakeObject {
    bool hasErrorCode;
    jint errorCode;
};
struct FakeString {
    std::u16string units;
};
struct FakeArray {
    FakeClass *elementClass;
    std::vector<jobject> elements;
};

std::vector<std::unique_ptr<FakeString>> strings;
std::vector<std::unique_ptr<FakeArray>> arrays;
bool pendingException;
int utfCharsOut;  // GetStringUTFChars not yet released
// Local references that a native made and did not delete; a JVM guarantees
// a native 16 of them.
const int kLocalCapacity = 16;
int localRefs, localRefsPeak;
void newLocalRef() {
    if (++localRefs > localRefsPeak) localRefsPeak = localRefs;
}
// Called right before a native: its arguments are no references of its own.
void openFrame() { localRefs = localRefsPeak = 0; }
// How many more strings the Java side can make; then it is out of memory.
int stringBudget = -1;
bool stringFails() {
    if (stringBudget < 0) return false;
    if (stringBudget-- > 0) return false;
    pendingException = true;  // OutOfMemoryError
    return true;
}

std::u16string fromUtf8(const char *s) {
    std::u16string out;
    for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));  // ASCII in our cases
    return out;
}

jclass JNICALL GetObjectClass(JNIEnv *, jobject) {
    newLocalRef();
    return reinterpret_cast<jclass>(&scutilsClass);
}
jclass JNICALL FindClass(JNIEnv *, const char *name) {
    if (std::strcmp(name, stringClass.name) != 0) return nullptr;
    newLocalRef();
    return reinterpret_cast<jclass>(&stringClass);
}
void JNICALL DeleteLocalRef(JNIEnv *, jobject ref) {
    if (ref) --localRefs;
}
jfieldID currentFieldFor(jobject object, const char *name, const char *sig) {
    auto *o = reinterpret_cast<FakeObject *>(object);
    if (o->hasErrorCode && std::strcmp(name, "ErrorCode") == 0 && std::strcmp(sig, "I") == 0)
        return reinterpret_cast<jfieldID>(&errorCodeFieldToken);
    pendingException = true;  // NoSuchFieldError
    return nullptr;
}
jobject lastObject;  // GetFieldID gets the class only; the natives ask for their own object's
jfieldID JNICALL GetFieldID(JNIEnv *, jclass cls, const char *name, const char *sig) {
    if (cls != reinterpret_cast<jclass>(&scutilsClass)) return nullptr;
    return currentFieldFor(lastObject, name, sig);
}
void JNICALL SetIntField(JNIEnv *, jobject object, jfieldID field, jint value) {
    if (field == reinterpret_cast<jfieldID>(&errorCodeFieldToken))
        reinterpret_cast<FakeObject *>(object)->errorCode = value;
}
jboolean JNICALL ExceptionCheck(JNIEnv *) { return pendingException ? JNI_TRUE : JNI_FALSE; }
void JNICALL ExceptionClear(JNIEnv *) { pendingException = false; }
jstring JNICALL NewString(JNIEnv *, const jchar *units, jsize length) {
    if (stringFails()) return nullptr;
    newLocalRef();
    strings.push_back(std::unique_ptr<FakeString>(new FakeString{
        std::u16string(reinterpret_cast<const char16_t *>(units), static_cast<size_t>(length))}));
    return reinterpret_cast<jstring>(strings.back().get());
}
jstring JNICALL NewStringUTF(JNIEnv *, const char *utf) {
    if (stringFails()) return nullptr;
    newLocalRef();
    strings.push_back(std::unique_ptr<FakeString>(new FakeString{fromUtf8(utf)}));
    return reinterpret_cast<jstring>(strings.back().get());
}
const char *JNICALL GetStringUTFChars(JNIEnv *, jstring s, jboolean *isCopy) {
    const std::u16string &units = reinterpret_cast<FakeString *>(s)->units;
    char *copy = new char[units.size() + 1];
    for (size_t i = 0; i < units.size(); ++i) copy[i] = static_cast<char>(units[i]);
    copy[units.size()] = '\0';
    if (isCopy) *isCopy = JNI_TRUE;
    ++utfCharsOut;
    return copy;
}
void JNICALL ReleaseStringUTFChars(JNIEnv *, jstring, const char *chars) {
    delete[] chars;
    --utfCharsOut;
}
jobjectArray JNICALL NewObjectArray(JNIEnv *, jsize length, jclass cls, jobject init) {
    newLocalRef();
    arrays.push_back(std::unique_ptr<FakeArray>(new FakeArray{
        reinterpret_cast<FakeClass *>(cls), std::vector<jobject>(static_cast<size_t>(length), init)}));
    return reinterpret_cast<jobjectArray>(arrays.back().get());
}
void JNICALL SetObjectArrayElement(JNIEnv *, jobjectArray array, jsize index, jobject value) {
    auto *a = reinterpret_cast<FakeArray *>(array);
    if (index >= 0 && static_cast<size_t>(index) < a->elements.size()) a->elements[index] = value;
}

JNINativeInterface_ table;
JNIEnv_ env;

void buildTable() {
    std::memset(&table, 0, sizeof table);  // anything else the natives call crashes the test
    table.GetObjectClass = GetObjectClass;
    table.FindClass = FindClass;
    table.DeleteLocalRef = DeleteLocalRef;
    table.GetFieldID = GetFieldID;
    table.SetIntField = SetIntField;
    table.ExceptionCheck = ExceptionCheck;
    table.ExceptionClear = ExceptionClear;
    table.NewString = NewString;
    table.NewStringUTF = NewStringUTF;
    table.GetStringUTFChars = GetStringUTFChars;
    table.ReleaseStringUTFChars = ReleaseStringUTFChars;
    table.NewObjectArray = NewObjectArray;
    table.SetObjectArrayElement = SetObjectArrayElement;
    env.functions = &table;
}

std::string narrow(jstring s) {
    if (!s) return "(null)";
    std::string out;
    for (char16_t c : reinterpret_cast<FakeString *>(s)->units) {
        if (c < 0x20 || c > 0x7e) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// ---- the natives ----
typedef jstring(JNICALL *GetNativeVersionFn)(JNIEnv *, jobject);
typedef jobjectArray(JNICALL *ListReadersFn)(JNIEnv *, jobject);
typedef jstring(JNICALL *GetAtrFn)(JNIEnv *, jobject, jstring);
typedef jint(JNICALL *SelectAppletFn)(JNIEnv *, jobject, jstring, jstring);

GetNativeVersionFn getNativeVersion;
ListReadersFn listReaders;
GetAtrFn getAtr;
SelectAppletFn selectApplet;
HMODULE pcscModule;
FakeCardConfigureFn configure;
FakeCardLogFn journal;

template <typename T>
T procAs(HMODULE module, const char *name) {
    return module ? reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)))
                  : nullptr;
}

int passed, failed;
std::string currentCase;

void check(bool ok, const std::string &what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED [%s]: %s\n", currentCase.c_str(), what.c_str());
    }
}
template <typename A, typename B>
void checkEq(const A &got, const B &want, const char *what) {
    check(got == want, std::string(what) + ": got " + std::to_string(got) + ", want " + std::to_string(want));
}
void checkEq(const std::string &got, const std::string &want, const char *what) {
    check(got == want, std::string(what) + ": got \"" + got + "\", want \"" + want + "\"");
}

std::string hex(const BYTE *b, DWORD n) {
    std::string s;
    char d[3];
    for (DWORD i = 0; i < n; ++i) {
        std::snprintf(d, sizeof d, "%02X", b[i]);
        s += d;
    }
    return s;
}

void setBytes(BYTE *out, DWORD *length, const std::string &hexText) {
    *length = 0;
    for (size_t i = 0; i + 1 < hexText.size(); i += 2)
        out[(*length)++] = static_cast<BYTE>(std::stoul(hexText.substr(i, 2), nullptr, 16));
}

FakeCardScript baseScript() {
    FakeCardScript s;
    std::memset(&s, 0, sizeof s);
    const char readers[] = "Reader One\0Reader Two\0";
    std::memcpy(s.readers, readers, sizeof readers);
    s.readersLength = sizeof readers;
    s.protocol = SCARD_PROTOCOL_T0;
    s.state = SCARD_SPECIFIC;
    setBytes(s.atr, &s.atrLength, "3B021450");
    return s;
}

void expectBalanced() {
    checkEq(journal()->contextsOpen, 0, "contexts left open");
    checkEq(journal()->cardsOpen, 0, "cards left connected");
    checkEq(utfCharsOut, 0, "string characters not released");
    check(!pendingException, "an exception is left pending");
    check(localRefsPeak <= kLocalCapacity,
          "more local references at once than JNI guarantees: " + std::to_string(localRefsPeak));
}

void versionCase() {
    currentCase = "GetNativeVersion";
    FakeObject self{true, -1};
    lastObject = reinterpret_cast<jobject>(&self);
    checkEq(narrow(getNativeVersion(&env, lastObject)), std::string("1,1,11,516"), "version");
    checkEq(self.errorCode, -1, "ErrorCode touched");
}

void readerCases() {
    std::vector<std::string> forty;
    for (int i = 1; i <= 40; ++i) forty.push_back("Reader " + std::to_string(10 + i));
    struct Case {
        const char *name;
        LONG establish, list;
        int code;
        std::vector<std::string> names;  // empty with a null array when code != 0
        bool listed;                     // the names make the script's multi-string
    } cases[] = {
        {"two readers", 0, 0, 0, {"Reader One", "Reader Two"}, false},
        {"forty readers", 0, 0, 0, forty, true},
        {"no reader", 0, static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE), 0, {}, false},
        {"no context", static_cast<LONG>(SCARD_E_NO_SERVICE), 0, TQSC_RTN_CONTEXT_FAILED, {}, false},
        {"listing fails", 0, static_cast<LONG>(SCARD_E_NO_SERVICE), TQSC_RTN_LIST_READERS_FAILED, {}, false},
    };
    for (const Case &c : cases) {
        currentCase = std::string("ListReaders: ") + c.name;
        FakeCardScript s = baseScript();
        s.establishResult = c.establish;
        s.listResult = c.list;
        if (c.listed) {
            std::string multi;
            for (const std::string &n : c.names) multi += n + '\0';
            multi += '\0';
            std::memcpy(s.readers, multi.data(), multi.size());
            s.readersLength = static_cast<DWORD>(multi.size());
        }
        configure(&s);
        FakeObject self{true, -1};
        lastObject = reinterpret_cast<jobject>(&self);
        openFrame();
        jobjectArray array = listReaders(&env, lastObject);
        checkEq(self.errorCode, c.code, "ErrorCode");
        if (c.code != 0) {
            check(array == nullptr, "array for a failure");
        } else if (array) {
            auto *a = reinterpret_cast<FakeArray *>(array);
            check(a->elementClass == &stringClass, "element class");
            checkEq(a->elements.size(), c.names.size(), "names");
            for (size_t i = 0; i < a->elements.size() && i < c.names.size(); ++i)
                checkEq(narrow(reinterpret_cast<jstring>(a->elements[i])), c.names[i], "name");
        } else {
            check(false, "no array");
        }
        expectBalanced();
    }
}

void atrCases() {
    const std::string atr60 = "3B" + std::string(118, 'A');  // fills the record's 60 bytes
    struct Case {
        const char *name;
        LONG establish, connect, status;
        DWORD state;
        const char *atr;
        bool nullReader;
        int code;
        const char *text;
    } cases[] = {
        {"ATR text", 0, 0, 0, SCARD_SPECIFIC, "3B021450", false, 0, "3B021450"},
        {"empty ATR", 0, 0, 0, SCARD_SPECIFIC, "", false, 0, ""},
        {"ATR of 60 bytes", 0, 0, 0, SCARD_NEGOTIABLE, atr60.c_str(), false, 0, atr60.c_str()},
        {"absent card", 0, 0, 0, SCARD_ABSENT, "3B021450", false, TQSC_RTN_CARD_FAILED, "(null)"},
        {"no card", 0, static_cast<LONG>(SCARD_E_NO_SMARTCARD), 0, 0, "3B021450", false, TQSC_RTN_CARD_FAILED,
         "(null)"},
        {"status fails", 0, 0, static_cast<LONG>(SCARD_E_READER_UNAVAILABLE), 0, "3B021450", false,
         TQSC_RTN_CARD_FAILED, "(null)"},
        {"no context", static_cast<LONG>(SCARD_E_NO_SERVICE), 0, 0, 0, "3B021450", false,
         TQSC_RTN_CONTEXT_FAILED, "(null)"},
        {"null reader", 0, 0, 0, SCARD_SPECIFIC, "3B021450", true, TQSC_RTN_CARD_FAILED, "(null)"},
    };
    for (const Case &c : cases) {
        currentCase = std::string("GetATR: ") + c.name;
        FakeCardScript s = baseScript();
        s.establishResult = c.establish;
        s.connectResult = c.connect;
        s.statusResult = c.status;
        s.state = c.state;
        setBytes(s.atr, &s.atrLength, c.atr);
        configure(&s);
        FakeObject self{true, -1};
        lastObject = reinterpret_cast<jobject>(&self);
        jstring reader = c.nullReader ? nullptr : NewStringUTF(&env, "Reader One");
        openFrame();
        checkEq(narrow(getAtr(&env, lastObject, reader)), std::string(c.text), "ATR");
        checkEq(self.errorCode, c.code, "ErrorCode");
        if (journal()->commandCount) check(false, "GetATR sent a command");
        expectBalanced();
    }
}

void selectCases() {
    const std::string select = "00A4040005A000000003";
    const std::string data28(56, '5'), data256(512, 'C');
    struct Case {
        const char *name;
        DWORD protocol;
        LONG establish, connect;
        const char *aid;  // null: no AID string
        std::vector<std::string> answers;
        int code;
        std::vector<std::string> sent;
        const char *pci;        // the export of winscard.dll that every command must name
        DWORD followUpReceive;  // receive length offered with the second command, if any
    } cases[] = {
        {"t1 90 00",
         SCARD_PROTOCOL_T1,
         0,
         0,
         "A0 00 00 00 03",
         {"6F009000"},
         0,
         {select},
         "g_rgSCardT1Pci",
         0},
        {"t0 61 1C",
         SCARD_PROTOCOL_T0,
         0,
         0,
         "A0:00:00:00:03",
         {"611C", data28 + "9000"},
         0,
         {select, "00C000001C"},
         "g_rgSCardT0Pci",
         0x1C + 4},
        {"t0 61 00",
         SCARD_PROTOCOL_T0,
         0,
         0,
         "A0 00 00 00 03",
         {"6100", data256 + "9000"},
         0,
         {select, "00C0000000"},
         "g_rgSCardT0Pci",
         258},  // 256 + 4, held to the buffer
        {"t1 61 10",
         SCARD_PROTOCOL_T1,
         0,
         0,
         "A0 00 00 00 03",
         {"6110"},
         TQSC_RTN_SW_MORE_DATA,
         {select},
         "g_rgSCardT1Pci",
         0},
        {"t0 6C 08",
         SCARD_PROTOCOL_T0,
         0,
         0,
         "A0 00 00 00 03",
         {"6C08", "11223344556677889000"},
         0,
         {select, select + "08"},
         "g_rgSCardT0Pci",
         10},
        {"t0 6C 08 twice",
         SCARD_PROTOCOL_T0,
         0,
         0,
         "A0 00 00 00 03",
         {"6C08", "6C08"},
         TQSC_RTN_SW_UNKNOWN,
         {select, select + "08"},
         "g_rgSCardT0Pci",
         10},
        {"t0 6A 82",
         SCARD_PROTOCOL_T0,
         0,
         0,
         "A0 00 00 00 03",
         {"6A82"},
         TQSC_RTN_SW_NOT_FOUND,
         {select},
         "g_rgSCardT0Pci",
         0},
        {"raw protocol", SCARD_PROTOCOL_RAW, 0, 0, "A0 00 00 00 03", {}, TQSC_RTN_SW_UNKNOWN, {}, nullptr, 0},
        {"short answer",
         SCARD_PROTOCOL_T1,
         0,
         0,
         "A0 00 00 00 03",
         {"90"},
         TQSC_RTN_TRANSMIT_FAILED,
         {select},
         "g_rgSCardT1Pci",
         0},
        {"bad AID", SCARD_PROTOCOL_T0, 0, 0, "A0G1", {}, TQ_RTN_BAD_ARGUMENT, {}, nullptr, 0},
        {"missing AID", SCARD_PROTOCOL_T0, 0, 0, nullptr, {}, TQ_RTN_BAD_ARGUMENT, {}, nullptr, 0},
        {"no card",
         SCARD_PROTOCOL_T0,
         0,
         static_cast<LONG>(SCARD_E_NO_SMARTCARD),
         "A0 00 00 00 03",
         {},
         TQSC_RTN_TRANSMIT_FAILED,
         {},
         nullptr,
         0},
        {"no context",
         SCARD_PROTOCOL_T0,
         static_cast<LONG>(SCARD_E_NO_SERVICE),
         0,
         "A0 00 00 00 03",
         {},
         static_cast<int>(SCARD_E_NO_SERVICE),
         {},
         nullptr,
         0},
    };
    for (const Case &c : cases) {
        currentCase = std::string("SelectApplet: ") + c.name;
        FakeCardScript s = baseScript();
        s.protocol = c.protocol;
        s.establishResult = c.establish;
        s.connectResult = c.connect;
        for (const std::string &a : c.answers) {
            FakeCardAnswer &slot = s.answers[s.answerCount++];
            setBytes(slot.bytes, &slot.length, a);
        }
        configure(&s);
        FakeObject self{true, -1};
        lastObject = reinterpret_cast<jobject>(&self);
        jstring reader = NewStringUTF(&env, "Reader One");
        jstring aid = c.aid ? NewStringUTF(&env, c.aid) : nullptr;
        openFrame();
        checkEq(static_cast<int>(selectApplet(&env, lastObject, reader, aid)), c.code, "result");
        checkEq(static_cast<int>(self.errorCode), c.code, "ErrorCode");
        const FakeCardLog *log = journal();
        checkEq(static_cast<size_t>(log->commandCount), c.sent.size(), "commands sent");
        for (int i = 0; i < log->commandCount && static_cast<size_t>(i) < c.sent.size(); ++i) {
            checkEq(hex(log->commands[i], log->commandLengths[i]), c.sent[i], "command");
            check(c.pci && log->pcis[i] == procAs<const void *>(pcscModule, c.pci),
                  "protocol control information");
        }
        if (c.followUpReceive && log->commandCount == 2)
            checkEq(log->receiveCapacities[1], c.followUpReceive, "follow-up receive length");
        if (c.code == 0 || log->commandCount)
            checkEq(static_cast<int>(log->lastDisposition), static_cast<int>(SCARD_LEAVE_CARD),
                    "disposition");
        expectBalanced();
    }
}

void missingFieldCase() {
    currentCase = "no ErrorCode field";
    FakeCardScript s = baseScript();
    s.protocol = SCARD_PROTOCOL_T1;
    setBytes(s.answers[0].bytes, &s.answers[0].length, "6A82");
    s.answerCount = 1;
    configure(&s);
    FakeObject self{false, -1};
    lastObject = reinterpret_cast<jobject>(&self);
    jstring reader = NewStringUTF(&env, "Reader One"), aid = NewStringUTF(&env, "A0 00 00 00 03");
    openFrame();
    checkEq(static_cast<int>(selectApplet(&env, lastObject, reader, aid)), TQSC_RTN_SW_NOT_FOUND, "result");
    check(listReaders(&env, lastObject) != nullptr, "reader list");
    expectBalanced();
}

// ---- the process heap as cardprobe.dll sees it ----
// cardprobe.dll's import of HeapAlloc is pointed at ours, which can fail one
// chosen call (0 the next, 1 the one after, ...; -1 none).
typedef LPVOID(WINAPI *HeapAllocFn)(HANDLE, DWORD, SIZE_T);
HeapAllocFn realHeapAlloc;
int heapFailAt = -1;
LPVOID WINAPI scriptedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (heapFailAt >= 0 && heapFailAt-- == 0) return nullptr;
    return realHeapAlloc(heap, flags, size);
}

// The import-address slot of `function` from `dll` in a loaded module, or null.
void **importSlot(HMODULE module, const char *dll, const char *function) {
    auto *base = reinterpret_cast<BYTE *>(module);
    auto *nt =
        reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name;
         ++imp) {
        if (lstrcmpiA(reinterpret_cast<const char *>(base + imp->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

bool scriptHeap(HMODULE dll) {
    void **slot = importSlot(dll, "kernel32.dll", "HeapAlloc");
    DWORD old = 0;
    if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
    realHeapAlloc = reinterpret_cast<HeapAllocFn>(*slot);
    *slot = reinterpret_cast<void *>(&scriptedHeapAlloc);
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

// cardprobe's own allocations fail: each native answers TQ_RTN_MEMORY_ALLOCATE_FAIL and leaves
// nothing open; GetATR must not touch the record it could not get.
void heapCases() {
    struct Case {
        const char *name;
        int native;  // 0 ListReaders, 1 GetATR, 2 SelectApplet
        int failAt;
        LONG list;
        int code;
        int sent;  // commands that reach the card
    } cases[] = {
        {"ListReaders: the list", 0, 0, 0, TQ_RTN_MEMORY_ALLOCATE_FAIL, 0},
        {"ListReaders: the empty list", 0, 0, static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE),
         TQ_RTN_MEMORY_ALLOCATE_FAIL, 0},
        {"GetATR: the card record", 1, 0, 0, TQ_RTN_MEMORY_ALLOCATE_FAIL, 0},
        {"SelectApplet: the receive buffer", 2, 0, 0, TQ_RTN_MEMORY_ALLOCATE_FAIL, 0},
    };
    for (const Case &c : cases) {
        currentCase = std::string("out of heap, ") + c.name;
        FakeCardScript s = baseScript();
        s.listResult = c.list;
        s.protocol = SCARD_PROTOCOL_T1;
        setBytes(s.answers[0].bytes, &s.answers[0].length, "9000");
        s.answerCount = 1;
        configure(&s);
        FakeObject self{true, -1};
        lastObject = reinterpret_cast<jobject>(&self);
        jstring reader = NewStringUTF(&env, "Reader One"), aid = NewStringUTF(&env, "A0 00 00 00 03");
        openFrame();
        heapFailAt = c.failAt;
        if (c.native == 0) {
            check(listReaders(&env, lastObject) == nullptr, "array");
        } else if (c.native == 1) {
            check(getAtr(&env, lastObject, reader) == nullptr, "ATR");
        } else {
            checkEq(static_cast<int>(selectApplet(&env, lastObject, reader, aid)), c.code, "result");
        }
        checkEq(heapFailAt, -1, "the failing allocation was made");
        heapFailAt = -1;
        checkEq(self.errorCode, c.code, "ErrorCode");
        checkEq(journal()->commandCount, c.sent, "commands sent");
        expectBalanced();
    }
}

// The Java side runs out of memory while a native builds its answer: the
// answer is null, ErrorCode says TQ_RTN_MEMORY_ALLOCATE_FAIL, and no exception is left to the caller.
void outOfMemoryCases() {
    FakeCardScript s = baseScript();
    configure(&s);
    FakeObject self{true, -1};
    lastObject = reinterpret_cast<jobject>(&self);
    currentCase = "ListReaders: the second name cannot be made";
    openFrame();
    stringBudget = 1;
    check(listReaders(&env, lastObject) == nullptr, "array after a failed name");
    stringBudget = -1;
    checkEq(self.errorCode, TQ_RTN_MEMORY_ALLOCATE_FAIL, "ErrorCode");
    expectBalanced();
    currentCase = "GetATR: the text cannot be made";
    self.errorCode = -1;
    jstring reader = NewStringUTF(&env, "Reader One");
    openFrame();
    stringBudget = 0;
    check(getAtr(&env, lastObject, reader) == nullptr, "ATR after a failed string");
    stringBudget = -1;
    checkEq(self.errorCode, TQ_RTN_MEMORY_ALLOCATE_FAIL, "ErrorCode");
    expectBalanced();
}

}  // namespace

int main() {
    buildTable();
    HMODULE dll = LoadLibraryA("cardprobe.dll");
    if (!dll) {
        std::printf("cardprobe.dll does not load: %lu\n", GetLastError());
        return 2;
    }
    HMODULE pcsc = pcscModule = GetModuleHandleA("winscard.dll");
    configure = procAs<FakeCardConfigureFn>(pcsc, "FakeCardConfigure");
    journal = procAs<FakeCardLogFn>(pcsc, "FakeCardJournal");
    getNativeVersion =
        procAs<GetNativeVersionFn>(dll, "_Java_com_quelmara_smartcard_SCUtils_GetNativeVersion@8");
    listReaders = procAs<ListReadersFn>(dll, "_Java_com_quelmara_smartcard_SCUtils_ListReaders@8");
    getAtr = procAs<GetAtrFn>(dll, "_Java_com_quelmara_smartcard_SCUtils_GetATR@12");
    selectApplet = procAs<SelectAppletFn>(dll, "_Java_com_quelmara_smartcard_SCUtils_SelectApplet@16");
    if (!configure || !journal) {
        std::printf("cardprobe.dll is not bound to the test winscard.dll\n");
        return 2;
    }
    if (!getNativeVersion || !listReaders || !getAtr || !selectApplet) {
        std::printf("a native is not exported\n");
        return 2;
    }
    versionCase();
    readerCases();
    atrCases();
    selectCases();
    missingFieldCase();
    outOfMemoryCases();
    if (scriptHeap(dll))
        heapCases();
    else
        check(false, "cardprobe.dll imports no HeapAlloc to script");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
