// The page server over loopback (127.0.0.0/8 only), in a thread of the test.

#include "HttpServer.h"
#include "SimLink.h"
#include "Tls.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace cardsim;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr Octets kLoopback{127, 0, 0, 1};

Fd connectTo(const Octets& address, std::uint16_t port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr, address.data(), 4);
    const timeval wait{3, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0)
        << std::strerror(errno);
    return fd;
}

// Sends `head` and reads until the server closes (or 3 s pass).
std::string exchange(const Fd& fd, const std::string& head)
{
    EXPECT_EQ(::send(fd.get(), head.data(), head.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(head.size()));
    std::string answer;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), chunk, sizeof chunk, 0)) > 0) {
        answer.append(chunk, static_cast<std::size_t>(n));
    }
    return answer;
}

std::string get(const Octets& address, std::uint16_t port)
{
    return exchange(connectTo(address, port), "GET / HTTP/1.0\r\n\r\n");
}

// A server running in its own thread until the fixture ends.
class HttpServerTest : public ::testing::Test {
protected:
    void start(Clock::duration connectionDeadline = 5s)
    {
        server_ = std::make_unique<HttpServer>(connectionDeadline);
        port_ = server_->listen(kLoopback, 0, "", "<title>one</title>");
    }

    void run()
    {
        thread_ = std::thread([this] { server_->serve(Clock::now() + 20s, stop_, nullptr); });
    }

    // The stop flag is read when the server wakes; a connection wakes it.
    void stopServer()
    {
        stop_ = 1;
        if (thread_.joinable()) {
            connectTo(kLoopback, port_);
            thread_.join();
        }
    }

    void TearDown() override { stopServer(); }

    static double millisecondsSince(Clock::time_point start)
    {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    std::unique_ptr<HttpServer> server_;
    std::uint16_t port_ = 0;
    volatile sig_atomic_t stop_ = 0;
    std::thread thread_;
};

TEST_F(HttpServerTest, silentClientsDoNotHoldUpAnother)
{
    start();
    run();
    std::vector<Fd> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(connectTo(kLoopback, port_));
    }
    std::this_thread::sleep_for(100ms);
    const auto started = Clock::now();
    EXPECT_NE(get(kLoopback, port_).find("<title>one</title>"), std::string::npos);
    EXPECT_LT(millisecondsSince(started), 1000);
}

TEST_F(HttpServerTest, moreSilentClientsThanRoomStillLetOneThrough)
{
    start();
    run();
    std::vector<Fd> silent;
    for (std::size_t i = 0; i < HttpServer::kMaxConnections + 20; ++i) {
        silent.push_back(connectTo(kLoopback, port_));
    }
    std::this_thread::sleep_for(200ms);
    const auto started = Clock::now();
    EXPECT_NE(get(kLoopback, port_).find("200 OK"), std::string::npos);
    EXPECT_LT(millisecondsSince(started), 1000);
}

TEST_F(HttpServerTest, unfinishedHeadIsAnsweredAtItsDeadlineAndSilenceIsClosed)
{
    start(300ms);
    run();
    const Fd partial = connectTo(kLoopback, port_);
    const Fd silent = connectTo(kLoopback, port_);
    auto started = Clock::now();
    EXPECT_TRUE(exchange(partial, "GET / HTTP/1.0\r\n").starts_with("HTTP/1.0 200 OK"));
    EXPECT_GE(millisecondsSince(started), 250);
    char byte;
    EXPECT_EQ(::recv(silent.get(), &byte, 1, 0), 0); // closed without an answer
    EXPECT_LT(millisecondsSince(started), 2000);
    EXPECT_EQ(server_->answered(), 1);
}

TEST_F(HttpServerTest, eachAddressAnswersItsOwnPageAndTheLogSeesEveryAnswer)
{
    start();
    const Octets second{127, 0, 0, 2};
    const std::uint16_t port = server_->listen(second, 0, "", "<title>two</title>");
    std::vector<int> statuses;
    std::atomic<int> logged = 0;
    thread_ = std::thread([&] {
        server_->serve(Clock::now() + 20s, stop_, nullptr, [&](const HttpAnswer& a) {
            statuses.push_back(a.status);
            ++logged;
        });
    });
    EXPECT_NE(get(kLoopback, port_).find("<title>one</title>"), std::string::npos);
    EXPECT_NE(get(second, port).find("<title>two</title>"), std::string::npos);
    EXPECT_TRUE(
        exchange(connectTo(second, port), "GET /x HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 404"));
    stopServer();
    EXPECT_EQ(logged, 3);
    EXPECT_EQ(statuses, (std::vector<int>{200, 200, 404}));
}

