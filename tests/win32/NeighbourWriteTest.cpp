#include "NeighbourWrite.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

// The neighbour write's rules against a fake IP Helper that records the calls.
namespace {

using helper::Refusal;

constexpr unsigned long kIf = 7;
constexpr bootp::Ipv4 kCardIp{10, 77, 0, 50};
constexpr bootp::Mac kCardMac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
constexpr bootp::Mac kOtherMac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0x01};

class FakeNeighbours final : public winnet::NeighbourSystem {
public:
    const char* missingCall() override { return missing; }
    winnet::Result<winnet::NeighbourEntry> entry(unsigned long, const bootp::Ipv4&) override
    {
        calls.push_back("entry");
        if (entryError != 0) {
            return winnet::Failure{"GetIpNetTable2", entryError};
        }
        const winnet::NeighbourEntry e = reads.empty() ? table : reads.front();
        if (!reads.empty()) {
            reads.erase(reads.begin());
        }
        return e;
    }
    winnet::Result<winnet::Done> create(unsigned long, const bootp::Ipv4&,
                                        const bootp::Mac& mac) override
    {
        calls.push_back("create");
        return write(mac);
    }
    winnet::Result<winnet::Done> makePermanent(unsigned long, const bootp::Ipv4&,
                                               const bootp::Mac& mac) override
    {
        calls.push_back("makePermanent");
        table = {true, true, mac, true};
        return winnet::Done{};
    }

    winnet::Result<winnet::Done> remove(unsigned long, const bootp::Ipv4&) override
    {
        calls.push_back("remove");
        table = {};
        return winnet::Done{};
    }

    const char* missing = nullptr;
    unsigned long entryError = 0;
    unsigned long writeError = 0;             ///< of the create
    winnet::NeighbourEntry table;              ///< what every read sees, after the write too
    std::vector<winnet::NeighbourEntry> reads; ///< or these, one per read
    std::vector<std::string> calls;

private:
    winnet::Result<winnet::Done> write(const bootp::Mac& mac)
    {
        if (writeError != 0) {
            return winnet::Failure{"CreateIpNetEntry2", writeError};
        }
        table = {true, true, mac, true};
        return winnet::Done{};
    }
};

helper::Answer add(FakeNeighbours& system, const bootp::Ipv4& ip = kCardIp,
                   const bootp::Mac& mac = kCardMac)
{
    return winnet::addPermanentNeighbour(system, kIf, ip, mac);
}

TEST(NeighbourWrite, AWindowsWithoutTheCallIsToldSoBeforeAnythingIsRead)
{
    FakeNeighbours system;
    system.missing = "CreateIpNetEntry2";
    const auto outcome = add(system);
    EXPECT_EQ(outcome.error, ENOSYS);
    EXPECT_EQ(outcome.reason, "CreateIpNetEntry2");
    EXPECT_TRUE(system.calls.empty());
}

TEST(NeighbourWrite, AFreshAddressGetsAPermanentEntry)
{
    FakeNeighbours system;
    const auto outcome = add(system);
    EXPECT_TRUE(outcome.ok());
    EXPECT_EQ(system.calls, (std::vector<std::string>{"entry", "create", "entry"}));
    EXPECT_TRUE(system.table.permanent);
}

TEST(NeighbourWrite, AnEntryOfThisMacIsMadePermanentOneWithoutIsCreatedAnew)
{
    FakeNeighbours learnt;
    learnt.table = {true, true, kCardMac, false};
    EXPECT_TRUE(add(learnt).ok());
    EXPECT_EQ(learnt.calls, (std::vector<std::string>{"entry", "makePermanent", "entry"}));

    // Still resolving: removed, read again, and created, so that no call writes over an
    // answer that arrives meanwhile.
    FakeNeighbours resolving;
    resolving.table = {true, false, kOtherMac, false};
    EXPECT_TRUE(add(resolving).ok());
    EXPECT_EQ(resolving.calls,
              (std::vector<std::string>{"entry", "remove", "entry", "create", "entry"}));
}

