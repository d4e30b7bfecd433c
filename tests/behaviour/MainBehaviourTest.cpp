#include "FakeViews.h"

#include "BootMessage.h"
#include "CardRequest.h"
#include "FatalError.h"
#include "MainBehaviour.h"
#include "PlainFakes.h"
#include "SearchFailure.h"
#include "Texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using Button = behaviour::MainView::Button;
using Icon = behaviour::MainView::Icon;

const std::string kSearching = "Web/SNMPカード検索中...";

class MainBehaviourTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        text::setLanguage(text::Lang::Japanese);
        socket.localAddress = "192.168.0.5";
        socket.interfaceAddress = "10.0.0.1";
        socket.interfacePrefix = 24;
    }
    behaviour::MainBehaviour& load()
    {
        core.reset();
        core = std::make_unique<behaviour::MainBehaviour>(
            view, behaviour::MainBehaviour::Services{socket, neighbours, clock, [](OsVersion&) {},
                                                     [this] { return root; }});
        core->Form_Load();
        return *core;
    }
    /// The operator confirms these addresses in the dialog.
    void operatorSets(behaviour::Octets ip, bool openBrowser)
    {
        view.answer = {true, ip, {255, 255, 255, 0}, {10, 0, 0, 1}, openBrowser};
    }
    void operatorCancels() { view.answer = {}; }
    /// Starts the search and delivers one card request.
    void cardArrives(std::size_t length = 300)
    {
        core->Command1_Click();
        socket.deliver(testing_support::cardRequest(length));
    }
    const FakeMainView::Message& onlyMessage() const
    {
        EXPECT_EQ(view.messages.size(), 1u);
        return view.messages.front();
    }

    FakeMainView view;
    FakeDatagramSocket socket;
    FakeNeighbourTable neighbours;
    FakeClock clock;
    bool root = false;
    std::unique_ptr<behaviour::MainBehaviour> core;
};

// ---- Load, Start, Stop, animation

TEST_F(MainBehaviourTest, LoadPreparesTheSocketAndTheSharedState)
{
    load();
    EXPECT_EQ(core->area.G_LocalIp, (behaviour::Octets{192, 168, 0, 5}));
    EXPECT_EQ(socket.localPort(), 67);
    EXPECT_EQ(socket.remotePort(), 68);
    EXPECT_EQ(socket.remoteHost(), "0.0.0.0");
    EXPECT_FALSE(socket.bound);
    EXPECT_FALSE(core->M_Search);

    socket.localAddress = "10.0.1";
    EXPECT_THROW(load(), FatalError);
}

TEST_F(MainBehaviourTest, StartAndStopDriveButtonsTimerSocketAndStatus)
{
    load();
    core->Command1_Click();
    EXPECT_FALSE(view.isEnabled(Button::Command1));
    EXPECT_TRUE(view.isEnabled(Button::Command2));
    EXPECT_FALSE(view.isEnabled(Button::Command3));
    EXPECT_EQ(view.defaultButton, Button::Command2);
    EXPECT_EQ(view.focus, Button::Command2);
    EXPECT_EQ(view.interval, 200);
    EXPECT_TRUE(socket.bound);
    EXPECT_EQ(socket.localPort(), 67);
    EXPECT_EQ(view.status, kSearching);
    EXPECT_TRUE(core->M_Search);

    for (int i = 0; i < 5; ++i) {
        core->Timer1_Timer();
    }
    core->Command2_Click();
    EXPECT_TRUE(view.isEnabled(Button::Command1));
    EXPECT_FALSE(view.isEnabled(Button::Command2));
    EXPECT_TRUE(view.isEnabled(Button::Command3));
    EXPECT_EQ(view.defaultButton, Button::Command3);
    EXPECT_EQ(view.focus, Button::Command3);
    EXPECT_EQ(view.interval, 0);
    EXPECT_EQ(view.frame, 0);
    EXPECT_EQ(core->M_AniIdx, 0);
    EXPECT_FALSE(socket.bound);
    EXPECT_EQ(socket.endSearches, 1);
    EXPECT_EQ(view.status, "");
    EXPECT_FALSE(core->M_Search);

    // A second Start binds port 67 again; its first tick shows frame 0.
    core->Command1_Click();
    EXPECT_EQ(socket.binds, 2);
    core->Timer1_Timer();
    EXPECT_EQ(view.frame, 0);
}

