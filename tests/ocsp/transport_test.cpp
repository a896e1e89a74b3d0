// The HTTP transport against openssl ocsp, socat and a canned server of our
// own, over loopback, with the time limits shortened where a case waits.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <openssl/err.h>

#include "ocsp_internal.h"
#include "ocsp_peers.h"
#include "ocsp_testutil.h"

using namespace tqtest;

namespace {

std::string fx() { return ocspFixtures(); }

// One far larger than any socket buffer, so the kernel cannot take it whole.
tq::OcspRequestPtr hugeRequest() {
    tq::OcspRequestPtr request = opensslRequest();
    std::string filler(16 * 1024 * 1024, 'x');
    tq::Asn1OctetStringPtr value(ASN1_OCTET_STRING_new());
    ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char *>(filler.data()),
                          static_cast<int>(filler.size()));
    tq::Asn1ObjectPtr oid(OBJ_txt2obj("1.2.3.4", 1));
    tq::X509ExtensionPtr ext(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
    EXPECT_EQ(OCSP_REQUEST_add_ext(request.get(), ext.get(), -1), 1);
    return request;
}

tq::ExchangeLimits shortLimits() {
    tq::ExchangeLimits limits;
    limits.connect = std::chrono::milliseconds(700);
    limits.exchange = std::chrono::milliseconds(1200);
    return limits;
}

struct Outcome {
    int rc;
    std::string response;  // DER of the decoded answer
    double seconds;
};

Outcome exchange(OCSP_REQUEST *request, const std::string &url,
                 const tq::ExchangeLimits &limits = tq::ExchangeLimits()) {
    OCSP_RESPONSE *response = nullptr;
    auto start = std::chrono::steady_clock::now();
    int rc = tq::sendOcspRequest(request, url.c_str(), &response, limits);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Outcome o{rc, response ? der(response) : std::string(), seconds};
    OCSP_RESPONSE_free(response);
    if (rc != TQ_RTN_OK) {
        EXPECT_EQ(response, nullptr);
    }
    return o;
}

int certStatusOf(const std::string &responseDer, const std::string &cert) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(responseDer.data());
    tq::OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(responseDer.size())));
    if (!response || OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL) return -2;
    tq::OcspBasicRespPtr basic(OCSP_response_get1_basic(response.get()));
    tq::X509Ptr issuer = loadCert("ca.pem"), subject = loadCert(cert);
    tq::OcspCertIdPtr id(OCSP_cert_to_id(nullptr, subject.get(), issuer.get()));
    int status = -1, reason = -1;
    ASN1_GENERALIZEDTIME *rev = nullptr, *thisUpd = nullptr, *nextUpd = nullptr;
    if (!basic || !OCSP_resp_find_status(basic.get(), id.get(), &status, &reason, &rev, &thisUpd, &nextUpd))
        return -3;
    return status;
}

}  // namespace

TEST(OcspUrl, SplitsSchemeHostPortAndPath) {
    struct Case {
        const char *url;
        bool tls;
        const char *host;
        long port;
        const char *path;
    } cases[] = {
        {"http://ocsp.example/ocsp", false, "ocsp.example", 80, "/ocsp"},
        {"https://ocsp.example:8443", true, "ocsp.example", 8443, "/"},
        {"ocsp.example:8080/x", false, "ocsp.example", 8080, "/x"},
        {"HTTPS://ocsp.example/", true, "ocsp.example", 443, "/"},
        {"HtTp://ocsp.example", false, "ocsp.example", 80, "/"},
        {"http://ocsp.example/a:b", false, "ocsp.example", 80, "/a:b"},
        {"http://ocsp.example/p?q=1&r=/s", false, "ocsp.example", 80, "/p?q=1&r=/s"},
        {"http://h:80x/p", false, "h", 80, "/p"},
        {"http://h:/p", false, "h", 0, "/p"},
        {"http://h:-5/p", false, "h", -5, "/p"},
        {"http://h:+81", false, "h", 81, "/"},
        {"http://h:4294967376/p", false, "h", 1000000, "/p"},
        {"http://h:99999999999999999999999", false, "h", 1000000, "/"},
        {"http://", false, "", 80, "/"},
        {"[::1]:80/", false, "[", 0, "/"},
        {"", false, "", 80, "/"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        tq::ResponderUrl u;
        ASSERT_EQ(tq::parseURL(c.url, &u), TQ_RTN_OK);
        EXPECT_EQ(u.tls, c.tls);
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.path, c.path);
    }
}

