// The page server over loopback (127.0.0.0/8 only), in a thread of the test.

#include "HttpServer.h"
#include "Link.h"

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

} // namespace