TEST_F(MainBehaviourTest, AnimationRunsTwelveFramesAndWraps)
{
    load();
    for (int i = 0; i < 11; ++i) {
        core->Timer1_Timer();
    }
    EXPECT_EQ(core->M_AniIdx, 11);
    EXPECT_EQ(view.frame, 10);
    core->Timer1_Timer();
    EXPECT_EQ(view.frame, 11);
    EXPECT_EQ(core->M_AniIdx, 0);
    core->Timer1_Timer();
    EXPECT_EQ(view.frame, 0);
}

TEST_F(MainBehaviourTest, UnloadClosesTheSocketOnlyDuringASearch)
{
    load();
    core->Form_Unload();
    EXPECT_EQ(view.browserUnloads, 1);
    EXPECT_EQ(socket.endSearches, 0);
    core->Command1_Click();
    core->Form_Unload();
    EXPECT_EQ(view.browserUnloads, 2);
    EXPECT_EQ(socket.endSearches, 1);
    core->Command3_Click();
    EXPECT_EQ(view.unloads, 1);
}

// ---- Detection

TEST_F(MainBehaviourTest, OnlyWholeCardRequestsOpenTheDialog)
{
    load();
    core->Command1_Click();
    // Read and dropped: too short, too long for a card, or another client's request.
    socket.deliver(testing_support::cardRequest(299));
    socket.deliver(testing_support::cardRequest(577));
    socket.deliver(testing_support::foreignDiscover());
    EXPECT_EQ(socket.reads, 3);
    EXPECT_TRUE(socket.queue.empty());
    EXPECT_EQ(view.dialogs, 0);
    EXPECT_TRUE(socket.bound);
    EXPECT_EQ(view.status, kSearching);

    std::string statusInDialog;
    bool boundInDialog = true;
    view.dialog = [&] {
        statusInDialog = view.status;
        boundInDialog = socket.bound;
    };
    socket.deliver(testing_support::cardRequest(300));
    EXPECT_EQ(view.dialogs, 1);
    EXPECT_EQ(view.shown.G_MacAddr, "00-0A-1B-C2-3D-FF");
    EXPECT_EQ(statusInDialog, "アドレス未設定のWeb/SNMPカードが見つかりました.");
    EXPECT_FALSE(boundInDialog);
}

TEST_F(MainBehaviourTest, TheProposalComesFromTheArrivalInterfacesAddress)
{
    load();
    behaviour::Octets proposed{};
    view.dialog = [&] { proposed = view.shown.G_LocalIp; };
    cardArrives();
    // Not the 192.168.0.5 that the socket named at load: the card's network is 10.0.0.0/24.
    EXPECT_EQ(proposed, (behaviour::Octets{10, 0, 0, 1}));

    socket.interfaceAddress.clear();
    cardArrives();
    EXPECT_EQ(proposed, (behaviour::Octets{0, 0, 0, 0}));
}

TEST_F(MainBehaviourTest, CancelSendsNothingAndListensAgain)
{
    load();
    operatorCancels();
    view.answer.G_IpAddr = {10, 0, 0, 7}; // an earlier card's, left without Set
    cardArrives();
    EXPECT_TRUE(socket.sent.empty());
    EXPECT_TRUE(neighbours.entries.empty());
    EXPECT_EQ(clock.readings, 0);
    EXPECT_TRUE(view.pages.empty());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "block"), 0);
    EXPECT_EQ(view.status, kSearching);
    EXPECT_TRUE(socket.bound);
    EXPECT_TRUE(core->M_Search);
}

// ---- Assignment