TEST(OcspUrl, RefusesControlBytesAndNull) {
    tq::ResponderUrl u;
    EXPECT_EQ(tq::parseURL(nullptr, &u), TQ_RTN_BAD_ARGUMENT);
    for (const char *url : {"http://127.0.0.1/\r\nX-Injected: 1", "http://127.0.0.1\n/", "http://h\t/",
                            "http://127.0.0.1/\x7f", "http://h/\x01"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(tq::parseURL(url, &u), TQ_RTN_BAD_ARGUMENT);
        // Refused before any lookup or connection: a closed port would give 5502.
        tq::OcspRequestPtr request = opensslRequest();
        OCSP_RESPONSE *response = nullptr;
        EXPECT_EQ(tqxCryptSendOCSPRequest(request.get(), url, &response, 0), TQ_RTN_BAD_ARGUMENT);
    }
}

TEST(OcspTransport, WritesRequestLineAndHeadersPerUrlForm) {
    struct Case {
        const char *scheme, *path, *line;
    } cases[] = {
        {"http://", "/ocsp", "POST /ocsp HTTP/1.0"},
        {"", "/x", "POST /x HTTP/1.0"},
        {"HTTP://", "/a:b?c=d", "POST /a:b?c=d HTTP/1.0"},
        {"http://", "", "POST / HTTP/1.0"},
    };
    // A header longer than the stack buffer of small messages.
    const std::string longPath = "/" + std::string(5000, 'p');
    const std::string longLine = "POST " + longPath + " HTTP/1.0";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({"http://", longPath.c_str(), longLine.c_str()});
    for (const Case &c : all) {
        SCOPED_TRACE(std::string(c.scheme) + std::string(c.path).substr(0, 20));
        tq::OcspRequestPtr request = opensslRequest();
        CannedServer server([](CannedPeer &peer) { peer.send(httpAnswer(storedAnswer())); });
        Outcome o = exchange(request.get(), server.url(c.scheme, c.path));
        EXPECT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_EQ(o.response, storedAnswer());
        std::string body = der(request.get());
        std::string expected =
            std::string(c.line) + "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
            "\r\nContent-Type: application/ocsp-request\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
        EXPECT_EQ(server.request(), expected);
    }
}

TEST(OcspTransport, AsksOpensslOcspOverPlainHttp) {
    OcspResponder responder(fx(), 1);
    tq::OcspRequestPtr request = opensslRequest("user-1001.pem");
    OCSP_RESPONSE *response = nullptr;
    ASSERT_EQ(tqxCryptSendOCSPRequest(request.get(), responder.url("/ocsp").c_str(), &response, 0),
              TQ_RTN_OK);
    std::string answer = der(response);
    OCSP_RESPONSE_free(response);
    EXPECT_EQ(certStatusOf(answer, "user-1001.pem"), V_OCSP_CERTSTATUS_REVOKED);
}

TEST(OcspTransport, AsksOpensslOcspThroughTlsFront) {
    for (const char *version : {"TLS1.2", "TLS1.3"}) {
        SCOPED_TRACE(version);
        OcspResponder responder(fx(), 1);
        TlsFront front(fx(), responder.port(),
                       {std::string("min-version=") + version, std::string("max-version=") + version});
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), front.url("/ocsp"));
        ASSERT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_EQ(certStatusOf(o.response, "user-1000.pem"), V_OCSP_CERTSTATUS_GOOD);
    }
}

