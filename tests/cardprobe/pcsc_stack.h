// A private PC/SC stack for the tests: pcscd in the foreground with a reader
// configuration of our own (vpcd readers), and scripted virtual cards in them.
// Only one pcscd can run on a machine; the CTest entries hold the "pcscd"
// resource lock, and a pcscd that is not ours makes the tests skip.
#pragma once
#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ChildProcess {
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    pid_t pid = -1;
    // Starts argv with stdout and stderr appended to logPath.
    bool start(const std::vector<std::string> &argv, const std::string &logPath,
               const std::vector<std::string> &extraEnv = {});
    bool alive();
    // Waits for the end of the process; its exit status, or -1.
    int wait();
    void stop();  // SIGTERM, then reaps it
    ~ChildProcess() { stop(); }
};

// The PID of a pcscd that is running already, or 0.
pid_t RunningPcscd();
// Makes sure that no pcscd runs, ending one that an earlier run of these
// tests left behind (by its PID); otherwise why the tests cannot go on.
std::string ClaimPcscd();

class PcscStack {
public:
    struct Card {
        int port;
        std::string atrHex;
        std::vector<std::pair<std::string, std::string>> rules;  // command hex, answer hex
    };
    explicit PcscStack(std::string workDir) : dir_(std::move(workDir)) {}
    ~PcscStack() { stop(); }
    // Starts pcscd with `vpcdPorts.size()` vpcd entries (two readers each) and
    // waits until it answers; an empty list gives a pcscd without readers.
    std::string startDaemon(const std::vector<int> &vpcdPorts);
    // Starts a card and waits until pcscd sees it in `reader`.
    std::string insertCard(const Card &card, const std::string &reader);
    void stop();
    // The commands that the card on `port` received since the last clear.
    std::vector<std::string> commands(int port) const;
    void clearCommands(int port) const;
    const std::string &dir() const { return dir_; }

private:
    std::string logOf(int port) const;
    std::string dir_;
    ChildProcess daemon_;
    std::vector<std::unique_ptr<ChildProcess>> cards_;
};
