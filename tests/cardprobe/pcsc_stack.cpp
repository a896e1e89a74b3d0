#include "pcsc_stack.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &logPath,
                         const std::vector<std::string> &extraEnv) {
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    // extraEnv entries replace inherited ones of the same name.
    auto nameOf = [](const std::string &e) { return e.substr(0, e.find('=')); };
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto &x : extraEnv) replaced = replaced || nameOf(x) == nameOf(*e);
        if (!replaced) envStrings.emplace_back(*e);
    }
    for (const auto &e : extraEnv) envStrings.push_back(e);
    std::vector<char *> env;
    for (auto &e : envStrings) env.push_back(&e[0]);
    env.push_back(nullptr);
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
    waitpid(pid, &status, 0);
    pid = -1;
}

namespace {
std::string procText(pid_t pid, const char *what) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + what);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

pid_t RunningPcscd() {
    std::ifstream in("/run/pcscd/pcscd.pid");
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return 0;
    // A stale pid file may name a process that is no pcscd at all.
    return procText(static_cast<pid_t>(pid), "comm") == "pcscd\n" ? static_cast<pid_t>(pid) : 0;
}

// A pcscd that a crashed or timed-out run of these tests left behind runs
// with a reader configuration under our work folder; it is ended by its PID.
std::string ClaimPcscd() {
    const pid_t pid = RunningPcscd();
    if (pid == 0) return std::string();
    if (procText(pid, "cmdline").find(CARDPROBE_TEST_WORK_DIR) == std::string::npos)
        return "a pcscd is running already (pid " + std::to_string(pid) + ")";
    kill(pid, SIGTERM);
    while (kill(pid, 0) == 0) usleep(50000);
    return std::string();
}

std::string PcscStack::startDaemon(const std::vector<int> &vpcdPorts) {
    const std::string claim = ClaimPcscd();
    if (!claim.empty()) return claim;
    const std::string conf = dir_ + "/reader.conf.d";
    // Logs of the last run stay until the next one.
    std::filesystem::remove_all(dir_);
    mkdir(dir_.c_str(), 0755);
    mkdir(conf.c_str(), 0755);
    {
        std::ofstream out(conf + "/vpcd");
        for (int port : vpcdPorts)
            out << "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:" << port
                << "\nLIBPATH /usr/lib/pcsc/drivers/serial/libifdvpcd.so\nCHANNELID " << port << "\n\n";
    }
    if (!daemon_.start({"pcscd", "--foreground", "--config", conf}, dir_ + "/pcscd.log"))
        return "pcscd could not be started";
    // Ready once a client can establish a context.
    for (;;) {
        SCARDCONTEXT context;
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
            SCardReleaseContext(context);
            return std::string();
        }
        if (!daemon_.alive()) return "pcscd ended; see " + dir_ + "/pcscd.log";
        usleep(50000);
    }
}

std::string PcscStack::logOf(int port) const { return dir_ + "/card-" + std::to_string(port) + ".log"; }

std::string PcscStack::insertCard(const Card &card, const std::string &reader) {
    const std::string rules = dir_ + "/card-" + std::to_string(card.port) + ".rules";
    {
        std::ofstream out(rules);
        for (const auto &rule : card.rules) out << rule.first << " " << rule.second << "\n";
    }
    clearCommands(card.port);
    cards_.push_back(std::make_unique<ChildProcess>());
    if (!cards_.back()->start(
            {CARDPROBE_VIRTUAL_CARD, std::to_string(card.port), card.atrHex, rules, logOf(card.port)},
            dir_ + "/card-" + std::to_string(card.port) + ".out"))
        return "the virtual card could not be started";
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return "no PC/SC context";
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    for (;;) {
        const LONG rv = SCardGetStatusChange(context, 100, &state, 1);
        if (rv == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT)) break;
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
            SCardReleaseContext(context);
            return "reader " + reader + " is unknown to pcscd";
        }
        if (!cards_.back()->alive()) {
            SCardReleaseContext(context);
            return "the virtual card ended";
        }
        state.dwCurrentState = state.dwEventState;
    }
    SCardReleaseContext(context);
    return std::string();
}

void PcscStack::stop() {
    // pcscd first: vpcd closes the cards' connections and they end.
    daemon_.stop();
    for (auto &card : cards_) card->stop();
    cards_.clear();
}

std::vector<std::string> PcscStack::commands(int port) const {
    std::vector<std::string> lines;
    std::ifstream in(logOf(port));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void PcscStack::clearCommands(int port) const { std::ofstream truncate(logOf(port), std::ios::trunc); }