TEST(OcspTransport, TlsVersionsWithAndWithoutCloseNotify) {
    struct Case {
        int version;
        bool closeNotify;
    } cases[] = {
        {TLS1_2_VERSION, true}, {TLS1_2_VERSION, false}, {TLS1_3_VERSION, true}, {TLS1_3_VERSION, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + (c.closeNotify ? " close_notify" : " bare close"));
        CannedOptions options;
        options.tls = true;
        options.fixtures = fx();
        options.minVersion = options.maxVersion = c.version;
        options.closeNotify = c.closeNotify;
        CannedServer server([](CannedPeer &peer) { peer.send(httpAnswer(storedAnswer())); }, options);
        tq::OcspRequestPtr request = opensslRequest();
        // libssl clears the queue of the thread it runs on: the caller's
        // entries and marks must come back, and must not have turned a retry
        // into a failure.
        pushHostQueue(HostQueue::Marked);
        OCSP_RESPONSE *response = nullptr;
        Outcome o{
            tqxCryptSendOCSPRequest(request.get(), server.url("https://", "/tls").c_str(), &response, 0), "",
            0};
        if (response) o.response = der(response);
        OCSP_RESPONSE_free(response);
        expectHostQueue(HostQueue::Marked, "an exchange over TLS");
        EXPECT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_EQ(o.response, storedAnswer());
        EXPECT_EQ(server.request().compare(0, 20, "POST /tls HTTP/1.0\r\n"), 0);
        // Numeric hosts go without a server name.
        EXPECT_EQ(server.serverName(), "");
    }
}

TEST(OcspTransport, OldTlsOnlyResponderFailsAtOnce) {
    CannedOptions options;
    options.tls = true;
    options.fixtures = fx();
    options.minVersion = TLS1_VERSION;
    options.maxVersion = TLS1_1_VERSION;
    options.cipherList = "DEFAULT:@SECLEVEL=0";
    CannedServer server([](CannedPeer &peer) { peer.send(httpAnswer(storedAnswer())); }, options);
    tq::OcspRequestPtr request = opensslRequest();
    Outcome o = exchange(request.get(), server.url("https://"));
    EXPECT_TRUE(o.rc == TQ_RTN_SEND || o.rc == TQ_RTN_RECEIVE || o.rc == TQ_RTN_PEER_CLOSED) << o.rc;
    EXPECT_LT(o.seconds, 5);
}

TEST(OcspTransport, CannedAnswers) {
    const std::string good = storedAnswer();
    struct Case {
        const char *name;
        std::function<void(CannedPeer &)> act;
        int rc;
    } cases[] = {
        {"HTML error page",
         [](CannedPeer &p) {
             p.send("HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html\r\n\r\n<html>no</html>");
         },
         TQ_RTN_OCSP_BAD_RESPONSE},
        {"close without answer", [](CannedPeer &) {}, TQ_RTN_FAILED},
        {"garbage", [](CannedPeer &p) { p.send("\x16\x03\x01 garbage without any blank line\r\n"); },
         TQ_RTN_FAILED},
        {"bare LF", [good](CannedPeer &p) { p.send("HTTP/1.0 200 OK\nContent-Type: x\n\n" + good); },
         TQ_RTN_FAILED},
        {"blank line only at the very end", [](CannedPeer &p) { p.send("HTTP/1.0 200 OK\r\n\r\n"); },
         TQ_RTN_OCSP_BAD_RESPONSE},
        {"close mid-answer",
         [good](CannedPeer &p) {
             p.send(httpAnswer(good).substr(0, httpAnswer(good).size() - good.size() / 2));
         },
         TQ_RTN_OCSP_BAD_RESPONSE},
        {"reset mid-answer",
         [good](CannedPeer &p) {
             p.send(httpAnswer(good).substr(0, 60));
             p.pause(100);
             linger hard{1, 0};
             setsockopt(p.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
         },
         TQ_RTN_RECEIVE},
        {"tiny pieces",
         [good](CannedPeer &p) {
             for (char c : httpAnswer(good))
                 if (!p.send(&c, 1)) return;
         },
         TQ_RTN_OK},
        {"CR LF CR LF inside the headers' neighbourhood",
         [good](CannedPeer &p) { p.send("HTTP/1.0 200 OK\r\nX: \r\r\n\r\n" + good); }, TQ_RTN_OK},
        {"endless",
         [](CannedPeer &p) {
             std::string chunk(65536, 'a');
             p.send("HTTP/1.0 200 OK\r\n\r\n");
             while (p.send(chunk)) {}
         },
         TQ_RTN_RECEIVE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(c.act);
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), server.url());
        EXPECT_EQ(o.rc, c.rc);
        if (c.rc == TQ_RTN_OK) {
            EXPECT_EQ(o.response, good);
        }
        EXPECT_LT(o.seconds, 10);
    }
}