// A real host's ARP answer that lands between the read and the write is never written over:
// SetIpNetEntry2 is used only on an entry that holds the card's MAC.
TEST(NeighbourWrite, AnAnswerThatArrivesDuringTheWriteIsKept)
{
    // (No entry when read, another host's by the time of the create: see
    // AnotherMacThatCameInBetweenIsReported.)
    // Resolving when read; another host's once the unresolved entry was removed.
    FakeNeighbours resolved;
    resolved.reads = {{true, false, {}, false}, {true, true, kOtherMac, false}};
    EXPECT_EQ(add(resolved).refusal, Refusal::OtherMac);
    EXPECT_EQ(resolved.calls, (std::vector<std::string>{"entry", "remove", "entry"}));

    // The card itself answered in between: its entry is made permanent.
    FakeNeighbours card;
    card.writeError = winnet::NeighbourSystem::kAlreadyExists;
    card.reads = {{}, {true, true, kCardMac, false}};
    EXPECT_TRUE(add(card).ok());
    EXPECT_EQ(card.calls,
              (std::vector<std::string>{"entry", "create", "entry", "makePermanent", "entry"}));
}

TEST(NeighbourWrite, APermanentEntryOfThisMacIsLeftAlone)
{
    FakeNeighbours system;
    system.table = {true, true, kCardMac, true};
    EXPECT_TRUE(add(system).ok());
    EXPECT_EQ(system.calls, (std::vector<std::string>{"entry"}));
}

TEST(NeighbourWrite, AnotherMacsEntryIsNeverReplaced)
{
    for (const bool permanent : {false, true}) {
        FakeNeighbours system;
        system.table = {true, true, kOtherMac, permanent};
        const auto outcome = add(system);
        EXPECT_EQ(outcome.refusal, Refusal::OtherMac);
        EXPECT_EQ(system.calls, (std::vector<std::string>{"entry"}));
    }
}

TEST(NeighbourWrite, AnotherMacThatCameInBetweenIsReported)
{
    // Absent when read, then created by someone else: the create fails as already there and
    // the entry read back holds the other MAC.
    FakeNeighbours system;
    system.writeError = winnet::NeighbourSystem::kAlreadyExists;
    system.reads = {{}, {true, true, kOtherMac, false}};
    const auto outcome = add(system);
    EXPECT_EQ(outcome.refusal, Refusal::OtherMac);
    EXPECT_EQ(system.calls, (std::vector<std::string>{"entry", "create", "entry"}));

    // Made permanent, yet read back as another MAC's.
    FakeNeighbours raced;
    raced.reads = {{true, true, kCardMac, false}, {true, true, kOtherMac, true}};
    EXPECT_EQ(add(raced).refusal, Refusal::OtherMac);
}

TEST(NeighbourWrite, AQueryThatFailsIsARefusal)
{
    FakeNeighbours entry;
    entry.entryError = 1168; // ERROR_NOT_FOUND: no such interface
    EXPECT_EQ(add(entry).refusal, Refusal::KernelQuery);
    EXPECT_EQ(entry.calls, (std::vector<std::string>{"entry"}));
}

TEST(NeighbourWrite, AWriteThatFailsIsReportedWithItsError)
{
    FakeNeighbours system;
    system.writeError = 5; // ERROR_ACCESS_DENIED: not elevated
    auto outcome = add(system);
    EXPECT_EQ(outcome.error, EPERM);
    EXPECT_EQ(outcome.reason, "CreateIpNetEntry2") << "the words name the call";
    EXPECT_EQ(system.calls, (std::vector<std::string>{"entry", "create"}));

    FakeNeighbours full;
    full.writeError = 8; // ERROR_NOT_ENOUGH_MEMORY
    outcome = add(full);
    EXPECT_EQ(outcome.error, ENOMEM);
    EXPECT_EQ(outcome.reason.rfind("CreateIpNetEntry2: ", 0), 0u) << outcome.reason;
}

} // namespace
