#include "pcsc_stack.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

// How long pcscd may take to answer, and a card to show in its reader.
constexpr auto kStartLimit = std::chrono::seconds(20);

// Environment entries for a child: ours, with `extraEnv` replacing entries
// of the same name.
std::vector<std::string> childEnvironment(const std::vector<std::string> &extraEnv) {
    auto nameOf = [](const std::string &e) { return e.substr(0, e.find('=')); };
    std::vector<std::string> out;
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto &x : extraEnv) replaced = replaced || nameOf(x) == nameOf(*e);
        if (!replaced) out.emplace_back(*e);
    }
    out.insert(out.end(), extraEnv.begin(), extraEnv.end());
    return out;
}

std::vector<char *> pointersTo(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (auto &s : strings) out.push_back(&s[0]);
    out.push_back(nullptr);
    return out;
}

struct Descriptor {
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    int fd;
};

}  // namespace

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &logPath,
                         const std::vector<std::string> &extraEnv) {
    std::vector<std::string> argStrings = argv, envStrings = childEnvironment(extraEnv);
    std::vector<char *> args = pointersTo(argStrings), env = pointersTo(envStrings);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid = -1;
    return rc == 0;
}

bool ChildProcess::alive() {
    if (pid <= 0) return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
    }
    return true;
}