TEST(OcspTransport, AnswerLimitCountsStatusLineHeadersAndBody) {
    const std::string answer = httpAnswer(storedAnswer());
    for (size_t limit : {answer.size(), answer.size() - 1}) {
        SCOPED_TRACE(limit);
        CannedServer server([answer](CannedPeer &p) { p.send(answer); });
        tq::ExchangeLimits limits;
        limits.maxAnswer = limit;
        tq::OcspRequestPtr request = opensslRequest();
        EXPECT_EQ(exchange(request.get(), server.url(), limits).rc,
                  limit == answer.size() ? TQ_RTN_OK : TQ_RTN_RECEIVE);
    }
}

TEST(OcspTransport, SilentAndDrippingPeersEndAtTheDeadline) {
    struct Case {
        const char *name;
        std::function<void(CannedPeer &)> act;
    } cases[] = {
        {"silent", [](CannedPeer &p) { p.pause(30000); }},
        {"slow drip",
         [](CannedPeer &p) {
             p.send("HTTP/1.0 200 OK\r\n");
             while (p.send("x", 1) && p.pause(100)) {}
         }},
        {"never reads", [](CannedPeer &p) { p.pause(30000); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CannedOptions options;
        options.readRequest = std::string(c.name) != "never reads";
        CannedServer server(c.act, options);
        tq::OcspRequestPtr request = std::string(c.name) == "never reads" ? hugeRequest() : opensslRequest();
        Outcome o = exchange(request.get(), server.url(), shortLimits());
        EXPECT_EQ(o.rc, std::string(c.name) == "never reads" ? TQ_RTN_SEND : TQ_RTN_RECEIVE);
        EXPECT_GT(o.seconds, 1.0);
        EXPECT_LT(o.seconds, 3.0);
    }
}

TEST(OcspTransport, ExportedTransportWaitsTwentySecondsForASilentPeer) {
    CannedServer server([](CannedPeer &p) { p.pause(40000); });
    tq::OcspRequestPtr request = opensslRequest();
    OCSP_RESPONSE *response = nullptr;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tqxCryptSendOCSPRequest(request.get(), server.url().c_str(), &response, 0), TQ_RTN_RECEIVE);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 19.5);
    EXPECT_LT(seconds, 23);
}

TEST(OcspTransport, ConnectFailures) {
    tq::OcspRequestPtr request = opensslRequest();
    int closed = freePort();
    for (std::string url :
         {"http://127.0.0.1:" + std::to_string(closed) + "/", std::string("http://127.0.0.1:0/"),
          std::string("http://127.0.0.1:65536/"), std::string("http://127.0.0.1:-80/"),
          std::string("http://127.0.0.1:x/"), std::string("http://127.0.0.1:4294967376/")}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(exchange(request.get(), url).rc, TQ_RTN_CONNECT);
    }
}

TEST(OcspTransport, ConnectThatNeverCompletes) {
    // A listener whose queue is full drops further connection attempts.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers.push_back(f);
    }
    usleep(200000);
    tq::OcspRequestPtr request = opensslRequest();
    Outcome o =
        exchange(request.get(), "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/", shortLimits());
    EXPECT_EQ(o.rc, TQ_RTN_CONNECT);
    EXPECT_GT(o.seconds, 0.6);
    EXPECT_LT(o.seconds, 2.0);
    for (int f : fillers) close(f);
    close(listener);
}

namespace {
volatile sig_atomic_t sigpipes = 0;
void countSigpipe(int) { sigpipes = sigpipes + 1; }
}  // namespace