TEST_F(MainBehaviourTest, SetSendsTheReplyAddsTheEntryWaitsAndOpensThePage)
{
    load();
    operatorSets({10, 0, 0, 7}, true);
    std::size_t sentBeforeEntry = 0;
    neighbours.onAdd = [&] { sentBeforeEntry = socket.sent.size(); };
    std::vector<bool> blockedInWait;
    view.onEvents = [&] { blockedInWait.push_back(view.blocked); };
    cardArrives();

    ASSERT_EQ(socket.sent.size(), 1u);
    const FakeDatagramSocket::Sent& reply = socket.sent.front();
    EXPECT_EQ(reply.data.size(), 300u);
    EXPECT_EQ(reply.host, "255.255.255.255");
    EXPECT_EQ(reply.port, 68);
    EXPECT_EQ(reply.localPort, 67);
    EXPECT_FALSE(reply.listenerOpen);
    EXPECT_EQ(reply.data[bootp::kOp], 2); // BOOTREPLY
    EXPECT_EQ(socket.remoteHost(), "0.0.0.0");

    EXPECT_EQ(sentBeforeEntry, 1u);
    ASSERT_EQ(neighbours.entries.size(), 1u);
    EXPECT_EQ(neighbours.entries[0].ifindex, 9);
    EXPECT_EQ(neighbours.entries[0].ip, (std::array<std::uint8_t, 4>{10, 0, 0, 7}));
    EXPECT_EQ(neighbours.entries[0].mac,
              (std::array<std::uint8_t, 6>{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}));

    EXPECT_FALSE(blockedInWait.empty());
    EXPECT_TRUE(std::all_of(blockedInWait.begin(), blockedInWait.end(), [](bool b) { return b; }));
    EXPECT_EQ(view.pages, std::vector<std::string>{"http://10.0.0.7/"});
    EXPECT_TRUE(view.messages.empty());
    // The window takes input again only after the wait and the page; searching comes last.
    const std::vector<std::string> expected{
        "status:アドレス未設定のWeb/SNMPカードが見つかりました.",
        "dialog",
        "block",
        "status:IPアドレス設定中...",
        "events",
        "page:http://10.0.0.7/",
        "unblock",
        "status:" + kSearching};
    EXPECT_EQ(std::vector<std::string>(view.log.end() - 8, view.log.end()), expected);
    EXPECT_TRUE(socket.bound);
    EXPECT_FALSE(view.blocked);
}

TEST_F(MainBehaviourTest, TheWaitEndsAtTheFirstReadingMoreThanFiveSecondsOn)
{
    load();
    operatorSets({10, 0, 0, 7}, false);
    // Start, then readings at 3 s, exactly 5 s (not yet over), and 5.25 s.
    clock.script = {1000.0, 1003.0, 1005.0, 1005.25, 1100.0};
    cardArrives();
    EXPECT_EQ(view.events, 3);
    EXPECT_EQ(clock.readings, 4);
    EXPECT_TRUE(view.pages.empty()); // the browser was not asked for
}

TEST_F(MainBehaviourTest, TheRootNoticeComesOnceAfterThePage)
{
    root = true;
    load();
    operatorSets({10, 0, 0, 7}, true);
    cardArrives();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].icon, Icon::Warning);
    EXPECT_EQ(view.messages[0].title, "注意");
    cardArrives();
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.pages.size(), 2u);
}

// ---- Failures: the box "エラー発生" says what happened, what the card has, what to do.

TEST_F(MainBehaviourTest, AReplyThatCannotBeSentSaysTheCardHasNothing)
{
    load();
    operatorSets({10, 0, 0, 7}, true);
    socket.failSend = [] { throw SearchFailure(101, text::Twin("ネットワークに到達できません")); };
    cardArrives();
    const FakeMainView::Message& m = onlyMessage();
    EXPECT_EQ(m.icon, Icon::Critical);
    EXPECT_EQ(m.title, "エラー発生");
    EXPECT_EQ(m.text, "エラーコード : 101\r\n"
                      "IPアドレスをカードに送信できませんでした: ネットワークに到達できません.\n"
                      "カードにIPアドレスは送信されていません.\n"
                      "カードが要求を繰り返すと設定画面がもう一度開きます. 検索は続きます.");
    EXPECT_TRUE(neighbours.entries.empty());
    EXPECT_EQ(clock.readings, 0);
    EXPECT_TRUE(view.pages.empty());
    EXPECT_EQ(socket.remoteHost(), "0.0.0.0");
    EXPECT_TRUE(socket.bound); // the search goes on
    EXPECT_FALSE(view.blocked);
}