// A TLS client on a plain blocking socket: the handshake, one request, the whole answer, and
// the fingerprint of the certificate the server presented.
struct TlsExchange {
    bool handshake = false;
    std::string answer;
    std::string fingerprint;
};

TlsExchange tlsExchange(const Octets& address, std::uint16_t port, const std::string& request)
{
    TlsExchange result;
    const Fd fd = connectTo(address, port);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd.get());
    result.handshake = SSL_connect(ssl) == 1;
    if (result.handshake) {
        X509* cert = SSL_get1_peer_certificate(ssl);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        X509_digest(cert, EVP_sha256(), digest, &length);
        for (unsigned int i = 0; i < length; ++i) {
            char pair[4];
            std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
            result.fingerprint += pair;
        }
        X509_free(cert);
        SSL_write(ssl, request.data(), static_cast<int>(request.size()));
        char chunk[4096];
        int n;
        while ((n = SSL_read(ssl, chunk, sizeof chunk)) > 0) {
            result.answer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return result;
}

// HTTPS with the card's own certificate, a login in front of it, and the HTTP port sending
// the browser there; each start makes another certificate.
TEST_F(HttpServerTest, httpsWithItsOwnCertificateBehindALoginAndTheRedirectToIt)
{
    server_ = std::make_unique<HttpServer>(5s);
    const Tls tls(kLoopback);
    const Tls another(kLoopback);
    EXPECT_EQ(tls.fingerprint().size(), 95u);
    EXPECT_NE(tls.fingerprint(), another.fingerprint());
    port_ = server_->listen(kLoopback, 0, "", HttpSite{{}, {}, "https://127.0.0.1/"});
    const std::uint16_t securePort = server_->listen(
        kLoopback, 0, "", HttpSite{"<title>card</title>", "admin:secret", {}}, tls.context());
    run();

    const std::string redirect =
        exchange(connectTo(kLoopback, port_), "GET /upload?x=1 HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_TRUE(redirect.starts_with("HTTP/1.0 302 Found\r\n")) << redirect;
    EXPECT_NE(redirect.find("\r\nLocation: https://127.0.0.1/upload?x=1\r\n"), std::string::npos);

    const TlsExchange anonymous = tlsExchange(kLoopback, securePort, "GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(anonymous.handshake);
    EXPECT_EQ(anonymous.fingerprint, tls.fingerprint());
    EXPECT_TRUE(anonymous.answer.starts_with("HTTP/1.0 401 Unauthorized\r\n"));
    EXPECT_NE(anonymous.answer.find("WWW-Authenticate: Basic realm=\"Web/SNMP Card\"\r\n"),
              std::string::npos);

    const TlsExchange loggedIn = tlsExchange(
        kLoopback, securePort, "GET / HTTP/1.0\r\nauthorization:  basic YWRtaW46c2VjcmV0\r\n\r\n");
    EXPECT_TRUE(loggedIn.answer.starts_with("HTTP/1.0 200 OK\r\n")) << loggedIn.answer;
    EXPECT_NE(loggedIn.answer.find("<title>card</title>"), std::string::npos);

    // A client that speaks plain HTTP to the TLS port gets nothing, and the server goes on.
    exchange(connectTo(kLoopback, securePort), "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(tlsExchange(kLoopback, securePort, "GET / HTTP/1.0\r\n\r\n").handshake);
    stopServer(); // before the certificates go
}

// A firmware image larger than any one read arrives whole, over TLS.
TEST_F(HttpServerTest, uploadArrivesWholeOverTls)
{
    server_ = std::make_unique<HttpServer>(5s);
    const Tls tls(kLoopback);
    port_ =
        server_->listen(kLoopback, 0, "", HttpSite{"<title>card</title>", {}, {}}, tls.context());
    run();
    std::string image(300000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 31 + 7);
    }
    const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"firmware\"; "
                             "filename=\"fw.bin\"\r\nContent-Type: application/octet-stream"
                             "\r\n\r\n" +
                             image + "\r\n--XyZ--\r\n";
    const TlsExchange upload =
        tlsExchange(kLoopback, port_,
                    "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                    "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(upload.answer.starts_with("HTTP/1.0 200 OK\r\n")) << upload.answer.substr(0, 200);
    EXPECT_NE(upload.answer.find(">fw.bin 300000 bytes fnv1a64 "), std::string::npos)
        << upload.answer;
    stopServer(); // before the certificate goes
}

} // namespace
