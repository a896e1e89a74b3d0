#include "ocsp_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <openssl/err.h>

extern char **environ;

namespace tqtest {

namespace {

using Clock = std::chrono::steady_clock;

// How long any peer may live: each one ends by itself well before ctest's limit.
const char *const kPeerLifetime = "120";

// The answer to one query: its id and question, then 127.0.0.1 for an A
// query. Empty for what is not one well-formed question.
std::string dnsAnswer(const std::string &query) {
    const size_t header = 12;
    if (query.size() < header || (query[2] & 0x80) || query[4] != 0 || query[5] != 1) return "";
    size_t at = header;
    while (at < query.size() && query[at] != 0) {
        size_t label = static_cast<unsigned char>(query[at]);
        if (label > 63) return "";
        at += 1 + label;
    }
    if (at + 5 > query.size()) return "";
    size_t questionEnd = at + 5;
    bool typeA = query[at + 1] == 0 && query[at + 2] == 1 && query[at + 3] == 0 && query[at + 4] == 1;
    std::string answer = query.substr(0, 2);
    answer += std::string("\x81\x80\0\x01\0", 5) + (typeA ? '\x01' : '\0') + std::string(4, '\0');
    answer += query.substr(header, questionEnd - header);
    // The question's name by reference, class IN, 60 s, four bytes.
    if (typeA) answer += std::string("\xc0\x0c\0\x01\0\x01\0\0\0\x3c\0\x04\x7f\0\0\x01", 16);
    return answer;
}

}  // namespace

Background::Background(const std::vector<std::string> &argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

Background::~Background() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

std::string Background::readLine(int seconds) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return "";
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buffer[512];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return "";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

OcspResponder::OcspResponder(const std::string &fx, int requests, const std::vector<std::string> &extra,
                             const std::string &signer) {
    std::string key = signer == "responder-otherkey" ? "other.key" : "responder.key";
    std::vector<std::string> argv = {"timeout",   kPeerLifetime,
                                     "openssl",   "ocsp",
                                     "-index",    fx + "/index.txt",
                                     "-CA",       fx + "/ca.pem",
                                     "-rsigner",  fx + "/" + signer + ".pem",
                                     "-rkey",     fx + "/" + key,
                                     "-port",     "0",
                                     "-nrequest", std::to_string(requests)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<Background>(argv);
    std::string line = process_->readLine(20);
    // "ACCEPT [::]:43925 PID=8041"
    size_t space = line.find(' ', 7);
    size_t colon = line.rfind(':', space);
    if (line.compare(0, 7, "ACCEPT ") != 0 || colon == std::string::npos)
        throw std::runtime_error("openssl ocsp did not start: " + line);
    port_ = std::stoi(line.substr(colon + 1, space - colon - 1));
}

std::string OcspResponder::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(a.sin_port);
}

bool waitListening(int port, int seconds) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        std::ifstream tcp("/proc/net/tcp");
        std::string line;
        while (std::getline(tcp, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local == wanted && state == "0A") return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TlsFront::TlsFront(const std::string &fx, int backendPort, const std::vector<std::string> &tlsOptions) {
    port_ = freePort();
    std::string listen = "OPENSSL-LISTEN:" + std::to_string(port_) +
                         ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + fx + "/tls.pem,key=" + fx +
                         "/responder.key";
    for (const std::string &o : tlsOptions) listen += "," + o;
    process_ = std::make_unique<Background>(
        std::vector<std::string>{"timeout", kPeerLifetime, "socat", "-T", "20", listen,
                                 "TCP:127.0.0.1:" + std::to_string(backendPort)});
    if (!waitListening(port_, 20)) throw std::runtime_error("socat did not start");
}

std::string TlsFront::url(const std::string &path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

bool CannedPeer::send(const void *bytes, size_t length) {
    const char *p = static_cast<const char *>(bytes);
    while (length > 0) {
        ssize_t n = ssl ? SSL_write(ssl, p, static_cast<int>(length > 65536 ? 65536 : length))
                        : ::send(fd, p, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool CannedPeer::pause(int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (stopping && stopping->load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !(stopping && stopping->load());
}

CannedServer::CannedServer(std::function<void(CannedPeer &)> act, CannedOptions options, int port)
    : act_(std::move(act)), options_(std::move(options)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &size) != 0)
        throw std::runtime_error("canned server cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

CannedServer::~CannedServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    close(listener_);
}

std::string CannedServer::url(const std::string &scheme, const std::string &path) const {
    return scheme + "127.0.0.1:" + std::to_string(port_) + path;
}

std::string CannedServer::request() {
    if (thread_.joinable()) thread_.join();
    return request_;
}

std::string CannedServer::serverName() {
    if (thread_.joinable()) thread_.join();
    return serverName_;
}

void CannedServer::serve() {
    // One connection within 15 s, or none.
    pollfd p{listener_, POLLIN, 0};
    auto deadline = Clock::now() + std::chrono::seconds(15);
    while (!stopping_ && Clock::now() < deadline)
        if (poll(&p, 1, 50) > 0) break;
    if (!(p.revents & POLLIN)) return;
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    CannedPeer peer;
    peer.fd = fd;
    peer.stopping = &stopping_;
    SSL_CTX *ctx = nullptr;
    if (options_.tls) {
        ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(ctx, (options_.fixtures + "/tls.pem").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(ctx, (options_.fixtures + "/responder.key").c_str(), SSL_FILETYPE_PEM);
        if (options_.minVersion) SSL_CTX_set_min_proto_version(ctx, options_.minVersion);
        if (options_.maxVersion) SSL_CTX_set_max_proto_version(ctx, options_.maxVersion);
        if (!options_.cipherList.empty()) SSL_CTX_set_cipher_list(ctx, options_.cipherList.c_str());
        peer.ssl = SSL_new(ctx);
        SSL_set_fd(peer.ssl, fd);
        if (SSL_accept(peer.ssl) != 1) {
            SSL_free(peer.ssl);
            SSL_CTX_free(ctx);
            ERR_clear_error();
            close(fd);
            return;
        }
        if (const char *name = SSL_get_servername(peer.ssl, TLSEXT_NAMETYPE_host_name)) serverName_ = name;
    }
    if (options_.readRequest) {
        // Headers up to the blank line, then Content-Length bytes.
        size_t want = std::string::npos;
        char buffer[4096];
        while (want == std::string::npos || request_.size() < want) {
            int n = peer.ssl ? SSL_read(peer.ssl, buffer, sizeof buffer)
                             : static_cast<int>(recv(fd, buffer, sizeof buffer, 0));
            if (n <= 0) break;
            request_.append(buffer, static_cast<size_t>(n));
            size_t end = request_.find("\r\n\r\n");
            if (want == std::string::npos && end != std::string::npos) {
                size_t at = request_.find("Content-Length: ");
                size_t length = at == std::string::npos ? 0 : std::stoul(request_.substr(at + 16));
                want = end + 4 + length;
            }
        }
    }
    peer.request = request_;
    act_(peer);
    if (peer.ssl) {
        if (options_.closeNotify) SSL_shutdown(peer.ssl);
        SSL_free(peer.ssl);
        SSL_CTX_free(ctx);
        ERR_clear_error();
    }
    close(fd);
}

NameServer::NameServer(bool holding) : holding_(holding) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(53);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (fd_ >= 0) close(fd_);
        throw std::runtime_error("name server cannot bind 127.0.0.1:53");
    }
    thread_ = std::thread([this] { serve(); });
}

NameServer::~NameServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
}

void NameServer::serve() {
    struct Held {
        std::string answer;
        sockaddr_in from;
    };
    std::vector<Held> held;
    auto deadline = Clock::now() + std::chrono::seconds(std::atoi(kPeerLifetime));
    while (!stopping_ && Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char query[512];
            Held h{"", {}};
            socklen_t size = sizeof h.from;
            ssize_t n = recvfrom(fd_, query, sizeof query, 0, reinterpret_cast<sockaddr *>(&h.from), &size);
            if (n > 0) {
                ++queries_;
                h.answer = dnsAnswer(std::string(query, static_cast<size_t>(n)));
                if (!h.answer.empty()) held.push_back(h);
            }
        }
        if (holding_) continue;
        for (const Held &h : held)
            sendto(fd_, h.answer.data(), h.answer.size(), 0, reinterpret_cast<const sockaddr *>(&h.from),
                   sizeof h.from);
        held.clear();
    }
}

std::string httpAnswer(const std::string &body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: application/ocsp-response\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace tqtest
