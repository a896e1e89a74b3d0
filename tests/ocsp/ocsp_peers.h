// Peers of the OCSP tests, all on 127.0.0.1, each ending by itself within a
// bounded time and stopped only by its own PID: openssl ocsp as responder,
// socat as HTTPS front, and a canned server for what no responder sends.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

namespace tqtest {

// A command run in the background with its standard output on a pipe.
class Background {
public:
    explicit Background(const std::vector<std::string> &argv);
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;
    // The next line of its output, waiting at most `seconds`; empty on time-out.
    std::string readLine(int seconds);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// openssl ocsp answering `requests` requests on a port of its choice.
class OcspResponder {
public:
    // extra: more options (-resp_key_id, -resp_no_certs, -rsigner ...).
    OcspResponder(const std::string &fixtures, int requests, const std::vector<std::string> &extra = {},
                  const std::string &signer = "responder");
    int port() const { return port_; }
    std::string url(const std::string &path = "/") const;

private:
    std::unique_ptr<Background> process_;
    int port_ = 0;
};

// A free port on 127.0.0.1 at the time of the call.
int freePort();
// Waits until something listens on 127.0.0.1:port (at most `seconds`).
bool waitListening(int port, int seconds);

// socat terminating TLS on 127.0.0.1 in front of a plain backend port.
class TlsFront {
public:
    TlsFront(const std::string &fixtures, int backendPort, const std::vector<std::string> &tlsOptions = {});
    int port() const { return port_; }
    std::string url(const std::string &path = "/") const;

private:
    std::unique_ptr<Background> process_;
    int port_ = 0;
};

// One connection of the canned server, plain or TLS.
struct CannedPeer {
    int fd = -1;
    SSL *ssl = nullptr;
    std::string request;  // as read before acting
    bool send(const void *bytes, size_t length);
    bool send(const std::string &text) { return send(text.data(), text.size()); }
    // Sleeps in small steps; false once the server is being stopped.
    bool pause(int milliseconds);
    const std::atomic<bool> *stopping = nullptr;
};

struct CannedOptions {
    bool readRequest = true;  // read the whole request before acting
    bool tls = false;
    int minVersion = 0, maxVersion = 0;
    bool closeNotify = true;
    std::string cipherList;
    std::string fixtures;  // for the TLS key and certificate
};

// Accepts one connection on 127.0.0.1 and runs `act` on it, then closes.
class CannedServer {
public:
    explicit CannedServer(std::function<void(CannedPeer &)> act, CannedOptions options = CannedOptions(),
                          int port = 0);
    ~CannedServer();
    CannedServer(const CannedServer &) = delete;
    CannedServer &operator=(const CannedServer &) = delete;
    int port() const { return port_; }
    std::string url(const std::string &scheme = "http://", const std::string &path = "/") const;
    // The request bytes as received; waits for the connection to end.
    std::string request();
    // The TLS server name the client sent (empty: none).
    std::string serverName();

private:
    void serve();
    std::function<void(CannedPeer &)> act_;
    CannedOptions options_;
    int listener_ = -1;
    int port_ = 0;
    std::string request_;
    std::string serverName_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A name server on 127.0.0.1:53 over UDP, for a resolver inside the tests'
// network namespace. Every A query gets 127.0.0.1, any other query no
// records; while holding, it reads queries and keeps their answers back.
class NameServer {
public:
    explicit NameServer(bool holding);
    ~NameServer();
    NameServer(const NameServer &) = delete;
    NameServer &operator=(const NameServer &) = delete;
    // Answers what it holds, and every later query at once.
    void release() { holding_ = false; }
    int queries() const { return queries_; }

private:
    void serve();
    int fd_ = -1;
    std::atomic<bool> holding_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

// An HTTP/1.0 200 answer carrying `body` as an OCSP response.
std::string httpAnswer(const std::string &body);

}  // namespace tqtest
