// Who gets which address across runs, what goes on the wire and into the record, and the
// check of a card's page (against a server on 127.0.0.1).
#include "Plan.h"
#include "BootMessage.h"
#include "CardRequest.h"
#include "Event.h"
#include "Export.h"
#include "HttpCheck.h"
#include "RecordFile.h"
#include "RecordWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>

using namespace assign;
using assign::test::LoopbackServer;

namespace {

Ip ip(const char* text)
{
    text::Twin why;
    return *parseIp(text, why);
}

Mac mac(int n)
{
    return {0x00, 0x0A, 0x1B, 0xC2, 0x3D, static_cast<std::uint8_t>(n)};
}

Options poolOptions(const char* range = "10.0.0.101-10.0.0.110")
{
    Options o;
    o.pool = range;
    o.mask = "255.255.255.0";
    o.gateway = "10.0.0.1";
    o.record = "record.csv";
    o.list = "cards.csv";
    return o;
}

std::string recordLine(int n, const char* address, const char* confirmed = "yes")
{
    return macText(mac(n)) + "," + address + ",255.255.255.0,10.0.0.1,2026-03-02T10:14:05Z," +
           confirmed + ",\n";
}

const std::string kRecordHeader = "mac,ip,mask,gateway,time,confirmed,name\n";
const std::string kListHeader = "mac,ip,mask,gateway\n";

/// The errors in English, one a line; each is checked to be said in Japanese too.
std::string joined(const std::vector<text::Twin>& errors)
{
    std::string out;
    for (const text::Twin& e : errors) {
        test::expectBothLanguages(e);
        out += e.english + "\n";
    }
    return out;
}

Plan makePlan(const Options& o, const Inputs& in)
{
    std::vector<text::Twin> errors;
    Plan plan = Plan::make(o, in, errors);
    EXPECT_TRUE(errors.empty()) << joined(errors);
    return plan;
}

// --- the plan ---------------------------------------------------------------------------

TEST(Plan, PoolSkipsGatewaysAndLocalAddresses)
{
    Inputs in;
    in.listText = kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.102\n";
    in.local = {ip("10.0.0.103")};
    Options o = poolOptions("10.0.0.101-10.0.0.106");
    in.recordText = kRecordHeader + recordLine(9, "10.0.0.50");
    Plan plan = makePlan(o, in);
    std::vector<std::string> handed;
    for (int n = 10; n < 20; ++n) {
        const Plan::Decision d = plan.decide(mac(n));
        if (d.kind != Plan::Decision::Kind::Probe) {
            EXPECT_EQ(d.kind, Plan::Decision::Kind::PoolExhausted);
            break;
        }
        EXPECT_EQ(d.settings.gateway, ip("10.0.0.1"));
        handed.push_back(ipText(d.settings.ip));
        plan.given(mac(n), d.settings);
    }
    // .102 is a listed card's gateway, .103 an address of this PC.
    EXPECT_EQ(handed,
              (std::vector<std::string>{"10.0.0.101", "10.0.0.104", "10.0.0.105", "10.0.0.106"}));
}

TEST(Plan, LaterRunContinuesAfterTheRecordAndKeepsRecordedCards)
{
    Inputs in;
    in.listText = kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.1\n";
    // An address found in use earlier (.102) was skipped; the record ends at .104.
    in.recordText = kRecordHeader + recordLine(5, "10.0.0.101") +
                    recordLine(6, "10.0.0.104", "pending") + recordLine(7, "10.0.0.103", "no");
    Plan plan = makePlan(poolOptions(), in);

    Plan::Decision again = plan.decide(mac(6));
    EXPECT_EQ(again.kind, Plan::Decision::Kind::Assign);
    EXPECT_EQ(again.source, Plan::Source::Record);
    EXPECT_EQ(ipText(again.settings.ip), "10.0.0.104");

    Plan::Decision fresh = plan.decide(mac(8));
    EXPECT_EQ(fresh.kind, Plan::Decision::Kind::Probe);
    EXPECT_EQ(ipText(fresh.settings.ip), "10.0.0.105");
    // Asking again while being probed keeps the same candidate.
    EXPECT_EQ(ipText(plan.decide(mac(8)).settings.ip), "10.0.0.105");
    // Found in use: the next one; the one in use never comes back.
    EXPECT_EQ(ipText(plan.inUse(mac(8)).settings.ip), "10.0.0.106");
    plan.given(mac(8), {ip("10.0.0.106"), ip("255.255.255.0"), ip("10.0.0.1")});
    EXPECT_EQ(plan.decide(mac(8)).source, Plan::Source::Pool);
    EXPECT_EQ(ipText(plan.decide(mac(9)).settings.ip), "10.0.0.107");

    Plan::Decision listed = plan.decide(mac(1));
    EXPECT_EQ(listed.source, Plan::Source::List);
    EXPECT_EQ(ipText(listed.settings.ip), "10.0.0.21");
}

TEST(Plan, WithoutPoolUnlistedAndRecordedCardsAreNotAnswered)
{
    Options o;
    o.list = "cards.csv";
    o.record = "record.csv";
    Inputs in;
    in.listText = kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.1\n";
    in.recordText = kRecordHeader + recordLine(5, "10.0.0.101");
    Plan plan = makePlan(o, in);
    EXPECT_EQ(plan.decide(mac(5)).kind, Plan::Decision::Kind::NotListed);
    EXPECT_EQ(plan.decide(mac(6)).kind, Plan::Decision::Kind::NotListed);
    EXPECT_EQ(plan.decide(mac(1)).kind, Plan::Decision::Kind::Assign);
}

TEST(Plan, RefusesInputsThatContradictEachOther)
{
    const struct {
        Options options;
        std::string list;
        std::string record;
        const char* expected;
    } cases[] = {
        {poolOptions(), kListHeader + macText(mac(1)) + ",10.0.0.105,255.255.255.0,10.0.0.1\n", "",
         "cards.csv:2:19: address 10.0.0.105 lies in the pool 10.0.0.101-10.0.0.110"},
        {poolOptions(), kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.1\n",
         kRecordHeader + recordLine(2, "10.0.0.21"),
         "cards.csv:2:19: address 10.0.0.21 was given to 00-0A-1B-C2-3D-02 (record.csv line 2)"},
        {poolOptions("10.0.0.101-10.0.1.10"), kListHeader, "",
         "--pool: the range 10.0.0.101-10.0.1.10 spans more than one subnet"},
        {poolOptions("10.0.0.200-10.0.0.255"), kListHeader, "",
         "--pool: the range 10.0.0.200-10.0.0.255 holds the broadcast address 10.0.0.255"},
        {poolOptions("10.0.0.0-10.0.0.20"), kListHeader, "", "holds the network address 10.0.0.0"},
        {poolOptions("10.0.0.1-10.0.0.20"), kListHeader, "", "holds the gateway 10.0.0.1"},
        {poolOptions("10.0.0.120-10.0.0.101"), kListHeader, "", "ends before it starts"},
        {poolOptions("10.0.0.101"), kListHeader, "", "is not a range"},
        {poolOptions(), kListHeader, kRecordHeader + "garbage\n", "record.csv:2:8: 1 fields"},
        {poolOptions(), kListHeader + macText(mac(1)) + ",10.0.0.5,255.255.255.0,10.0.0.1\n", "",
         "cards.csv:2:19: address 10.0.0.5 belongs to this PC"},
    };
    for (const auto& c : cases) {
        std::vector<text::Twin> errors;
        Inputs in;
        in.listText = c.list.empty() ? kListHeader : c.list;
        in.recordText = c.record;
        in.local = {ip("10.0.0.5")};
        Plan::make(c.options, in, errors);
        EXPECT_NE(joined(errors).find(c.expected), std::string::npos)
            << "wanted: " << c.expected << "\ngot: " << joined(errors);
    }
    Options one;
    one.mac = "00-0A-1B-C2-3D-01";
    one.ip = "10.0.0.21";
    one.mask = "255.255.255.0";
    one.gateway = "10.0.1.1";
    std::vector<text::Twin> errors;
    Plan::make(one, {}, errors);
    EXPECT_EQ(joined(errors), "--gateway: gateway 10.0.1.1 lies outside the subnet 10.0.0.0/24 "
                              "of 10.0.0.21\n");
}

TEST(Plan, AnAddressNotGivenGoesBackToThePool)
{
    Inputs in;
    in.listText = kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.1\n";
    Plan plan = makePlan(poolOptions(), in);
    EXPECT_EQ(ipText(plan.decide(mac(2)).settings.ip), "10.0.0.101");
    EXPECT_EQ(ipText(plan.decide(mac(3)).settings.ip), "10.0.0.102");
    // The reply to mac 2 was refused for a passing reason: its address is the next one out.
    plan.release(mac(2));
    EXPECT_EQ(ipText(plan.decide(mac(4)).settings.ip), "10.0.0.101");
    EXPECT_EQ(ipText(plan.decide(mac(2)).settings.ip), "10.0.0.103");
    // The helper refused 10.0.0.103 itself (a gateway of this PC): nobody gets it.
    plan.unusable(mac(2));
    EXPECT_EQ(ipText(plan.decide(mac(2)).settings.ip), "10.0.0.104");
    plan.given(mac(2), {ip("10.0.0.104"), ip("255.255.255.0"), ip("10.0.0.1")});
    plan.release(mac(2)); // nothing to release once given
    EXPECT_EQ(ipText(plan.decide(mac(5)).settings.ip), "10.0.0.105");
}

TEST(Plan, CountIsTheTotalOfTheRollOut)
{
    Inputs in;
    in.listText = kListHeader + macText(mac(1)) + ",10.0.0.21,255.255.255.0,10.0.0.1\n";
    // The listed card and an address outside the pool do not count as cards from the pool.
    in.recordText = kRecordHeader + recordLine(1, "10.0.0.21") + recordLine(2, "10.0.0.101") +
                    recordLine(3, "10.0.0.102", "pending") + recordLine(4, "10.0.0.50");
    Options o = poolOptions();
    o.count = 5;
    const Plan plan = makePlan(o, in);
    EXPECT_EQ(plan.recordedFromPool(), 2);
}

TEST(Export, RecordBecomesDnsmasqAndKeaConfiguration)
{
    std::vector<RecordEntry> entries(3);
    entries[0].mac = mac(1);
    entries[0].ip = ip("10.0.0.21");
    entries[0].mask = ip("255.255.255.0");
    entries[0].gateway = ip("10.0.0.1");
    entries[0].name = "UPS \"A\"";
    entries[0].extra = {{"Location", "Hall 2"}};
    entries[1] = entries[0];
    entries[1].mac = mac(0xAB);
    entries[1].ip = ip("10.0.0.22");
    entries[1].name.clear();
    entries[1].extra.clear();
    entries[2] = entries[1];
    entries[2].mac = mac(3);
    entries[2].ip = ip("10.0.1.5");
    entries[2].gateway = 0;
    EXPECT_EQ(dnsmasqConfig(entries), "# 3 cards from a torvane-assign record\n"
                                      "# UPS \"A\"\n"
                                      "dhcp-host=00:0a:1b:c2:3d:01,set:torvane-1,10.0.0.21\n"
                                      "dhcp-host=00:0a:1b:c2:3d:ab,set:torvane-1,10.0.0.22\n"
                                      "dhcp-host=00:0a:1b:c2:3d:03,set:torvane-2,10.0.1.5\n"
                                      "dhcp-option=tag:torvane-1,option:router,10.0.0.1\n"
                                      "dhcp-option=tag:torvane-1,option:netmask,255.255.255.0\n"
                                      "dhcp-option=tag:torvane-2,option:netmask,255.255.255.0\n");
    EXPECT_EQ(
        keaReservations(entries),
        "[\n"
        "  { \"hw-address\": \"00:0a:1b:c2:3d:01\", \"ip-address\": \"10.0.0.21\",\n"
        "    \"option-data\": [ { \"name\": \"routers\", \"data\": \"10.0.0.1\" }, "
        "{ \"name\": \"subnet-mask\", \"data\": \"255.255.255.0\" } ],\n"
        "    \"user-context\": { \"name\": \"UPS \\\"A\\\"\", \"Location\": \"Hall 2\" } },\n"
        "  { \"hw-address\": \"00:0a:1b:c2:3d:ab\", \"ip-address\": \"10.0.0.22\",\n"
        "    \"option-data\": [ { \"name\": \"routers\", \"data\": \"10.0.0.1\" }, "
        "{ \"name\": \"subnet-mask\", \"data\": \"255.255.255.0\" } ] },\n"
        "  { \"hw-address\": \"00:0a:1b:c2:3d:03\", \"ip-address\": \"10.0.1.5\",\n"
        "    \"option-data\": [ { \"name\": \"subnet-mask\", \"data\": \"255.255.255.0\" } ] }\n"
        "]\n");
    EXPECT_EQ(keaReservations({}), "[]\n");
}

TEST(Pool, RangeEndingAtTheTopDoesNotWrap)
{
    Pool pool({ip("223.255.255.254"), ip("223.255.255.255")});
    EXPECT_EQ(ipText(*pool.take()), "223.255.255.254");
    EXPECT_EQ(ipText(*pool.take()), "223.255.255.255");
    EXPECT_FALSE(pool.take());
    EXPECT_FALSE(pool.take());
}

// --- the reply --------------------------------------------------------------------------

TEST(Reply, WhatTorvaneAssignSendsIsWhatTheHelperReadsBack)
{
    // The reply is bootp's; the settings go in as torvane-assign holds them (host order).
    const std::vector<std::uint8_t> request = testing_support::cardRequest(548);
    const bootp::Assignment a{octets(ip("10.0.0.21")), octets(ip("255.255.255.0")),
                              octets(ip("10.0.0.1")), octets(ip("10.0.0.5"))};
    const auto reply = bootp::buildReply(request, a);
    ASSERT_EQ(reply.size(), request.size());
    EXPECT_EQ((std::vector<int>{reply[16], reply[17], reply[18], reply[19]}),
              (std::vector<int>{10, 0, 0, 21}));
    EXPECT_EQ(bootp::readReply(request, reply), a);
    EXPECT_EQ(bootp::requestMac(request), (Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}));
}