int ChildProcess::wait() {
    if (pid <= 0) return -1;
    int status = 0;
    const pid_t got = waitpid(pid, &status, 0);
    pid = -1;
    return got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    pid_t got = 0;
    for (int i = 0; i < 100 && (got = waitpid(pid, &status, WNOHANG)) == 0; ++i) usleep(50000);
    if (got == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

namespace {

const std::string kVpcdDriver = CARDPROBE_PCSC_DRIVERS "/serial/libifdvpcd.so";
const char *const kReaderName = "Virtual PCD";

std::string readerOf(int slot) { return std::string(kReaderName) + " 00 0" + std::to_string(slot); }

// pcscd is an administrator's program: it may lie outside a user's PATH.
std::string pcscdPath() {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin";
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');) {
        const std::string path = (dir.empty() ? "." : dir) + "/pcscd";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return std::string();
}

// The process's own folder for pcscd's socket and reader configuration, in
// the temporary folder: a socket path must fit in 108 bytes.
struct RuntimeFolder {
    RuntimeFolder() {
        std::error_code error;
        const auto temp = std::filesystem::temp_directory_path(error);
        std::string pattern = (error ? std::filesystem::path("/tmp") : temp) / "cardprobe-pcsc-XXXXXX";
        if (!mkdtemp(&pattern[0])) return;
        path = pattern;
        // An unprivileged pcscd reads its configuration from here.
        chmod(path.c_str(), 0755);
        if (path.size() + sizeof "/pcscd.comm" > sizeof(sockaddr_un::sun_path)) return;
        socket = path + "/pcscd.comm";
        setenv("PCSCLITE_CSOCK_NAME", socket.c_str(), 1);
    }
    ~RuntimeFolder() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
    }
    std::string path, socket;
};

RuntimeFolder &runtimeFolder() {
    static RuntimeFolder folder;
    return folder;
}

// The first of two neighbouring TCP ports that no one uses now (vpcd listens
// on both, on every address), or 0.
int freePortPair() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        Descriptor first(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof addr;
        if (bind(first.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            getsockname(first.fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
            continue;
        const int port = ntohs(addr.sin_port);
        if (port >= 65535) continue;
        Descriptor second(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        addr.sin_port = htons(static_cast<uint16_t>(port + 1));
        if (bind(second.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) return port;
    }
    return 0;
}

// A listening socket at `path`, as a descriptor above 3 (3 is where pcscd
// expects it), or -1.
int listenAt(const std::string &path) {
    unlink(path.c_str());
    Descriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (fd.fd < 0 || bind(fd.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd.fd, SOMAXCONN) != 0)
        return -1;
    return fcntl(fd.fd, F_DUPFD_CLOEXEC, 4);
}

// Starts pcscd on the socket `listener`, handed over the way a service
// manager hands one over (descriptor 3, LISTEN_FDS, LISTEN_PID naming pcscd's
// own PID): pcscd binds no socket of its own then. It still writes its PID
// file to the fixed place of the machine's own daemon and removes it at exit;
// run as root, ours would take that file from the machine's pcscd, so it runs
// as nobody then, where that write fails and is only logged.
pid_t spawnPcscd(const std::string &program, const std::string &config, int listener, int log) {
    std::vector<std::string> argStrings = {program, "--foreground", "--config", config};
    std::vector<std::string> envStrings =
        childEnvironment({"LISTEN_FDS=1", "LISTEN_PID=" + std::string(20, ' ')});
    std::vector<char *> args = pointersTo(argStrings), env = pointersTo(envStrings);
    // LISTEN_PID comes last; the child writes its PID there.
    char *pidDigits = env[env.size() - 2] + std::strlen("LISTEN_PID=");
    const bool drop = geteuid() == 0;
    const passwd *nobody = drop ? getpwnam("nobody") : nullptr;
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0) return child;
    // Only async-signal-safe calls from here to exec.
    if (drop && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
    // Ends with the test that started it, even when that one is killed; set
    // after the change of user, which clears it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    if (dup2(log, 1) < 0 || dup2(log, 2) < 0 || dup2(listener, 3) < 0) _exit(126);
    char digits[20];
    int n = 0;
    for (pid_t self = getpid(); self > 0 && n < 20; self /= 10)
        digits[n++] = static_cast<char>('0' + self % 10);
    for (int i = 0; i < n; ++i) pidDigits[i] = digits[n - 1 - i];
    pidDigits[n] = '\0';
    execve(args[0], args.data(), env.data());
    _exit(127);
}

// Whether `pid` has ended; it stays unreaped, so its PID is not reused.
bool ended(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

std::vector<std::string> listedReaders(SCARDCONTEXT context) {
    DWORD length = 0;
    if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS) return {};
    std::string list(length, '\0');
    if (SCardListReaders(context, nullptr, &list[0], &length) != SCARD_S_SUCCESS) return {};
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size() && list[at]; at += names.back().size() + 1)
        names.emplace_back(list.c_str() + at);
    return names;
}

}  // namespace

std::string MissingPcscPackage() {
    if (pcscdPath().empty()) return "pcscd is not installed (Debian package pcscd)";
    if (access(kVpcdDriver.c_str(), R_OK) != 0)
        return "vpcd's reader driver " + kVpcdDriver + " is missing (Debian package vsmartcard-vpcd)";
    return std::string();
}

const std::string &PrivatePcscSocket() { return runtimeFolder().socket; }

PcscStack::PcscStack(const std::string &workDir) : dir_(workDir + "-" + std::to_string(getpid())) {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    std::filesystem::create_directories(dir_, error);
}

PcscStack::~PcscStack() {
    stop();
    std::error_code error;
    if (!keep_) std::filesystem::remove_all(dir_, error);
}

std::string PcscStack::startDaemon(bool withReaders) {
    // Another program may take a port between our look and vpcd's bind; vpcd's
    // readers are missing then, and fresh ports are tried.
    std::string problem;
    bool portTaken = true;
    for (int attempt = 0; attempt < 5 && portTaken; ++attempt) {
        stop();
        problem = launch(withReaders, &portTaken);
    }
    return problem;
}

std::string PcscStack::launch(bool withReaders, bool *portTaken) {
    *portTaken = false;
    const RuntimeFolder &folder = runtimeFolder();
    if (folder.socket.empty()) return "no folder of our own for pcscd's socket in the temporary folder";
    const int port = withReaders ? freePortPair() : 0;
    if (withReaders && port == 0) return "no two neighbouring free TCP ports";
    const std::string conf = folder.path + "/reader.conf.d";
    std::error_code error;
    std::filesystem::remove_all(conf, error);
    mkdir(conf.c_str(), 0755);
    {
        std::ofstream out(conf + "/vpcd");
        if (withReaders)
            out << "FRIENDLYNAME \"" << kReaderName << "\"\nDEVICENAME /dev/null:" << port << "\nLIBPATH "
                << kVpcdDriver << "\nCHANNELID " << port << "\n";
    }
    const std::string log = dir_ + "/pcscd.log";
    {
        const Descriptor listener(listenAt(folder.socket));
        if (listener.fd < 0) return "no socket at " + folder.socket;
        const Descriptor opened(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        const Descriptor logFd(opened.fd < 0 ? -1 : fcntl(opened.fd, F_DUPFD_CLOEXEC, 4));
        if (logFd.fd < 0) return "no log " + log;
        daemon_.pid = spawnPcscd(pcscdPath(), conf, listener.fd, logFd.fd);
        if (daemon_.pid < 0) return "pcscd could not be started";
    }
    // Only pcscd holds the socket now: a client that waits for it gets an
    // answer when it ends.
    port_ = port;
    std::vector<std::string> names;
    const std::string silent = awaitAnswer(&names);
    if (!silent.empty()) return silent + "; see " + log;
    for (int slot = 0; withReaders && slot < 2; ++slot)
        if (std::find(names.begin(), names.end(), readerOf(slot)) == names.end()) {
            *portTaken = true;
            return "vpcd's readers are missing on ports " + std::to_string(port) + " and next; see " + log;
        }
    return std::string();
}

// Waits until pcscd answers and lists its readers into `names`; why it did
// not, or empty. The client waits without limit for a daemon that holds its
// socket but does not answer; past the deadline pcscd is killed, and with it
// that wait.
std::string PcscStack::awaitAnswer(std::vector<std::string> *names) {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false, late = false;
    const pid_t pid = daemon_.pid;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, kStartLimit, [&] { return done; })) {
            late = true;
            kill(pid, SIGKILL);
        }
    });
    bool answered = false;
    while (!answered && !ended(pid)) {
        SCARDCONTEXT context;
        answered = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS;
        if (answered) {
            *names = listedReaders(context);
            SCardReleaseContext(context);
        } else {
            usleep(50000);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cv.notify_one();
    watchdog.join();
    if (answered) return std::string();
    return late ? "pcscd did not answer within 20 s" : "pcscd ended";
}

std::string PcscStack::logOf(int slot) const { return dir_ + "/card-" + std::to_string(slot) + ".log"; }

std::string PcscStack::insertCard(const Card &card, int slot) {
    if (port_ == 0) return "pcscd runs without vpcd readers";
    const std::string rules = dir_ + "/card-" + std::to_string(slot) + ".rules";
    {
        std::ofstream out(rules);
        for (const auto &rule : card.rules) out << rule.first << " " << rule.second << "\n";
    }
    clearCommands(slot);
    cards_.push_back(std::make_unique<ChildProcess>());
    if (!cards_.back()->start(
            {CARDPROBE_VIRTUAL_CARD, std::to_string(port_ + slot), card.atrHex, rules, logOf(slot)},
            dir_ + "/card-" + std::to_string(slot) + ".out"))
        return "the virtual card could not be started";
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return "no PC/SC context";
    const std::string reader = readerOf(slot);
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    std::string problem = "the card did not show in " + reader + " within 20 s";
    for (const auto end = std::chrono::steady_clock::now() + kStartLimit;
         std::chrono::steady_clock::now() < end;) {
        const LONG rv = SCardGetStatusChange(context, 100, &state, 1);
        if (rv == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT)) {
            problem.clear();
            break;
        }
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
            problem = "reader " + reader + " is unknown to pcscd";
            break;
        }
        if (!cards_.back()->alive()) {
            problem = "the virtual card ended; see " + dir_;
            break;
        }
        state.dwCurrentState = state.dwEventState;
    }
    SCardReleaseContext(context);
    return problem;
}

void PcscStack::stop() {
    // pcscd first: vpcd closes the cards' connections and they end.
    daemon_.stop();
    for (auto &card : cards_) card->stop();
    cards_.clear();
    port_ = 0;
    if (!PrivatePcscSocket().empty()) unlink(PrivatePcscSocket().c_str());
}

std::vector<std::string> PcscStack::commands(int slot) const {
    std::vector<std::string> lines;
    std::ifstream in(logOf(slot));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void PcscStack::clearCommands(int slot) const { std::ofstream truncate(logOf(slot), std::ios::trunc); }
