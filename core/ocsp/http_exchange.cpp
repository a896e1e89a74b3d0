// One HTTP/1.0 POST to a responder over IPv4, plain or TLS, bounded in time
// and in size, read until the responder closes the connection.
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "ocsp_internal.h"

namespace tq {

namespace {

using Clock = std::chrono::steady_clock;

struct SocketOwner {
    int fd = -1;
    SocketOwner() = default;
    SocketOwner(const SocketOwner &) = delete;
    SocketOwner &operator=(const SocketOwner &) = delete;
    ~SocketOwner() {
        if (fd >= 0) close(fd);
    }
};

// 1 when the socket is ready, 0 when the deadline passed first, -1 when
// poll itself fails. Signals do not shorten or lengthen the wait.
int waitUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (r > 0) return 1;
        if (r < 0 && errno != EINTR) return -1;
    }
}

// The socket of one exchange, with TLS over it when the URL asks for it.
struct Link {
    int fd;
    TlsLink *tls;

    IoStep write(const unsigned char *bytes, size_t length) {
        if (tls) return tls->write(bytes, length);
        for (;;) {
            ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
            if (n >= 0) return {IoStep::Moved, static_cast<size_t>(n), 0};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStep::WantWrite, 0, 0};
            return {IoStep::Failed, 0, errno};
        }
    }
    IoStep read(unsigned char *bytes, size_t length) {
        if (tls) return tls->read(bytes, length);
        for (;;) {
            ssize_t n = recv(fd, bytes, length, 0);
            if (n > 0) return {IoStep::Moved, static_cast<size_t>(n), 0};
            if (n == 0) return {IoStep::Closed, 0, 0};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStep::WantRead, 0, 0};
            return {IoStep::Failed, 0, errno};
        }
    }
    bool wait(const IoStep &step, Clock::time_point deadline) {
        return waitUntil(fd, step.kind == IoStep::WantRead ? POLLIN : POLLOUT, deadline) == 1;
    }
};

// One host-name lookup, shared by the caller and the thread that runs it. The
// thread writes only here, so a caller that stopped waiting loses nothing
// and the last owner frees it.
struct Lookup {
    explicit Lookup(std::string name) : host(std::move(name)) {}
    const std::string host;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool found = false;
    sockaddr_in address{};
};

void resolve(const std::shared_ptr<Lookup> &lookup) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    sockaddr_in address{};
    bool found = getaddrinfo(lookup->host.c_str(), nullptr, &hints, &list) == 0 && list &&
                 list->ai_addrlen >= sizeof address;
    if (found) std::memcpy(&address, list->ai_addr, sizeof address);
    if (list) freeaddrinfo(list);
    std::lock_guard<std::mutex> hold(lookup->mutex);
    lookup->found = found;
    lookup->address = address;
    lookup->done = true;
    lookup->finished.notify_one();
}

// A lookup left running returns into this library when the resolver gives
// up, so from then on the library stays mapped even if the host unloads it.
void keepLibraryMapped() {
    static std::once_flag kept;
    std::call_once(kept, [] {
        Dl_info self{};
        if (dladdr(reinterpret_cast<void *>(&keepLibraryMapped), &self) && self.dli_fname &&
            !dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE))
            dlerror();  // a program holding these objects itself is never unloaded
    });
}