// --- output -----------------------------------------------------------------------------

TEST(Event, JsonStaysValidForAnyText)
{
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("line\nnext\ttab\x1b"), "\"line\\u000anext\\u0009tab\\u001b\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac"), "\"caf\xc3\xa9 \xe2\x82\xac\"");
    // Bytes that are not UTF-8 (a lone continuation, a truncated sequence, an overlong form,
    // a surrogate) become U+FFFD.
    EXPECT_EQ(jsonString("\x80"), "\"\\ufffd\"");
    EXPECT_EQ(jsonString("a\xe2\x82"), "\"a\\ufffd\\ufffd\"");
    EXPECT_EQ(jsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");
    EXPECT_EQ(jsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");

    Event e("assigned", "sentence");
    e.add("name", "x")
        .number("seconds", 1.5)
        .number("count", 3L)
        .flag("ok", true)
        .raw("list", jsonArray({"a", "b\""}));
    EXPECT_EQ(formatEvent(e, Format::Json),
              "{\"event\":\"assigned\",\"name\":\"x\",\"seconds\":1.500,\"count\":3,\"ok\":true,"
              "\"list\":[\"a\",\"b\\\"\"]}");
    EXPECT_EQ(formatEvent(e, Format::Text), "sentence");
}

// --- the record on disk -----------------------------------------------------------------

using RecordOnDisk = assign::test::TemporaryFolder;

TEST_F(RecordOnDisk, EachChangeIsOnDiskAndOneLinePerCard)
{
    const std::string path = m_dir + "/record.csv";
    RecordFile file(path, {});
    std::string error;
    text::Twin why;
    ASSERT_TRUE(file.writable(why)) << why.english;
    RecordEntry e{mac(1),
                  ip("10.0.0.101"),
                  ip("255.255.255.0"),
                  ip("10.0.0.1"),
                  localTimeText(),
                  Confirmed::Pending,
                  "",
                  {},
                  {},
                  {}};
    ASSERT_TRUE(file.put(e, error)) << error;
    e.confirmed = Confirmed::Yes;
    ASSERT_TRUE(file.put(e, error)) << error;
    e.mac = mac(2);
    e.ip = ip("10.0.0.102");
    ASSERT_TRUE(file.put(e, error)) << error;

    std::string text;
    ASSERT_TRUE(readFile(path, 1 << 20, text, why)) << why.english;
    const RecordTable back = readRecord(text);
    ASSERT_TRUE(back.errors.empty()) << text;
    ASSERT_EQ(back.entries.size(), 2u) << text;
    EXPECT_EQ(back.entries[0].confirmed, Confirmed::Yes);
    EXPECT_TRUE(recordTime(back.entries[0].time)) << back.entries[0].time;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    EXPECT_FALSE(readFile(path, 10, text, why));
    EXPECT_NE(why.english.find("larger than"), std::string::npos);
    RecordFile nowhere(m_dir + "/missing/record.csv", {});
    EXPECT_FALSE(nowhere.writable(why));
    EXPECT_NE(why.english.find("cannot write in its folder"), std::string::npos) << why.english;
}

TEST_F(RecordOnDisk, AStagedBurstIsWrittenOnceAtTheFlush)
{
    const std::string path = m_dir + "/record.csv";
    RecordFile file(path, {});
    std::string error;
    text::Twin why;
    RecordEntry e{mac(1),
                  ip("10.0.0.101"),
                  ip("255.255.255.0"),
                  ip("10.0.0.1"),
                  localTimeText(),
                  Confirmed::Unchecked,
                  "",
                  {},
                  {},
                  {}};
    file.stage(e);
    e.mac = mac(2);
    e.ip = ip("10.0.0.102");
    file.stage(e);
    EXPECT_FALSE(std::filesystem::exists(path)); // nothing on disk before the flush
    ASSERT_TRUE(file.flush(error)) << error;
    std::string text;
    ASSERT_TRUE(readFile(path, 1 << 20, text, why)) << why.english;
    EXPECT_EQ(readRecord(text).entries.size(), 2u) << text;
    // Nothing staged: nothing written, not even a new file under the same name.
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("changed by hand\n", f);
        std::fclose(f);
    }
    ASSERT_TRUE(file.flush(error));
    ASSERT_TRUE(readFile(path, 1 << 20, text, why)) << why.english;
    EXPECT_EQ(text, "changed by hand\n");
}