TEST(OcspTransport, PeerClosingWhileSendingGives5505WithoutSigpipe) {
    struct sigaction counting {
    }, previous{};
    counting.sa_handler = countSigpipe;
    sigemptyset(&counting.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &counting, &previous), 0);
    for (bool tls : {false, true}) {
        sigpipes = 0;
        SCOPED_TRACE(tls ? "TLS" : "plain");
        CannedOptions options;
        options.readRequest = false;
        options.tls = tls;
        options.closeNotify = false;
        options.fixtures = fx();
        // A FIN first and the reset after it: the sender's next write meets EPIPE.
        CannedServer server(
            [](CannedPeer &p) {
                shutdown(p.fd, SHUT_WR);
                p.pause(200);
            },
            options);
        tq::OcspRequestPtr request = hugeRequest();
        EXPECT_EQ(exchange(request.get(), server.url(tls ? "https://" : "http://")).rc, TQ_RTN_PEER_CLOSED);
        EXPECT_EQ(sigpipes, 0);
    }
    // SIGPIPE is deliverable again afterwards: the block was lifted.
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(OcspTransport, ArgumentsAndErrorQueue) {
    tq::OcspRequestPtr request = opensslRequest();
    OCSP_RESPONSE *response = nullptr;
    EXPECT_EQ(tqxCryptSendOCSPRequest(nullptr, "http://127.0.0.1/", &response, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCryptSendOCSPRequest(request.get(), nullptr, &response, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCryptSendOCSPRequest(request.get(), "http://127.0.0.1/", nullptr, 0), TQ_RTN_BAD_ARGUMENT);
    // An undecodable body queues OpenSSL reasons; the caller's queue stays as it was.
    ERR_clear_error();
    CannedServer server([](CannedPeer &p) { p.send("HTTP/1.0 200 OK\r\n\r\n\x30\x03\x0a\x01"); });
    EXPECT_EQ(tqxCryptSendOCSPRequest(request.get(), server.url().c_str(), &response, 0),
              TQ_RTN_OCSP_BAD_RESPONSE);
    EXPECT_EQ(response, nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

// Host names need a resolver of the test's own: these cases run inside a new
// network and mount namespace (and a user namespace where that is what is
// permitted) with loopback up and an /etc/hosts and /etc/resolv.conf of
// their own, where ports 53, 80 and 443 are free to bind. The resolver asks
// 127.0.0.1, where a case's own name server listens or nothing does, and
// would wait a minute for a silent one.
TEST(OcspNamespace, RunsNamedCasesInsideANamespace) {
    if (std::getenv("TQ_OCSP_NAMESPACE")) GTEST_SKIP() << "already inside";
    if (access("/etc/resolv.conf", F_OK) != 0)
        GTEST_SKIP() << "no /etc/resolv.conf to cover with the test's own";
    int status = -1;
    std::string unshare;
    for (const char *command : {"unshare -nm", "unshare -rnm"}) {
        run(std::string(command) + " true 2>/dev/null", &status);
        if (status == 0) {
            unshare = command;
            break;
        }
    }
    if (unshare.empty()) GTEST_SKIP() << "neither unshare -nm nor unshare -rnm is permitted here";
    TempDir dir;
    writeFile(dir.file("hosts"), std::string("127.0.0.1 responder.test\n2001:db8::1 v6only.test\n"));
    writeFile(dir.file("resolv.conf"), std::string("nameserver 127.0.0.1\noptions timeout:30 attempts:2\n"));
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::string script = "ip link set lo up && mount --bind " + dir.file("hosts") +
                         " /etc/hosts && mount --bind " + dir.file("resolv.conf") +
                         " /etc/resolv.conf && TQ_OCSP_NAMESPACE=1 exec env -u RES_OPTIONS -u LOCALDOMAIN " +
                         self + " --gtest_filter='InNamespace.*'";
    std::string out = run("timeout 120 " + unshare + " sh -c \"" + script + "\" 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
    EXPECT_EQ(out.find("[  SKIPPED ]"), std::string::npos) << out;
}

class InNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("TQ_OCSP_NAMESPACE")) GTEST_SKIP() << "runs only inside the test's namespace";
    }
};

TEST_F(InNamespace, NamesAndDefaultPorts) {
    {
        CannedServer server([](CannedPeer &p) { p.send(httpAnswer(storedAnswer())); }, CannedOptions(), 80);
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), "http://responder.test/ocsp");
        EXPECT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_NE(server.request().find("POST /ocsp HTTP/1.0\r\nHost: responder.test:80\r\n"),
                  std::string::npos);
    }
    {
        CannedOptions options;
        options.tls = true;
        options.fixtures = fx();
        CannedServer server([](CannedPeer &p) { p.send(httpAnswer(storedAnswer())); }, options, 443);
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), "https://responder.test");
        EXPECT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_NE(server.request().find("POST / HTTP/1.0\r\nHost: responder.test:443\r\n"),
                  std::string::npos);
        EXPECT_EQ(server.serverName(), "responder.test");
    }
}