TEST_F(MainBehaviourTest, ARefusedEntryStillOpensThePageAndSaysWhyThereIsNone)
{
    load();
    operatorSets({10, 0, 0, 7}, true);
    neighbours.answer = text::Twin("拒否されました", "refused");
    cardArrives();
    {
        const FakeMainView::Message& m = onlyMessage();
        EXPECT_EQ(m.icon, Icon::Critical);
        EXPECT_EQ(m.text, "ARPエントリを登録できませんでした: 拒否されました.\n"
                          "カードにはIPアドレス 10.0.0.7 を送信しました.\n"
                          "カードのページはARPエントリなしで開きました. 表示されないときは, "
                          "このPCのARPテーブルを確かめてください. 検索は続きます.");
        EXPECT_EQ(view.pages, std::vector<std::string>{"http://10.0.0.7/"});
        // After the five seconds, the page, then the box over it.
        const auto page = std::find(view.log.begin(), view.log.end(), "page:http://10.0.0.7/");
        ASSERT_NE(page, view.log.end());
        EXPECT_EQ(std::find(view.log.begin(), page, "message"), page);
        EXPECT_NE(std::find(page, view.log.end(), "message"), view.log.end());
        EXPECT_GT(clock.readings, 0);
    }

    // Without the page asked for, the box says only that the PC may not reach the card.
    view.messages.clear();
    view.pages.clear();
    operatorSets({10, 0, 0, 7}, false);
    cardArrives();
    EXPECT_EQ(onlyMessage().text, "ARPエントリを登録できませんでした: 拒否されました.\n"
                                  "カードにはIPアドレス 10.0.0.7 を送信しました.\n"
                                  "このPCからカードに接続できないことがあります. 検索は続きます.");
    EXPECT_TRUE(view.pages.empty());

    // Neither entry nor browser: one box names both and where to open the page.
    view.messages.clear();
    operatorSets({10, 0, 0, 7}, true);
    view.browserFailure = "ブラウザを起動できません (QtWebEngineProcessが見つかりません).";
    cardArrives();
    EXPECT_EQ(onlyMessage().text,
              "ARPエントリを登録できませんでした: 拒否されました.\n" + view.browserFailure +
                  "\nカードにはIPアドレス 10.0.0.7 を送信しました.\n"
                  "カードのページは, 他のブラウザで http://10.0.0.7/ を開いてください.");
    EXPECT_TRUE(view.pages.empty());
}

TEST_F(MainBehaviourTest, FailuresAfterTheSendKeepTheCardsAddressInTheBox)
{
    load();

    // An address outside the card's network: no entry, no page, the address said.
    operatorSets({192, 168, 9, 9}, true);
    cardArrives();
    {
        const FakeMainView::Message& m = onlyMessage();
        EXPECT_NE(m.text.find("192.168.9.9"), std::string::npos);
        EXPECT_NE(m.text.find("eth9"), std::string::npos);
        EXPECT_NE(m.text.find("カードにはIPアドレス 192.168.9.9 を送信しました."),
                  std::string::npos);
        EXPECT_TRUE(neighbours.entries.empty());
        EXPECT_TRUE(view.pages.empty());
    }

    // The browser cannot start: the card has its address; open it elsewhere.
    view.messages.clear();
    operatorSets({10, 0, 0, 7}, true);
    view.browserFailure = "ブラウザを起動できません (QtWebEngineProcessが見つかりません).";
    cardArrives();
    {
        const FakeMainView::Message& m = onlyMessage();
        EXPECT_EQ(m.text,
                  view.browserFailure +
                      "\nカードにはIPアドレス 10.0.0.7 を送信しました.\n"
                      "カードのページは, 他のブラウザで http://10.0.0.7/ を開いてください.");
        EXPECT_TRUE(view.pages.empty());
    }
}

