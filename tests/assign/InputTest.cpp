// What the operator hands in: addresses, relation lists, records and the command line. Each
// bad input must be refused with the place it lies at and a message that names the problem.
#include "Options.h"
#include "Record.h"
#include "RelationList.h"
#include "TestSupport.h"
#include "Wording.h"

#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <set>

using namespace assign;
using assign::test::expectBothLanguages;

namespace {

/// The errors in English, one a line; each is checked to be said in Japanese too.
std::string errorsText(const std::vector<InputError>& errors)
{
    std::string out;
    for (const InputError& e : errors) {
        expectBothLanguages(e.text);
        out += std::to_string(e.at.line) + ":" + std::to_string(e.at.column) + ": " +
               e.text.english + "\n";
    }
    return out;
}

const std::string kHeader = "mac,ip,mask,gateway,name\n";
const std::string kGood = "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,first\n";

// --- addresses --------------------------------------------------------------------------

struct IpCase {
    const char* text;
    bool ok;
    const char* why; // part of the message
};

class IpText : public ::testing::TestWithParam<IpCase> {};

TEST_P(IpText, ParsesOrSaysWhy)
{
    text::Twin why;
    const auto ip = parseIp(GetParam().text, why);
    EXPECT_EQ(ip.has_value(), GetParam().ok) << GetParam().text;
    if (ip) {
        EXPECT_EQ(ipText(*ip), GetParam().text);
    } else {
        EXPECT_NE(why.english.find(GetParam().why), std::string::npos) << why.english;
        expectBothLanguages(why);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IpText,
    ::testing::Values(IpCase{"10.0.0.1", true, ""}, IpCase{"255.255.255.255", true, ""},
                      IpCase{"0.0.0.0", true, ""}, IpCase{"10.0.0", false, "not an IPv4"},
                      IpCase{"10.0.0.1.2", false, "not an IPv4"},
                      IpCase{"10.0.0.256", false, "above 255 (256)"},
                      IpCase{"10.0.0.010", false, "leading zero (010)"},
                      IpCase{"10.0.0.1 ", false, "not an IPv4"},
                      IpCase{"10..0.1", false, "not an IPv4"},
                      IpCase{"1000.0.0.1", false, "not an IPv4"},
                      IpCase{"-1.0.0.1", false, "not an IPv4"}, IpCase{"", false, "not an IPv4"}));

TEST(MacText, EveryFormOperatorsPasteReadsTheSame)
{
    text::Twin why;
    for (const char* text :
         {"00-0a-1B-c2-3D-ff", "00:0A:1b:C2:3d:FF", "000a.1BC2.3dFF", "000A1bc23DfF"}) {
        const auto mac = parseMac(text, why);
        ASSERT_TRUE(mac) << text << ": " << why.english;
        EXPECT_EQ(macText(*mac), "00-0A-1B-C2-3D-FF") << text;
    }
}

TEST(MacText, RefusesWhatNoCardSends)
{
    text::Twin why;
    for (const char* text :
         {"00-0A-1B-C2-3D", "00-0A-1B-C2-3D-FF-00", "00-0A:1B-C2-3D-FF", "00-0A-1B-C2-3D-FG",
          "000A1BC23DF", "0-0A-1B-C2-3D-FF0", "000A.1BC2:3DFF"}) {
        EXPECT_FALSE(parseMac(text, why)) << text;
        EXPECT_NE(why.english.find("is not a MAC address"), std::string::npos)
            << text << ": " << why.english;
        expectBothLanguages(why);
    }
    EXPECT_FALSE(parseMac("00-00-00-00-00-00", why));
    EXPECT_NE(why.english.find("all zeros"), std::string::npos);
    EXPECT_FALSE(parseMac("01-00-5E-00-00-01", why));
    EXPECT_NE(why.english.find("multicast"), std::string::npos);
    expectBothLanguages(why);
    EXPECT_FALSE(parseMac("FF-FF-FF-FF-FF-FF", why));
}

struct SettingsCase {
    const char* ip;
    const char* mask;
    const char* gateway;
    std::optional<SettingsProblem::Field> field;
    const char* why;
};

class Settings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(Settings, AreCheckedLikeTheHelperDoes)
{
    const SettingsCase& c = GetParam();
    text::Twin why;
    const auto problem =
        checkSettings(*parseIp(c.ip, why), *parseIp(c.mask, why), *parseIp(c.gateway, why));
    ASSERT_EQ(problem.has_value(), c.field.has_value())
        << c.ip << " " << c.mask << " " << c.gateway << ": "
        << (problem ? problem->text.english : "");
    if (problem) {
        EXPECT_EQ(problem->field, *c.field);
        EXPECT_NE(problem->text.english.find(c.why), std::string::npos) << problem->text.english;
        expectBothLanguages(problem->text);
    }
}

using F = SettingsProblem::Field;
INSTANTIATE_TEST_SUITE_P(
    Table, Settings,
    ::testing::Values(
        SettingsCase{"10.0.0.21", "255.255.255.0", "10.0.0.1", {}, ""},
        SettingsCase{"10.0.0.21", "255.255.255.0", "0.0.0.0", {}, ""},
        SettingsCase{"10.0.0.1", "255.255.255.254", "10.0.0.0", {}, ""}, // RFC 3021 pair
        SettingsCase{"10.0.0.21", "255.0.255.0", "10.0.0.1", F::Mask, "not contiguous"},
        SettingsCase{"10.0.0.21", "255.255.255.1", "10.0.0.1", F::Mask, "not contiguous"},
        SettingsCase{"10.0.0.21", "0.0.0.0", "0.0.0.0", F::Mask, "no subnet"},
        SettingsCase{"10.0.0.0", "255.255.255.0", "10.0.0.1", F::Address,
                     "network address of 10.0.0.0/24"},
        SettingsCase{"10.0.0.255", "255.255.255.0", "10.0.0.1", F::Address,
                     "broadcast address of 10.0.0.0/24"},
        SettingsCase{"127.0.0.5", "255.0.0.0", "0.0.0.0", F::Address, "loopback"},
        SettingsCase{"224.0.0.5", "255.255.255.0", "0.0.0.0", F::Address, "multicast"},
        SettingsCase{"0.0.0.5", "255.255.255.0", "0.0.0.0", F::Address, "this network"},
        SettingsCase{"250.0.0.5", "255.255.255.0", "0.0.0.0", F::Address, "reserved"},
        SettingsCase{"10.0.0.21", "255.255.255.0", "10.0.1.1", F::Gateway,
                     "outside the subnet 10.0.0.0/24"},
        SettingsCase{"10.0.0.21", "255.255.255.0", "10.0.0.21", F::Gateway, "own address"},
        SettingsCase{"10.0.0.21", "255.255.255.0", "10.0.0.255", F::Gateway, "broadcast"}));

// --- the relation list ------------------------------------------------------------------

TEST(RelationList, ReadsWhatSpreadsheetsAndPeopleWrite)
{
    const std::string text = "\xEF\xBB\xBF"
                             "MAC , IP,Mask,Gateway,Name\r\n"
                             "# rack 3\r\n"
                             "\r\n"
                             "00-0a-1b-c2-3d-01, 10.0.0.21 ,255.255.255.0,10.0.0.1,\"UPS, "
                             "\"\"north\"\"\"\r\n"
                             "00:0A:1B:C2:3D:02,10.0.0.22,255.255.255.0,0.0.0.0,\r\n";
    const RelationList list = readRelationList(text);
    ASSERT_TRUE(list.errors.empty()) << errorsText(list.errors);
    ASSERT_EQ(list.cards.size(), 2u);
    EXPECT_EQ(macText(list.cards[0].mac), "00-0A-1B-C2-3D-01");
    EXPECT_EQ(ipText(list.cards[0].ip), "10.0.0.21");
    EXPECT_EQ(list.cards[0].name, "UPS, \"north\"");
    EXPECT_EQ(list.cards[0].macAt.line, 4);
    EXPECT_EQ(list.cards[1].gateway, 0u);
}

TEST(RelationList, ColumnsMayComeInAnyOrder)
{
    const RelationList list =
        readRelationList("gateway,ip,mac,mask\n"
                         "10.0.0.1,10.0.0.21,00-0A-1B-C2-3D-01,255.255.255.0\n");
    ASSERT_TRUE(list.errors.empty()) << errorsText(list.errors);
    EXPECT_EQ(ipText(list.cards.at(0).gateway), "10.0.0.1");
}

TEST(RelationList, TakesMacsInEveryFormOperatorsPaste)
{
    const RelationList list =
        readRelationList("mac,ip,mask,gateway\n"
                         "00:0a:1b:c2:3d:01,10.0.0.21,255.255.255.0,10.0.0.1\n"
                         "000A.1BC2.3D02,10.0.0.22,255.255.255.0,10.0.0.1\n"
                         "000a1bc23d03,10.0.0.23,255.255.255.0,10.0.0.1\n"
                         // the same card as the first, written another way
                         "000A1BC23D01,10.0.0.24,255.255.255.0,10.0.0.1\n");
    ASSERT_EQ(list.cards.size(), 3u) << errorsText(list.errors);
    EXPECT_EQ(macText(list.cards[1].mac), "00-0A-1B-C2-3D-02");
    EXPECT_EQ(macText(list.cards[2].mac), "00-0A-1B-C2-3D-03");
    EXPECT_EQ(errorsText(list.errors),
              "5:1: MAC 00-0A-1B-C2-3D-01 is listed twice (first on line 2)\n");
}

TEST(RelationList, KeepsTheOperatorsOwnColumns)
{
    const RelationList list =
        readRelationList("Location,MAC,ip,Asset tag,mask,gateway\n"
                         "Hall 2,00-0A-1B-C2-3D-01,10.0.0.21,A-17,255.255.255.0,10.0.0.1\n");
    ASSERT_TRUE(list.errors.empty()) << errorsText(list.errors);
    ASSERT_EQ(list.cards.at(0).extra.size(), 2u);
    EXPECT_EQ(list.cards[0].extra[0], (ExtraField{"Location", "Hall 2"}));
    EXPECT_EQ(list.cards[0].extra[1], (ExtraField{"Asset tag", "A-17"}));
}

TEST(RelationList, AFileWithoutHeaderGivesOneError)
{
    const RelationList list =
        readRelationList("00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1\n"
                         "00-0A-1B-C2-3D-02,10.0.0.22,255.255.255.0,10.0.0.1\n");
    ASSERT_EQ(list.errors.size(), 1u) << errorsText(list.errors);
    EXPECT_EQ(errorsText(list.errors), "1:1: the first line is not a header: it must name the "
                                       "columns mac, ip, mask, gateway (and optionally name)\n");
}

struct BadList {
    const char* what;
    std::string text;
    const char* expected; // "line:column: part of the message"
};

class BadRelationList : public ::testing::TestWithParam<BadList> {};

TEST_P(BadRelationList, IsRefusedAtItsLineAndColumn)
{
    const RelationList list = readRelationList(GetParam().text);
    const std::string errors = errorsText(list.errors);
    EXPECT_NE(errors.find(GetParam().expected), std::string::npos)
        << GetParam().what << "\nwanted: " << GetParam().expected << "\ngot:\n"
        << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadRelationList,
    ::testing::Values(
        BadList{"empty", "", "1:1: the list is empty"},
        BadList{"header only", kHeader, "1:25: the list has a header but no card"},
        BadList{"missing column", "mac,ip,mask\n", "1:12: the header lacks the column 'gateway'"},
        BadList{"misspelt column", "mac,ip,mask,gatway\n",
                "1:19: the header lacks the column 'gateway'"},
        BadList{"column of the record", "mac,ip,mask,gateway,Time\n",
                "1:21: column 'Time' is a name the record uses itself"},
        BadList{"extra column twice", "mac,ip,mask,gateway,Rack,rack\n",
                "1:26: column 'rack' appears twice"},
        BadList{"column without a name", "mac,ip,,mask,gateway\n", "1:8: a column without a name"},
        BadList{"column twice", "mac,ip,mask,gateway,IP\n", "1:21: column 'ip' appears twice"},
        BadList{"malformed MAC",
                kHeader + kGood + "00-0A-1B-C2-3D,10.0.0.22,255.255.255.0,10.0.0.1,x\n",
                "3:1: '00-0A-1B-C2-3D' is not a MAC address"},
        BadList{"multicast MAC", kHeader + "01-0A-1B-C2-3D-01,10.0.0.22,255.255.255.0,10.0.0.1,\n",
                "2:1: MAC 01-0A-1B-C2-3D-01 is a multicast"},
        BadList{"malformed address",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.2x,255.255.255.0,10.0.0.1,\n",
                "2:19: address: '10.0.0.2x' is not an IPv4 address"},
        BadList{"mask with holes",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.0.255,10.0.0.1,\n",
                "2:29: mask 255.255.0.255 is not contiguous"},
        BadList{"gateway outside",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.9.1,\n",
                "2:43: gateway 10.0.9.1 lies outside the subnet 10.0.0.0/24"},
        BadList{"empty gateway", kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,,\n",
                "2:43: gateway: '' is not an IPv4 address"},
        BadList{"network address", kHeader + "00-0A-1B-C2-3D-01,10.0.0.0,255.255.255.0,10.0.0.1,\n",
                "2:19: address 10.0.0.0 is the network address"},
        BadList{"broadcast address",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.255,255.255.255.0,10.0.0.1,\n",
                "2:19: address 10.0.0.255 is the broadcast address"},
        BadList{"duplicate MAC",
                kHeader + kGood + "00:0a:1b:c2:3d:01,10.0.0.22,255.255.255.0,10.0.0.1,\n",
                "3:1: MAC 00-0A-1B-C2-3D-01 is listed twice (first on line 2)"},
        BadList{"duplicate address",
                kHeader + kGood + "00-0A-1B-C2-3D-02,10.0.0.21,255.255.255.0,10.0.0.1,\n",
                "3:19: address 10.0.0.21 is listed twice (first on line 2)"},
        BadList{"address is another card's gateway",
                kHeader + kGood + "00-0A-1B-C2-3D-02,10.0.0.1,255.255.255.0,0.0.0.0,\n",
                "3:19: address 10.0.0.1 is the gateway of the card on line 2"},
        BadList{"too few fields", kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0\n",
                "2:42: 3 fields, but the header has 5"},
        BadList{"too many fields",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,x,y\n",
                "2:54: 6 fields, but the header has 5"},
        BadList{"open quote", kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,\"x\n",
                "2:52: a quoted field is not closed"},
        BadList{"quote inside",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,a\"b\n",
                "2:53: a quote inside an unquoted field"},
        BadList{"control character",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,a\x1b[2J\n",
                "2:53: control character 0x1B"},
        BadList{"not UTF-8",
                kHeader + "00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,caf\xe9\n",
                "2:55: the text is not UTF-8"},
        // Columns count characters, not bytes: the error lies after a two-byte character.
        BadList{"column after UTF-8", "mac,ip,mask,gateway,name\n\xc3\xa9,\n", "2:3: 2 fields"}),
    [](const ::testing::TestParamInfo<BadList>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

// --- the record -------------------------------------------------------------------------

TEST(Record, ReadsBackWhatItWrites)
{
    std::vector<RecordEntry> entries(2);
    text::Twin why;
    entries[0] = {*parseMac("00-0A-1B-C2-3D-01", why),
                  *parseIp("10.0.0.101", why),
                  *parseIp("255.255.255.0", why),
                  *parseIp("10.0.0.1", why),
                  "2026-03-02T10:14:05+01:00",
                  Confirmed::Yes,
                  "a, \"quoted\" # name",
                  {{"Location", "Hall 2, row \"B\""}},
                  {},
                  {}};
    entries[1] = {*parseMac("00-0A-1B-C2-3D-02", why),
                  *parseIp("10.0.0.102", why),
                  *parseIp("255.255.255.0", why),
                  0,
                  "2026-03-02T09:14:06Z",
                  Confirmed::Pending,
                  "",
                  {},
                  {},
                  {}};
    const RecordTable back = readRecord(recordText(entries));
    ASSERT_TRUE(back.errors.empty()) << errorsText(back.errors);
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[0].name, entries[0].name);
    EXPECT_EQ(back.entries[0].confirmed, Confirmed::Yes);
    EXPECT_EQ(back.entries[1].time, entries[1].time);
    EXPECT_EQ(back.entries[1].confirmed, Confirmed::Pending);
    EXPECT_EQ(back.entries[1].ipAt.line, 3);
    ASSERT_EQ(back.entries[0].extra.size(), 1u);
    EXPECT_EQ(back.entries[0].extra[0].second, "Hall 2, row \"B\"");
    ASSERT_EQ(back.entries[1].extra.size(), 1u); // every row has every column
    EXPECT_EQ(back.entries[1].extra[0], (ExtraField{"Location", ""}));
}

TEST(Record, RefusesContradictionsAndStrangeValues)
{
    const std::string header = "mac,ip,mask,gateway,time,confirmed,name\n";
    const std::string line1 =
        "00-0A-1B-C2-3D-01,10.0.0.101,255.255.255.0,10.0.0.1,2026-03-02T10:14:05+01:00,yes,\n";
    const struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {header + line1 +
             "00-0A-1B-C2-3D-01,10.0.0.102,255.255.255.0,10.0.0.1,2026-03-02T10:14:05Z,no,\n",
         "3:1: MAC 00-0A-1B-C2-3D-01 is recorded twice (first on line 2)"},
        {header + line1 +
             "00-0A-1B-C2-3D-02,10.0.0.101,255.255.255.0,10.0.0.1,2026-03-02T10:14:05Z,no,\n",
         "3:19: address 10.0.0.101 is recorded twice"},
        {header + "00-0A-1B-C2-3D-01,10.0.0.101,255.255.255.0,10.0.0.1,yesterday,yes,\n",
         "2:53: 'yesterday' is not a time"},
        {header + "00-0A-1B-C2-3D-01,10.0.0.101,255.255.255.0,10.0.0.1,2026-03-02T10:14:05+0100,"
                  "yes,\n",
         "is not a time"},
        {header +
             "00-0A-1B-C2-3D-01,10.0.0.101,255.255.255.0,10.0.0.1,2026-03-02T10:14:05Z,maybe,\n",
         "2:74: 'maybe' is not one of yes, no, pending, unchecked"},
        {"mac,ip,mask,gateway,time\n", "the header lacks the column 'confirmed'"},
    };
    for (const auto& c : cases) {
        const std::string errors = errorsText(readRecord(c.text).errors);
        EXPECT_NE(errors.find(c.expected), std::string::npos)
            << "wanted: " << c.expected << "\ngot: " << errors;
    }
    EXPECT_TRUE(readRecord("").errors.empty()) << "a new record is empty";
}

// --- the command line -------------------------------------------------------------------

TEST(Options, RefusesCombinationsThatMeanNothing)
{
    const struct {
        std::vector<std::string_view> args;
        const char* expected;
    } cases[] = {
        {{}, "say which cards"},
        {{"--mac", "00-0A-1B-C2-3D-01"}, "needs both --mac and --ip"},
        {{"--mac", "00-0A-1B-C2-3D-01", "--ip", "10.0.0.2"}, "--ip needs --mask and --gateway"},
        {{"--mac", "m", "--ip", "i", "--mask", "m", "--gateway", "g", "--list", "l"},
         "do not go with --list"},
        {{"--pool", "a-b", "--mask", "m", "--gateway", "g"}, "--pool needs --record"},
        {{"--list", "l", "--mask", "m"}, "the list has its own columns"},
        {{"--list", "l", "--count", "3"}, "--count goes with --pool"},
        {{"--list", "l", "--count", "0"}, "--count: '0' is not a number"},
        {{"--list", "l", "--timeout", "soon"}, "--timeout: 'soon' is not a number of seconds"},
        {{"--list", "l", "--confirm", "ping"}, "neither http nor none"},
        {{"--list", "l", "--format", "xml"}, "neither text nor json"},
        {{"--list"}, "--list needs a value"},
        {{"--list", "l", "--verbose"}, "unknown option '--verbose'"},
        // 0 once meant no limit without saying so.
        {{"--list", "l", "--timeout", "0"}, "--timeout: give a number of seconds above 0"},
        {{"--export", "dnsmasq"}, "--export needs --record"},
        {{"--export", "isc", "--record", "r"}, "--export: 'isc' is neither dnsmasq nor kea"},
        {{"--export", "kea", "--record", "r", "--list", "l"}, "--export reads only the record"},
        {{"--export", "kea", "--record", "r", "--dry-run"}, "--export reads only the record"},
    };
    for (const auto& c : cases) {
        const text::Twin error = parseArgs(c.args).error;
        EXPECT_NE(error.english.find(c.expected), std::string::npos)
            << "wanted: " << c.expected << "\ngot: " << error.english;
        expectBothLanguages(error);
    }
    const Parsed p = parseArgs({"--pool=10.0.0.1-10.0.0.9", "--mask", "255.255.255.0",
                                "--gateway=0.0.0.0", "--record", "r.csv", "--count=4",
                                "--confirm=none", "--format", "json", "--probe-wait", "0.5"});
    EXPECT_TRUE(p.error.empty()) << p.error.english;
    EXPECT_EQ(p.options.count, 4);
    EXPECT_FALSE(p.options.confirm);
    EXPECT_EQ(p.options.format, Format::Json);
    EXPECT_DOUBLE_EQ(p.options.probeWait, 0.5);
    EXPECT_FALSE(p.options.timeout);
    const Parsed dry = parseArgs({"--list", "l", "--dry-run", "--timeout", "0.5"});
    EXPECT_TRUE(dry.error.empty()) << dry.error.english;
    EXPECT_TRUE(dry.options.dryRun);
    EXPECT_EQ(dry.options.timeout, 0.5);
    EXPECT_TRUE(parseArgs({"--export=kea", "--record", "r"}).error.empty());
    EXPECT_TRUE(parseArgs({"-h"}).options.help);
}

std::set<std::string> optionsNamed(const std::string& help)
{
    static const std::regex option("(^|[ ,\\[（])(-h|--[a-z][a-z-]*)");
    std::set<std::string> names;
    for (std::sregex_iterator i(help.begin(), help.end(), option), end; i != end; ++i) {
        names.insert((*i)[2].str());
    }
    return names;
}

TEST(Options, HelpNamesTheSameOptionsInBothLanguagesAndEachIsKnown)
{
    const std::string japanese = usageText(text::Lang::Japanese);
    const std::string english = usageText(text::Lang::English);
    EXPECT_NE(japanese, english);
    EXPECT_NE(japanese.find("終了ステータス:"), std::string::npos) << japanese;
    const std::set<std::string> named = optionsNamed(english);
    EXPECT_EQ(optionsNamed(japanese), named);
    for (const OptionHelp& o : optionTable()) {
        EXPECT_TRUE(named.contains(std::string(o.name))) << o.name;
    }
    for (const std::string& name : named) {
        const Parsed p = parseArgs({name});
        EXPECT_EQ(p.error.english.find("unknown option"), std::string::npos) << name;
    }
}

} // namespace