TEST_F(InNamespace, UnknownAndIpv6OnlyHosts) {
    tq::OcspRequestPtr request = opensslRequest();
    // The lookup comes first: an impossible port does not hide an unknown host.
    for (const char *url : {"http://nohost.invalid/", "https://nohost.invalid:0/", "http://v6only.test/",
                            "http://[::1]:80/", "http://:80/"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(exchange(request.get(), url).rc, TQ_RTN_HOST_LOOKUP);
    }
}

namespace {

// Threads of this process now.
size_t threadCount() {
    size_t n = 0;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (dirent *entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++n;
        closedir(tasks);
    }
    return n;
}

// Waits (at most 10 s) until no more than `most` threads run.
bool threadsEndDownTo(size_t most) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (threadCount() > most) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(20000);
    }
    return true;
}

std::string namedUrl(int port) { return "http://responder.example.test:" + std::to_string(port) + "/"; }

}  // namespace

// The lookup counts inside the connect time: an answer in time connects, a
// held one gives 5501 when the time is up, and the lookup left behind ends by
// itself once its answer comes.
TEST_F(InNamespace, NameServerAnsweringInTimeOrAfterTheConnectTime) {
    for (bool holding : {false, true}) {
        SCOPED_TRACE(holding ? "holding" : "answering");
        NameServer names(holding);
        CannedServer server([](CannedPeer &p) { p.send(httpAnswer(storedAnswer())); });
        size_t threads = threadCount();
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), namedUrl(server.port()), shortLimits());
        EXPECT_GE(names.queries(), 1);
        if (holding) {
            EXPECT_EQ(o.rc, TQ_RTN_HOST_LOOKUP);
            EXPECT_GE(o.seconds, 0.7);
            EXPECT_LT(o.seconds, 0.7 + 2);
            names.release();
        } else {
            EXPECT_EQ(o.rc, TQ_RTN_OK);
            EXPECT_EQ(o.response, storedAnswer());
        }
        EXPECT_TRUE(threadsEndDownTo(threads)) << threadCount() << " threads, " << threads << " before";
    }
}

// Callers on three threads at once each get 5501 after the exported call's
// 10 s, not after the resolver's minute; the host may unload the library
// meanwhile, and its calls go on while the lookups are still out.
TEST_F(InNamespace, ExportedCallGivesUpOnASilentNameServer) {
    NameServer names(true);
    void *library = dlopen(TQ_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Send = int (*)(OCSP_REQUEST *, const char *, OCSP_RESPONSE **, int);
    auto send = reinterpret_cast<Send>(dlsym(library, "tqxCryptSendOCSPRequest"));
    ASSERT_NE(send, nullptr);
    size_t threads = threadCount();

    struct Call {
        int rc = -1;
        OCSP_RESPONSE *response = nullptr;
        double seconds = 0;
    } calls[3];
    std::vector<std::thread> callers;
    for (Call &call : calls)
        callers.emplace_back([&call, send] {
            tq::OcspRequestPtr request = opensslRequest();
            auto start = std::chrono::steady_clock::now();
            call.rc = send(request.get(), "http://responder.example.test/", &call.response, 0);
            call.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    for (std::thread &caller : callers) caller.join();
    for (const Call &call : calls) {
        EXPECT_EQ(call.rc, TQ_RTN_HOST_LOOKUP);
        EXPECT_EQ(call.response, nullptr);
        EXPECT_GE(call.seconds, 10.0);
        EXPECT_LT(call.seconds, 10.0 + 3);
    }
    EXPECT_GE(names.queries(), 3);

    dlclose(library);
    {
        CannedServer server([](CannedPeer &p) { p.send(httpAnswer(storedAnswer())); });
        tq::OcspRequestPtr request = opensslRequest();
        Outcome o = exchange(request.get(), "http://responder.test:" + std::to_string(server.port()) + "/");
        EXPECT_EQ(o.rc, TQ_RTN_OK);
        EXPECT_LT(o.seconds, 5);
    }
    // The lookups return into the library they were started from.
    names.release();
    EXPECT_TRUE(threadsEndDownTo(threads)) << threadCount() << " threads, " << threads << " before";
}
