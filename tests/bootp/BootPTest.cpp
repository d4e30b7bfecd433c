#include "BootP.h"
#include "BootMessage.h"
#include "CardRequest.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace testing_support;
using namespace behaviour;
using Message = std::vector<std::uint8_t>;

namespace {

class BootPTest : public ::testing::Test {
protected:
    PublicArea area;
};

struct Case {
    const char* name;
    std::function<void(Message&)> change;
    bool isCardRequest;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class RequestTest : public BootPTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RequestTest, judgesOneChangedField)
{
    Message m = cardRequest();
    GetParam().change(m);
    EXPECT_EQ(chkRequest(m), GetParam().isCardRequest);
}

const Case kCases[] = {
    {"unchanged", [](Message&) {}, true},
    {"length548", [](Message& m) { m = cardRequest(548); }, true},
    {"opReply", [](Message& m) { m[bootp::kOp] = 2; }, false},
    {"opZero", [](Message& m) { m[bootp::kOp] = 0; }, false},
    {"macAllZeroButRestOfChaddrSet",
     [](Message& m) {
         std::fill_n(m.begin() + 28, 6, 0);
         std::fill_n(m.begin() + 34, 10, 0xEE);
     },
     false},
    {"onlyLastMacByteSet",
     [](Message& m) {
         std::fill_n(m.begin() + 28, 6, 0);
         m[33] = 1;
     },
     true},
    {"htypeHlenZero", [](Message& m) { m[1] = m[2] = 0; }, true},
    {"hopsOne", [](Message& m) { m[bootp::kHops] = 1; }, false},
    {"giaddrLastByte", [](Message& m) { m[27] = 1; }, false},
    {"giaddrFirstByte", [](Message& m) { m[24] = 10; }, false},
    {"cookieBroken", [](Message& m) { m[237] = 0; }, false},
    {"messageTypeFirst", [](Message& m) { m[240] = bootp::kOptMessageType; }, false},
    {"padFirst", [](Message& m) { m[240] = 0; }, false},
    {"clientIdLength5", [](Message& m) { m[241] = 5; }, false},
    {"tagUpperCase", [](Message& m) { std::copy_n("KAVO", 4, m.begin() + 242); }, false},
    {"tagOneLetterUpper", [](Message& m) { m[245] = 'O'; }, false},
    {"everythingAfterTemplateChanged",
     [](Message& m) { std::fill(m.begin() + 246, m.end(), 0xA5); }, true},
    {"foreignDiscover", [](Message& m) { m = foreignDiscover(); }, false},
    {"emptyDatagram", [](Message& m) { m.clear(); }, false},
    {"cutInsideTemplate", [](Message& m) { m.resize(243); }, false},
    {"cutBeforeReplyOptionsEnd", [](Message& m) { m.resize(258); }, false},
    {"justLongEnoughForReply", [](Message& m) { m.resize(259); }, true},
};

INSTANTIATE_TEST_SUITE_P(Fields, RequestTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BootPTest, everyByteOfTheCardsOptionsMatters)
{
    for (std::size_t i = 0; i < bootp::kTemplateSize; ++i) {
        Message m = cardRequest();
        m[bootp::kOptions + i] ^= 0x01;
        EXPECT_FALSE(chkRequest(m)) << "option byte " << i;
    }
}

TEST_F(BootPTest, macTextWritesTwoUpperCaseDigitsPerByte)
{
    const std::pair<std::array<std::uint8_t, 6>, const char*> cases[] = {
        {{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}, "00-0A-1B-C2-3D-FF"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FF-FF-FF-FF-FF-FF"},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, "00-00-00-00-00-01"},
        {{0x10, 0x09, 0xA0, 0x0F, 0xF0, 0x01}, "10-09-A0-0F-F0-01"},
    };
    for (const auto& [mac, text] : cases) {
        macText(cardRequest(300, mac), area);
        EXPECT_EQ(area.G_MacAddr, text);
    }
}

TEST_F(BootPTest, secondCardsMacTextReplacesTheFirstWhole)
{
    area.G_MacAddr = "left over from an earlier text that was longer";
    macText(cardRequest(300, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), area);
    macText(cardRequest(300, {0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}), area);
    EXPECT_EQ(area.G_MacAddr, "00-0A-1B-C2-3D-FF");
}

TEST_F(BootPTest, macTextOfAMessageTooShortForAMacIsEmpty)
{
    area.G_MacAddr = "00-0A-1B-C2-3D-FF";
    macText(Message(33, 0xAB), area);
    EXPECT_EQ(area.G_MacAddr, "");
}

class ReplyTest : public BootPTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ReplyTest, changesExactlyOpAddressesAndOptions)
{
    area.G_IpAddr = {192, 168, 0, 20};
    area.G_LocalIp = {192, 168, 0, 5};
    area.G_SbMask = {255, 255, 255, 0};
    area.G_GateWay = {192, 168, 0, 1};
    Message request = cardRequest(GetParam());
    std::copy_n("\x0A\x00\x00\x63", 4, request.begin() + bootp::kCiaddr); // a ciaddr to keep
    Message reply = request;

    ASSERT_TRUE(makeReply(reply, area));

    Message expected = request;
    expected[0] = 2;
    const std::uint8_t fields[] = {192, 168, 0, 20, 192, 168, 0, 5};
    std::copy(std::begin(fields), std::end(fields), expected.begin() + 16);
    const std::uint8_t options[] = {1, 4, 255, 255, 255, 0, 3, 4, 192, 168, 0, 1, 255};
    std::copy(std::begin(options), std::end(options), expected.begin() + 246);
    ASSERT_EQ(reply.size(), request.size());
    for (std::size_t i = 0; i < reply.size(); ++i) {
        EXPECT_EQ(reply[i], expected[i]) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ReplyTest, ::testing::Values(300u, 548u));

TEST_F(BootPTest, replyOnAShortBufferWritesNothing)
{
    area.G_IpAddr = {10, 0, 0, 7};
    for (std::size_t length : {0u, 17u, 245u, 258u}) {
        Message m(length, 0x5A);
        EXPECT_FALSE(makeReply(m, area)) << length;
        EXPECT_EQ(m, Message(length, 0x5A)) << length;
    }
}

TEST_F(BootPTest, stateStartsZeroed)
{
    EXPECT_FALSE(area.G_SetOk);
    EXPECT_FALSE(area.G_OpenBrw);
    EXPECT_EQ(area.G_IpAddr, (Octets{0, 0, 0, 0}));
    EXPECT_EQ(area.G_SbMask, (Octets{0, 0, 0, 0}));
    EXPECT_EQ(area.G_GateWay, (Octets{0, 0, 0, 0}));
    EXPECT_EQ(area.G_LocalIp, (Octets{0, 0, 0, 0}));
    EXPECT_TRUE(area.G_MacAddr.empty());
}

} // namespace