TEST_F(RecordOnDisk, TheWriterKeepsTheReplysTimeAndWhatTheRecordKnewOfTheCard)
{
    const std::string path = m_dir + "/record.csv";
    const std::string replied = "2026-03-02T10:14:05+01:00";
    RecordEntry old{mac(1),
                    ip("10.0.0.101"),
                    ip("255.255.255.0"),
                    ip("10.0.0.1"),
                    replied,
                    Confirmed::Pending,
                    "rack3-01",
                    {{"room", "B2"}},
                    {},
                    {}};
    std::optional<RecordFile> file(std::in_place, path, std::vector<RecordEntry>{old});
    RecordWriter writer(file);
    // A later run checks the card again; the list no longer names it.
    RecordEntry checked = old;
    checked.name.clear();
    checked.extra.clear();
    checked.confirmed = Confirmed::Yes;
    writer.write(checked);
    // Another card is answered now.
    RecordEntry fresh = checked;
    fresh.mac = mac(2);
    fresh.ip = ip("10.0.0.102");
    fresh.confirmed = Confirmed::Pending;
    writer.write(fresh);

    std::string error;
    EXPECT_TRUE(writer.flush(error).empty()) << error;
    ASSERT_EQ(file->entries().size(), 2u);
    const RecordEntry& first = file->entries()[0];
    EXPECT_EQ(first.confirmed, Confirmed::Yes);
    EXPECT_EQ(first.time, replied);
    EXPECT_EQ(first.name, "rack3-01");
    EXPECT_EQ(first.extra, old.extra);
    const RecordEntry& second = file->entries()[1];
    EXPECT_NE(second.time, replied);
    EXPECT_TRUE(recordTime(second.time)) << second.time;
    EXPECT_TRUE(second.name.empty());

    // A record that cannot be written names every card staged since the last write, once.
    std::optional<RecordFile> lost(std::in_place, m_dir + "/missing/record.csv",
                                   std::vector<RecordEntry>{});
    RecordWriter nowhere(lost);
    nowhere.write(checked);
    nowhere.write(fresh);
    EXPECT_EQ(nowhere.flush(error), (std::vector<Mac>{mac(1), mac(2)}));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(nowhere.flush(error).empty());
}

