// A scripted card for vpcd's reader: connects to vpcd's port on 127.0.0.1 and
// answers its frames (two length bytes, big-endian, then the payload). A
// one-byte payload is a control: 0 power off, 1 power on, 2 reset, 4 send the
// ATR; anything longer is a command APDU, answered from the rules file by
// exact match (unknown commands get 6D 00). Every command is appended to the
// log as one hex line.
//
//   cardprobe_virtual_card PORT ATR-HEX RULES-FILE LOG-FILE
// Rules: one "COMMAND-HEX ANSWER-HEX" pair a line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

bool fromHex(const std::string &text, Bytes *out) {
    out->clear();
    std::string digits;
    for (char c : text)
        if (c != ' ') digits.push_back(c);
    if (digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out->push_back(static_cast<unsigned char>(v));
    }
    return true;
}

std::string toHex(const Bytes &b) {
    static const char *digits = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

bool readAll(int fd, unsigned char *p, size_t n) {
    while (n) {
        const ssize_t got = read(fd, p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool sendFrame(int fd, const Bytes &payload) {
    Bytes frame{static_cast<unsigned char>(payload.size() >> 8),
                static_cast<unsigned char>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    size_t off = 0;
    while (off < frame.size()) {
        const ssize_t n = write(fd, frame.data() + off, frame.size() - off);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PORT ATR-HEX RULES LOG\n", argv[0]);
        return 2;
    }
    // Ends with the test that started it, even when that one is killed.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) return 0;
    const int port = std::atoi(argv[1]);
    Bytes atr;
    if (!fromHex(argv[2], &atr)) return 2;
    std::map<Bytes, Bytes> rules;
    std::ifstream in(argv[3]);
    for (std::string command, answer; in >> command >> answer;) {
        Bytes c, a;
        if (!fromHex(command, &c) || !fromHex(answer, &a)) return 2;
        rules[c] = a;
    }
    const int log = open(argv[4], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log < 0) return 2;

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = -1;
    // vpcd listens once pcscd has loaded it; the test stops us by our PID.
    for (;;) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) break;
        close(fd);
        usleep(20000);
    }
    for (;;) {
        unsigned char head[2];
        if (!readAll(fd, head, 2)) break;
        Bytes payload((static_cast<size_t>(head[0]) << 8) | head[1]);
        if (!readAll(fd, payload.data(), payload.size())) break;
        if (payload.size() == 1) {
            if (payload[0] == 4 && !sendFrame(fd, atr)) break;
            continue;
        }
        const std::string line = toHex(payload) + "\n";
        if (write(log, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
        auto rule = rules.find(payload);
        if (!sendFrame(fd, rule != rules.end() ? rule->second : Bytes{0x6D, 0x00})) break;
    }
    close(fd);
    return 0;
}
