// The UDP port owner from canned /proc text and a made-up /proc tree.
#include "UdpOwner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// As the kernel writes them (Linux 6.1): the header, then one socket a line.
constexpr const char* kHeader =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops\n";
constexpr const char* kDnsmasq = "  193: 00000000:0043 00000000:0000 07 00000000:00000000 "
                                 "00:00000000 00000000   107        0 31337 2 0000000000000000 0\n";
constexpr const char* kResolver =
    " 5912: 3500007F:0035 00000000:0000 07 00000000:00000000 "
    "00:00000000 00000000   101        0 18812 2 0000000000000000 0\n";
constexpr const char* kHeader6 =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n";
constexpr const char* kDualStack =
    "  193: 00000000000000000000000000000000:0043 00000000000000000000000000000000:0000 07 "
    "00000000:00000000 00:00000000 00000000     0        0 4711 2 0000000000000000 0\n";

TEST(UdpTable, ReadsPortUidAndInode)
{
    const auto entries = netlink::parseUdpTable(std::string(kHeader) + kDnsmasq + kResolver);
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].port, 67u);
    EXPECT_EQ((*entries)[0].uid, 107u);
    EXPECT_EQ((*entries)[0].inode, 31337u);
    EXPECT_EQ((*entries)[1].port, 53u);

    const auto six = netlink::parseUdpTable(std::string(kHeader6) + kDualStack);
    ASSERT_TRUE(six.ok());
    ASSERT_EQ(six->size(), 1u);
    EXPECT_EQ((*six)[0].port, 67u);
    EXPECT_EQ((*six)[0].inode, 4711u);

    const auto none = netlink::parseUdpTable(kHeader);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
}

TEST(UdpTable, TextInAnotherFormIsAnError)
{
    const std::string cut = std::string(kDnsmasq).substr(0, 60) + "\n";
    const std::string badPort = "  193: 00000000:00G3 00000000:0000 07 00000000:00000000 "
                                "00:00000000 00000000   107        0 31337 2 0 0\n";
    const std::string badUid = "  193: 00000000:0043 00000000:0000 07 00000000:00000000 "
                               "00:00000000 00000000   -1        0 31337 2 0 0\n";
    for (const std::string& text :
         {std::string(), std::string(kDnsmasq), std::string(kHeader) + cut,
          std::string(kHeader) + badPort, std::string(kHeader) + badUid}) {
        const auto r = netlink::parseUdpTable(text);
        EXPECT_FALSE(r.ok()) << text;
        EXPECT_EQ(r.error(), EBADMSG) << text;
    }
}

// A /proc of its own: net/udp, net/udp6 and processes with descriptors.
class FakeProc : public testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/netlink-proc-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        root = name;
        fs::create_directories(root / "net");
    }
    void TearDown() override { fs::remove_all(root); }

    void write(const fs::path& path, const std::string& text)
    {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    }
    void process(int pid, const char* comm, std::initializer_list<std::string> targets)
    {
        const fs::path fd = root / std::to_string(pid) / "fd";
        fs::create_directories(fd);
        int n = 0;
        for (const std::string& t : targets) {
            fs::create_symlink(t, fd / std::to_string(n++));
        }
        write(std::to_string(pid) + "/comm", std::string(comm) + "\n");
    }
    netlink::Result<netlink::UdpOwner> owner(unsigned port)
    {
        return netlink::udpPortOwner(port, root.string());
    }

    fs::path root;
};

TEST_F(FakeProc, FindsTheProcess)
{
    write("net/udp", std::string(kHeader) + kDnsmasq + kResolver);
    write("net/udp6", kHeader6);
    process(12, "bash", {"/dev/pts/0", "socket:[18812]"});
    process(812, "dnsmasq", {"/dev/null", "socket:[313370]", "socket:[31337]"});
    const auto o = owner(67);
    ASSERT_TRUE(o.ok());
    EXPECT_TRUE(o->found);
    EXPECT_EQ(o->uid, 107u);
    EXPECT_EQ(o->pid, 812);
    EXPECT_EQ(o->program, "dnsmasq");
    EXPECT_EQ(o->hiddenBy, 0);
}

TEST_F(FakeProc, DualStackSocketHoldsTheIpv4Port)
{
    write("net/udp", std::string(kHeader) + kResolver);
    write("net/udp6", std::string(kHeader6) + kDualStack);
    process(900, "kea-dhcp4", {"socket:[4711]"});
    const auto o = owner(67);
    ASSERT_TRUE(o.ok());
    EXPECT_TRUE(o->found);
    EXPECT_EQ(o->user, "root");
    EXPECT_EQ(o->pid, 900);
}

TEST_F(FakeProc, HiddenProcessLeavesTheOwnerWithoutPid)
{
    write("net/udp", std::string(kHeader) + kDnsmasq);
    // A descriptor folder that cannot be opened, as another user's is.
    write("812/fd", "");
    const auto o = owner(67);
    ASSERT_TRUE(o.ok());
    EXPECT_TRUE(o->found);
    EXPECT_EQ(o->uid, 107u);
    EXPECT_EQ(o->pid, 0);
    EXPECT_EQ(o->hiddenBy, ENOTDIR);
    EXPECT_FALSE(o->user.empty());
}

TEST_F(FakeProc, FreePortAndMissingIpv6)
{
    write("net/udp", std::string(kHeader) + kResolver);
    const auto o = owner(67);
    ASSERT_TRUE(o.ok());
    EXPECT_FALSE(o->found);
}

TEST_F(FakeProc, UnreadableTableIsAnError)
{
    const auto missing = owner(67);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), ENOENT);

    write("net/udp", std::string(kHeader) + kResolver);
    write("net/udp6", "garbage\n");
    const auto garbled = owner(67);
    ASSERT_FALSE(garbled.ok());
    EXPECT_EQ(garbled.error(), EBADMSG);
}

} // namespace
