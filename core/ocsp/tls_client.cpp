// The TLS client of the transport: negotiated version from TLS 1.2 on, the
// default cipher list, no verification, and no SIGPIPE for the host.
#include <arpa/inet.h>

#include <cerrno>
#include <mutex>
#include <type_traits>

#include "ocsp_internal.h"

namespace {

// libssl empties the calling thread's error queue at every handshake and
// record step, and the caller's entries would go with it: each step of a
// link runs on a thread of its own.
template <class Step>
std::invoke_result_t<Step &> apart(Step step, std::invoke_result_t<Step &> failed) {
    struct Work {
        Step &step;
        std::invoke_result_t<Step &> result;
    } work{step, failed};
    const bool ran = tq::onOwnErrorQueue(
        [](void *context) {
            Work &w = *static_cast<Work *>(context);
            w.result = w.step();
        },
        &work);
    return ran ? work.result : failed;
}

}  // namespace

namespace tq {

TlsLink::~TlsLink() = default;

int TlsLink::open(int socket, const std::string &host) {
    return apart([&] { return openHere(socket, host); }, TQ_RTN_MEMORY_ALLOCATE_FAIL);
}

IoStep TlsLink::write(const unsigned char *bytes, size_t length) {
    return apart([&] { return writeHere(bytes, length); }, IoStep{IoStep::Failed, 0, EAGAIN});
}

IoStep TlsLink::read(unsigned char *bytes, size_t length) {
    return apart([&] { return readHere(bytes, length); }, IoStep{IoStep::Failed, 0, EAGAIN});
}

void TlsLink::shutdown() {
    apart([&] { return shutdownHere(); }, false);
}

int TlsLink::openHere(int socket, const std::string &host) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { OPENSSL_init_ssl(0, nullptr); });

    ctx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!ctx_ || SSL_CTX_set_cipher_list(ctx_.get(), "DEFAULT") != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    // The system's floor stays when it is higher.
    long floor = SSL_CTX_get_min_proto_version(ctx_.get());
    if (floor == 0 || floor < TLS1_2_VERSION) SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(ctx_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_NONE, nullptr);

    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    BIO *bio = BIO_new_socket(socket, BIO_NOCLOSE);
    if (!bio) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    SSL_set_bio(ssl_.get(), bio, bio);
    unsigned char numeric[sizeof(in6_addr)];
    if (inet_pton(AF_INET, host.c_str(), numeric) != 1 && inet_pton(AF_INET6, host.c_str(), numeric) != 1 &&
        !host.empty() && SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) != 1)
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    SSL_set_connect_state(ssl_.get());
    return TQ_RTN_OK;
}

IoStep TlsLink::outcome(int ret, bool writing) {
    if (ret > 0) return {IoStep::Moved, static_cast<size_t>(ret), 0};
    int error = errno;
    // A close_notify, or (by SSL_OP_IGNORE_UNEXPECTED_EOF) a bare close.
    if (SSL_get_shutdown(ssl_.get()) & SSL_RECEIVED_SHUTDOWN) return {IoStep::Closed, 0, 0};
    int kind = SSL_get_error(ssl_.get(), ret);
    if (kind == SSL_ERROR_WANT_READ) return {IoStep::WantRead, 0, 0};
    if (kind == SSL_ERROR_WANT_WRITE) return {IoStep::WantWrite, 0, 0};
    if (kind == SSL_ERROR_ZERO_RETURN) return {IoStep::Closed, 0, 0};
    // A caller's stale queue entry makes SSL_get_error report a failure for
    // what is only a retry; the socket's errno tells.
    if (error == EAGAIN || error == EWOULDBLOCK) {
        if (SSL_want_read(ssl_.get())) return {IoStep::WantRead, 0, 0};
        if (SSL_want_write(ssl_.get())) return {IoStep::WantWrite, 0, 0};
    }
    // Without errno the socket reached its end mid-handshake or mid-record.
    if (kind == SSL_ERROR_SYSCALL && error == 0 && writing) return {IoStep::Closed, 0, 0};
    return {IoStep::Failed, 0, error};
}

IoStep TlsLink::writeHere(const unsigned char *bytes, size_t length) {
    int n = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    errno = 0;
    return outcome(SSL_write(ssl_.get(), bytes, n), true);
}

IoStep TlsLink::readHere(unsigned char *bytes, size_t length) {
    int n = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    errno = 0;
    return outcome(SSL_read(ssl_.get(), bytes, n), false);
}

bool TlsLink::shutdownHere() {
    return ssl_ && SSL_is_init_finished(ssl_.get()) && SSL_shutdown(ssl_.get()) >= 0;
}

}  // namespace tq