TEST_F(MainBehaviourTest, ACardOutsideTheNetworkIsReachedThroughATemporaryAddressOnYes)
{
    load();
    operatorSets({192, 168, 9, 9}, true);
    neighbours.proposal = NeighbourTable::Ip{192, 168, 9, 254};
    neighbours.temporary = {NeighbourTable::Ip{192, 168, 9, 253}, {}};

    // No, the default: today's box, nothing added, no page.
    cardArrives();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].first, "一時IPアドレス");
    EXPECT_EQ(
        view.questions[0].second,
        "IPアドレス 192.168.9.9 は, カードがつながっているインタフェース eth9 のネットワーク外"
        "です.\nインタフェース eth9 に一時IPアドレス 192.168.9.254 を追加して, カードのページを"
        "開きますか?\n一時IPアドレスは検索の終了とともに削除されます.");
    EXPECT_NE(onlyMessage().text.find("このPCからはカードに接続できません."), std::string::npos);
    EXPECT_TRUE(neighbours.temporaries.empty());
    EXPECT_TRUE(neighbours.entries.empty());
    EXPECT_TRUE(view.pages.empty());

    // Yes: the address is added (the next one, a device answered for the first), then the
    // entry, the wait and the page, without a box.
    view.messages.clear();
    view.answerYes = true;
    cardArrives();
    ASSERT_EQ(neighbours.temporaries.size(), 1u);
    EXPECT_EQ(neighbours.temporaries[0].first.ip, (NeighbourTable::Ip{192, 168, 9, 9}));
    EXPECT_EQ(neighbours.temporaries[0].first.mask, (NeighbourTable::Ip{255, 255, 255, 0}));
    EXPECT_EQ(neighbours.temporaries[0].second, (NeighbourTable::Ip{192, 168, 9, 254}));
    EXPECT_EQ(neighbours.entries.size(), 1u);
    EXPECT_EQ(view.pages, std::vector<std::string>{"http://192.168.9.9/"});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_NE(std::find(view.log.begin(), view.log.end(),
                        "status:一時IPアドレス 192.168.9.253 (eth9) でカードに接続します."),
              view.log.end());

    // Flushed by another program while the search runs: said once, within a few ticks.
    for (int i = 0; i < 20; ++i) {
        core->Timer1_Timer();
    }
    EXPECT_TRUE(view.messages.empty());
    neighbours.present = false;
    for (int i = 0; i < 20; ++i) {
        core->Timer1_Timer();
    }
    EXPECT_EQ(
        onlyMessage().text,
        "一時IPアドレス 192.168.9.253 がインタフェース eth9 から削除されました. 他のプログラム"
        "がネットワーク設定を変更した可能性があります.\nこのPCからカードのページに接続できま"
        "せん. 検索は続きます.");

    // Stop ends the search and the address with it: nothing more to watch.
    view.messages.clear();
    cardArrives();
    core->Command2_Click();
    for (int i = 0; i < 20; ++i) {
        core->Timer1_Timer();
    }
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MainBehaviourTest, ATemporaryAddressThatCannotBeAddedSaysWhy)
{
    load();
    operatorSets({192, 168, 9, 9}, true);
    neighbours.proposal = NeighbourTable::Ip{192, 168, 9, 254};
    neighbours.temporary = {std::nullopt, text::Twin("他の機器が応答しました", "answered")};
    view.answerYes = true;
    cardArrives();
    EXPECT_EQ(onlyMessage().text, "一時IPアドレスを追加できませんでした: 他の機器が応答しました.\n"
                                  "カードにはIPアドレス 192.168.9.9 を送信しました.\n"
                                  "このPCからはカードに接続できません. カードのページは, その"
                                  "ネットワークにつながったPCから開いてください.");
    EXPECT_TRUE(neighbours.entries.empty());
    EXPECT_TRUE(view.pages.empty());

    // Only an administrator could add it (Windows): no question, the commands instead.
    view.messages.clear();
    view.questions.clear();
    neighbours.byHand =
        text::Twin("管理者の権限が必要です.\n    netsh ...", "needs an administrator");
    cardArrives();
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(
        onlyMessage().text,
        "IPアドレス 192.168.9.9 は, カードがつながっているインタフェース eth9 のネットワーク外"
        "です.\nカードにはIPアドレス 192.168.9.9 を送信しました.\n管理者の権限が必要です.\n"
        "    netsh ...");
    neighbours.byHand.reset();

    // No address to propose (the subnet has none, or this PC cannot take one): no question.
    view.messages.clear();
    view.questions.clear();
    neighbours.proposal.reset();
    cardArrives();
    EXPECT_TRUE(view.questions.empty());
    EXPECT_NE(onlyMessage().text.find("ネットワーク外です."), std::string::npos);
}