// --- the page check ---------------------------------------------------------------------

void drive(HttpCheck& check, std::chrono::seconds limit)
{
    const auto end = HttpCheck::Clock::now() + limit;
    while (check.state() == HttpCheck::State::Running && HttpCheck::Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        check.step(HttpCheck::Clock::now());
    }
}

TEST(HttpCheckTest, RetriesUntilTheCardsServerComesUp)
{
    LoopbackServer server; // bound but not listening: connections are refused at first
    HttpCheck check(ip("127.0.0.1"), 0, HttpCheck::Clock::now() + std::chrono::seconds(5),
                    server.port);
    std::thread later([&server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        server.listen();
        server.answerOnce("HTTP/1.0 404 Not Found\r\n\r\n");
    });
    drive(check, std::chrono::seconds(6));
    later.join();
    EXPECT_EQ(check.state(), HttpCheck::State::Answered) << check.lastError();
    EXPECT_EQ(check.statusLine(), "HTTP/1.0 404 Not Found");
    EXPECT_GE(check.attempts(), 2);
    EXPECT_EQ(server.request.rfind("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n", 0), 0u)
        << server.request;
}

TEST(HttpCheckTest, SomethingElseThanHttpIsNoAnswer)
{
    LoopbackServer server;
    server.listen();
    HttpCheck check(ip("127.0.0.1"), 0, HttpCheck::Clock::now() + std::chrono::milliseconds(400),
                    server.port);
    std::thread answer([&server] { server.answerOnce("SSH-2.0-OpenSSH\r\n"); });
    drive(check, std::chrono::seconds(3));
    answer.join();
    EXPECT_EQ(check.state(), HttpCheck::State::Failed);
    EXPECT_EQ(check.lastError(), "the answer is not HTTP");

    for (const char* line : {"HTTP/1.1 200 OK\r\n", "HTTP/1.0 500\n", "HTTP/1.1 301 Moved"}) {
        EXPECT_TRUE(httpStatusLine(line)) << line;
    }
    for (const char* line : {"HTTP/1.1 20 OK", "HTTP/1.1 2000", "http/1.1 200 OK", "HTTP/11 200"}) {
        EXPECT_FALSE(httpStatusLine(line)) << line;
    }
}

} // namespace
