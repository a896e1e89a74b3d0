// A private PC/SC stack for the tests: a pcscd of our own, serving a socket of
// our own, with a vpcd reader configuration on free ports and scripted virtual
// cards in its readers. It runs beside any other pcscd on the machine and
// beside other runs of these tests.
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
    void stop();  // SIGTERM, SIGKILL when it has not ended soon after; then reaps it
    ~ChildProcess() { stop(); }
};

// Why no stack can run on this machine (a package that is not installed), or
// empty.
std::string MissingPcscPackage();

// This process's pcscd socket, in a folder of its own that goes at exit. The
// PC/SC client library reads its socket path from the environment once per
// process, so the path is set there before the first PC/SC call, and every
// process started from here (cards, JVMs) inherits it. Empty when the folder
// cannot be made.
const std::string &PrivatePcscSocket();

class PcscStack {
public:
    struct Card {
        std::string atrHex;
        std::vector<std::pair<std::string, std::string>> rules;  // command hex, answer hex
    };
    // The stack's logs go to a folder of its own: `workDir`, dash, our PID.
    explicit PcscStack(const std::string &workDir);
    ~PcscStack();
    // Starts pcscd and waits until it answers, with one vpcd entry (readers
    // "Virtual PCD 00 00" and "Virtual PCD 00 01", slots 0 and 1) or none.
    std::string startDaemon(bool withReaders);
    // Starts a card in the reader of `slot` and waits until pcscd sees it.
    std::string insertCard(const Card &card, int slot);
    void stop();
    // The commands that the card in `slot` received since the last clear.
    std::vector<std::string> commands(int slot) const;
    void clearCommands(int slot) const;
    const std::string &dir() const { return dir_; }
    // Leaves the stack's folder in place, for a look at a failure.
    void keepFiles() { keep_ = true; }

private:
    std::string launch(bool withReaders, bool *portTaken);
    std::string awaitAnswer(std::vector<std::string> *names);
    std::string logOf(int slot) const;
    std::string dir_;
    bool keep_ = false;
    int port_ = 0;  // vpcd's port for slot 0; slot 1 is on the next one
    ChildProcess daemon_;
    std::vector<std::unique_ptr<ChildProcess>> cards_;
};