TEST_F(MainBehaviourTest, AnInterfaceThatGoesAwayIsReported)
{
    load();
    operatorSets({10, 0, 0, 7}, true);
    // Gone before the send: nothing was sent.
    socket.interfaceExists = false;
    cardArrives();
    EXPECT_TRUE(socket.sent.empty());
    EXPECT_NE(onlyMessage().text.find("インタフェース eth9 がなくなりました."), std::string::npos);
    EXPECT_NE(onlyMessage().text.find("カードにIPアドレスは送信されていません."),
              std::string::npos);

    // Gone during the wait: sent, but no page.
    view.messages.clear();
    socket.interfaceExists = true;
    view.onEvents = [this] { socket.interfaceExists = false; };
    cardArrives();
    EXPECT_EQ(socket.sent.size(), 1u);
    EXPECT_NE(onlyMessage().text.find("カードにはIPアドレス 10.0.0.7 を送信しました."),
              std::string::npos);
    EXPECT_TRUE(view.pages.empty());
}

TEST_F(MainBehaviourTest, AStartThatCannotBindReportsAndReturnsToIdle)
{
    load();
    socket.failBind = [] {
        throw SearchFailure(98, text::Twin("ポート67は他のプログラムが使用中です"));
    };
    core->Command1_Click();
    const FakeMainView::Message& m = onlyMessage();
    EXPECT_EQ(m.title, "エラー発生");
    EXPECT_EQ(m.text, "エラーコード : 98\r\nポート67は他のプログラムが使用中です");
    EXPECT_FALSE(core->M_Search);
    EXPECT_TRUE(view.isEnabled(Button::Command1));
    EXPECT_FALSE(view.isEnabled(Button::Command2));
    EXPECT_EQ(view.interval, 0);
    EXPECT_EQ(view.status, "");

    // The same when the port is taken while a card's dialog was open.
    view.messages.clear();
    socket.failBind = nullptr;
    operatorCancels();
    cardArrives();
    ASSERT_TRUE(core->M_Search);
    socket.failBind = [] { throw SearchFailure(0, text::Twin("使用中", "in use")); };
    socket.deliver(testing_support::cardRequest());
    EXPECT_EQ(onlyMessage().text, "使用中");
    EXPECT_FALSE(core->M_Search);
}

TEST_F(MainBehaviourTest, ASocketErrorIsShownAndEndsTheSearchOnly)
{
    load();
    core->Command1_Click();
    socket.Error(-5, "Connection reset");
    const FakeMainView::Message& m = onlyMessage();
    EXPECT_EQ(m.title, "エラー発生");
    EXPECT_EQ(m.text, "Winsockコントロールでエラーが発生しました. エラーコード : -5\r\n"
                      "Connection reset");
    EXPECT_FALSE(core->M_Search);
    EXPECT_EQ(socket.endSearches, 1);
    EXPECT_EQ(view.unloads, 0);

    // Without a code, and while idle: the message only.
    view.messages.clear();
    socket.Error(0, "helper ended");
    EXPECT_EQ(onlyMessage().text, "Winsockコントロールでエラーが発生しました.\r\nhelper ended");
    EXPECT_EQ(socket.endSearches, 1);
}

TEST_F(MainBehaviourTest, TheSocketsEventsAreReleasedWithTheBehaviour)
{
    load();
    EXPECT_TRUE(static_cast<bool>(socket.DataArrival));
    core.reset();
    EXPECT_FALSE(static_cast<bool>(socket.DataArrival));
    EXPECT_FALSE(static_cast<bool>(socket.Error));
}

} // namespace