// The first IPv4 address of the host, or 5501 when it has none or the
// resolver has not answered by the deadline; the resolver's own time-outs do
// not hold up the caller. 5002 when no thread can be started.
int lookupHost(const std::string &host, sockaddr_in *address, Clock::time_point deadline) {
    if (host.empty()) return TQ_RTN_HOST_LOOKUP;
    auto lookup = std::make_shared<Lookup>(host);
    std::thread resolver;
    try {
        tq::SignalsBlocked quiet;
        resolver = std::thread(resolve, lookup);
    } catch (const std::system_error &) {
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    std::unique_lock<std::mutex> hold(lookup->mutex);
    if (!lookup->finished.wait_until(hold, deadline, [&] { return lookup->done; })) {
        hold.unlock();
        keepLibraryMapped();
        resolver.detach();
        return TQ_RTN_HOST_LOOKUP;
    }
    hold.unlock();
    resolver.join();
    if (!lookup->found) return TQ_RTN_HOST_LOOKUP;
    *address = lookup->address;
    return TQ_RTN_OK;
}

int doconnect(const ResponderUrl &url, SocketOwner *socket, Clock::time_point deadline) {
    sockaddr_in address{};
    int rc = lookupHost(url.host, &address, deadline);
    if (rc != TQ_RTN_OK) return rc;
    if (url.port < 1 || url.port > 65535) return TQ_RTN_CONNECT;
    address.sin_port = htons(static_cast<uint16_t>(url.port));

    socket->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket->fd < 0) return TQ_RTN_SOCKET;
    if (connect(socket->fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return TQ_RTN_OK;
    // An interrupted connect goes on by itself, like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) return TQ_RTN_CONNECT;
    if (waitUntil(socket->fd, POLLOUT, deadline) != 1) return TQ_RTN_CONNECT;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return TQ_RTN_CONNECT;
    return TQ_RTN_OK;
}

int sendn(Link &link, const unsigned char *bytes, size_t length, Clock::time_point deadline) {
    while (length > 0) {
        IoStep step = link.write(bytes, length);
        switch (step.kind) {
        case IoStep::Moved:
            bytes += step.count;
            length -= step.count;
            break;
        case IoStep::WantRead:
        case IoStep::WantWrite:
            if (!link.wait(step, deadline)) return TQ_RTN_SEND;
            break;
        case IoStep::Closed:
            return TQ_RTN_PEER_CLOSED;
        case IoStep::Failed:
            return step.error == EPIPE || step.error == ECONNRESET ? TQ_RTN_PEER_CLOSED : TQ_RTN_SEND;
        }
    }
    return TQ_RTN_OK;
}

int postocsp(Link &link, const ResponderUrl &url, OCSP_REQUEST *request, Clock::time_point deadline) {
    static const char format[] =
        "POST %s HTTP/1.0\r\nHost: %s:%d\r\nContent-Type: application/ocsp-request\r\nContent-Length: "
        "%d\r\n\r\n";
    int derLength = i2d_OCSP_REQUEST(request, nullptr);
    if (derLength <= 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int port = static_cast<int>(url.port);
    int headerLength = std::snprintf(nullptr, 0, format, url.path.c_str(), url.host.c_str(), port, derLength);
    if (headerLength < 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    size_t total = static_cast<size_t>(headerLength) + static_cast<size_t>(derLength);

    // Small messages are built on the stack; snprintf writes one NUL more.
    unsigned char local[4096];
    std::unique_ptr<unsigned char[]> allocated;
    unsigned char *message = local;
    if (total + 1 > sizeof local) {
        allocated.reset(new (std::nothrow) unsigned char[total + 1]);
        if (!allocated) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        message = allocated.get();
    }
    std::snprintf(reinterpret_cast<char *>(message), static_cast<size_t>(headerLength) + 1, format,
                  url.path.c_str(), url.host.c_str(), port, derLength);
    unsigned char *der = message + headerLength;
    if (i2d_OCSP_REQUEST(request, &der) != derLength) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    return sendn(link, message, total, deadline);
}

int getresponse(Link &link, std::vector<unsigned char> *answer, size_t limit, Clock::time_point deadline) {
    answer->reserve(2048);
    unsigned char chunk[1024];
    for (;;) {
        IoStep step = link.read(chunk, sizeof chunk);
        switch (step.kind) {
        case IoStep::Moved:
            if (step.count > limit - answer->size()) return TQ_RTN_RECEIVE;
            answer->insert(answer->end(), chunk, chunk + step.count);
            break;
        case IoStep::WantRead:
        case IoStep::WantWrite:
            if (!link.wait(step, deadline)) return TQ_RTN_RECEIVE;
            break;
        case IoStep::Closed:
            return TQ_RTN_OK;
        case IoStep::Failed:
            return TQ_RTN_RECEIVE;
        }
    }
}

}  // namespace

int sendOcspRequest(OCSP_REQUEST *request, const char *url, OCSP_RESPONSE **response,
                    const ExchangeLimits &limits) {
    if (!request || !response) return TQ_RTN_BAD_ARGUMENT;
    ResponderUrl parts;
    int rc = parseURL(url, &parts);
    if (rc != TQ_RTN_OK) return rc;

    SocketOwner socket;
    rc = doconnect(parts, &socket, Clock::now() + limits.connect);
    if (rc != TQ_RTN_OK) return rc;
    Clock::time_point deadline = Clock::now() + limits.exchange;

    // Declared after the socket, so that the TLS connection is gone before
    // the socket is closed.
    TlsLink tls;
    if (parts.tls) {
        rc = tls.open(socket.fd, parts.host);
        if (rc != TQ_RTN_OK) return rc;
    }
    Link link{socket.fd, parts.tls ? &tls : nullptr};
    std::vector<unsigned char> answer;
    rc = postocsp(link, parts, request, deadline);
    if (rc == TQ_RTN_OK) rc = getresponse(link, &answer, limits.maxAnswer, deadline);
    if (parts.tls) tls.shutdown();
    if (rc != TQ_RTN_OK) return rc;
    return decodeAnswer(answer.data(), answer.size(), response);
}

}  // namespace tq

extern "C" int tqxCryptSendOCSPRequest(OCSP_REQUEST *request, const char *url, OCSP_RESPONSE **response,
                                       int) try {
    tq::ErrorQueueScope scope;
    return tq::sendOcspRequest(request, url, response, tq::ExchangeLimits());
}
TQ_CATCH_CODE
