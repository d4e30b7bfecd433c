// What only the Windows side of torvane-assign does: the record's file calls, the interface and
// neighbour queries of the IP Helper API, and the UDP port's owner. Under Wine, in a network
// namespace with only loopback.
#include "HttpCheck.h"
#include "Network.h"
#include "PortHolderText.h"
#include "RecordFile.h"
#include "TestSupport.h"
#include "WinNet.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

using namespace assign;

namespace {

using RecordOnDiskWindows = assign::test::TemporaryFolder;

RecordEntry entry(int n)
{
    text::Twin why;
    return {Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, static_cast<std::uint8_t>(n)},
            *parseIp("10.0.0." + std::to_string(100 + n), why),
            *parseIp("255.255.255.0", why),
            *parseIp("10.0.0.1", why),
            localTimeText(),
            Confirmed::Pending,
            "",
            {},
            {},
            {}};
}

std::string contents(const std::string& path)
{
    std::string text;
    std::string error;
    text::Twin why;
    EXPECT_TRUE(readFile(path, 1 << 20, text, why)) << why.english;
    return text;
}

long filesIn(const std::string& dir)
{
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator{});
}

TEST_F(RecordOnDiskWindows, AFailedRewriteKeepsTheOldRecordAndLeavesNothingBehind)
{
    // Backslashes, as the operator types a path on Windows.
    const std::string path = m_dir + "\\record.csv";
    RecordFile file(path, {});
    std::string error;
    text::Twin why;
    ASSERT_TRUE(file.put(entry(1), error)) << error;
    const std::string before = contents(path);
    EXPECT_EQ(filesIn(m_dir), 1);

    // A program holds the record open without letting it be replaced (a spreadsheet does).
    const HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(file.writable(why)); // said before anything is sent
    EXPECT_NE(why.english.find(path), std::string::npos) << why.english;
    EXPECT_FALSE(file.put(entry(2), error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    ::CloseHandle(held);
    EXPECT_EQ(contents(path), before);
    EXPECT_EQ(filesIn(m_dir), 1) << "a temporary file was left behind";

    ASSERT_TRUE(file.writable(why)) << why.english;
    ASSERT_TRUE(file.put(entry(3), error)) << error;
    EXPECT_EQ(readRecord(contents(path)).entries.size(), 3u);
    EXPECT_EQ(filesIn(m_dir), 1);

    // A folder that is not there is named as such, not as a missing record.
    RecordFile nowhere(m_dir + "\\missing\\record.csv", {});
    EXPECT_FALSE(nowhere.writable(why));
    EXPECT_NE(why.english.find("cannot write in its folder " + m_dir + "\\missing\\"),
              std::string::npos)
        << error;
}

TEST_F(RecordOnDiskWindows, ARecordThatIsAReparsePointIsRefused)
{
    const std::string path = m_dir + "\\record.csv";
    const std::string linked = m_dir + "\\linked.csv";
    RecordFile file(path, {});
    std::string error;
    text::Twin why;
    ASSERT_TRUE(file.put(entry(1), error)) << error;
    const std::string before = contents(path);
    // Unprivileged links need the developer mode; Wine 8 answers success and makes none.
    const BOOL made = ::CreateSymbolicLinkA(linked.c_str(), path.c_str(),
                                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = ::GetFileAttributesA(linked.c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system cannot make a symbolic link (CreateSymbolicLink "
                     << (made ? "answered success and made no link" : "failed") << ")";
    }
    RecordFile viaLink(linked, {});
    EXPECT_FALSE(viaLink.writable(why));
    EXPECT_NE(why.english.find("is a symbolic link"), std::string::npos) << why.english;
    EXPECT_FALSE(viaLink.put(entry(2), error));
    std::string text;
    EXPECT_FALSE(readFile(linked, 1 << 20, text, why, true));
    EXPECT_NE(why.english.find("is a symbolic link"), std::string::npos) << why.english;
    EXPECT_EQ(contents(path), before);
    EXPECT_NE(::GetFileAttributesA(linked.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
}

TEST(RecordTimeWindows, TheOffsetIsTheLocalZonesWhateverItsSign)
{
    // The C runtime's %z gives the zone's name on Windows; the offset is worked out instead.
    for (const auto& [zone, offset] :
         {std::pair{"JST-9", "+09:00"}, std::pair{"EST5", "-05:00"},
          std::pair{"IST-5:30", "+05:30"}, std::pair{"UTC0", "+00:00"}}) {
        ::_putenv_s("TZ", zone);
        ::_tzset();
        const std::string time = localTimeText();
        EXPECT_TRUE(recordTime(time)) << zone << ": " << time;
        EXPECT_EQ(time.substr(19), offset) << zone << ": " << time;
    }
    ::_putenv_s("TZ", "");
    ::_tzset();
}

// --- interfaces and neighbours ----------------------------------------------------------

/// The loopback interface's index, found through the addresses.
unsigned loopbackIndex()
{
    const netlink::Result<std::vector<LocalAddress>> local = readLocalAddresses();
    EXPECT_TRUE(local.ok()) << errorText(local.error());
    if (local) {
        for (const LocalAddress& a : *local) {
            if (a.ip == 0x7F000001) {
                EXPECT_EQ(a.mask, 0xFF000000u);
                return a.index;
            }
        }
    }
    ADD_FAILURE() << "127.0.0.1 is not among this PC's addresses";
    return 0;
}

TEST(NetworkWindows, InterfacesAreFoundByAliasOrIndexAndAMissingOneIsNone)
{
    const unsigned lo = loopbackIndex();
    ASSERT_NE(lo, 0u);
    const InterfaceState byIndex = interfaceState(std::to_string(lo));
    EXPECT_EQ(byIndex.error, 0);
    EXPECT_EQ(byIndex.index, lo);
    EXPECT_TRUE(byIndex.up);
    const std::string alias = interfaceName(lo);
    EXPECT_NE(alias, "interface " + std::to_string(lo));
    EXPECT_EQ(interfaceState(alias).index, lo) << alias;

    for (const char* name : {"no such interface", "4294967295", ""}) {
        const InterfaceState s = interfaceState(name);
        EXPECT_EQ(s.index, 0u) << name;
        EXPECT_EQ(s.error, 0) << name;
    }
}

TEST(NetworkWindows, NoEntryIsAnAnswerOnlyOnAnInterfaceThatExists)
{
    const unsigned lo = loopbackIndex();
    ASSERT_NE(lo, 0u);
    const auto none = readNeighbourEntry(lo, 0x7F000009);
    ASSERT_TRUE(none.ok()) << errorText(none.error());
    EXPECT_FALSE(*none);

    const auto gone = readNeighbourEntry(99999, 0x7F000009);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error(), ENODEV);
    EXPECT_NE(errorText(gone.error()).find("GetIfEntry2"), std::string::npos)
        << errorText(gone.error());
    EXPECT_THROW(neighbourEntry(99999, 0x7F000009), std::system_error);
}

TEST(NetworkWindows, NudgeSendsOnLoopbackAndThePortsOwnerIsNamed)
{
    EXPECT_TRUE(nudge(loopbackIndex(), 0x7F000001)) << errorText(errno);

    const winnet::Winsock winsock;
    std::uint16_t port = 0;
    {
        auto server = winnet::UdpServerSocket::open(0, {127, 0, 0, 1});
        ASSERT_TRUE(server) << winnet::describe(server.failure());
        port = server->localPort();
        EXPECT_EQ(udpPortHolderText(port).english, "another program (assign_test.exe, pid " +
                                                       std::to_string(::GetCurrentProcessId()) +
                                                       ")");
    }
    EXPECT_EQ(udpPortHolderText(port).english, "another program (unknown)");

    // Wine knows no process for a socket whose descriptor only its server holds (one that was
    // only bound): the sentence says so, it never names pid 0.
    const SOCKET plain = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(plain, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    int length = sizeof a;
    ::getsockname(plain, reinterpret_cast<sockaddr*>(&a), &length);
    const std::string owner = udpPortHolderText(::ntohs(a.sin_port)).english;
    EXPECT_EQ(owner.find("pid 0"), std::string::npos) << owner;
    ::closesocket(plain);
}

TEST(HttpCheckWindows, TheCheckLeavesByTheCardsInterface)
{
    // IP_UNICAST_IF on the connecting socket: the card's interface is named, and the answer
    // still comes.
    assign::test::LoopbackServer server;
    server.listen();
    HttpCheck check(0x7F000001, loopbackIndex(), HttpCheck::Clock::now() + std::chrono::seconds(3),
                    server.port);
    std::thread answer([&server] { server.answerOnce("HTTP/1.1 200 OK\r\n\r\n"); });
    const auto end = HttpCheck::Clock::now() + std::chrono::seconds(4);
    while (check.state() == HttpCheck::State::Running && HttpCheck::Clock::now() < end) {
        ::Sleep(10);
        check.step(HttpCheck::Clock::now());
    }
    answer.join();
    EXPECT_EQ(check.state(), HttpCheck::State::Answered) << check.lastError();
    EXPECT_EQ(check.statusLine(), "HTTP/1.1 200 OK");
    EXPECT_EQ(check.handle(), HttpCheck::kNoSocket);
}

} // namespace
