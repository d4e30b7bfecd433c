#include "BrowserBehaviour.h"
#include "BrowserView.h"
#include "Texts.h"

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace {

using behaviour::BrowserBehaviour;
using Strings = std::deque<std::string>;

// A browser window without a toolkit: an address list, a timer and a title, over a web view
// the test steers by hand. A selection that changes raises Combo1_Click, as the
// windows' lists do.
class FakeBrowserView final : public behaviour::BrowserView {
public:
    BrowserBehaviour* core = nullptr;
    Strings entries;
    int selected = -1;
    int interval = 0;
    std::string title;
    // The web view.
    bool hasView = true;
    bool isBusy = false;
    std::string url;
    std::string name;
    unsigned long outsideError = 0;
    Strings navigations;
    Strings outside;

    void insertEntry(int i, const std::string& text) override
    {
        entries.insert(entries.begin() + i, text);
        if (selected >= i) {
            ++selected;
        }
    }
    void removeEntry(int i) override
    {
        entries.erase(entries.begin() + i);
        if (selected == i) {
            selected = -1;
        } else if (selected > i) {
            --selected;
        }
    }
    void selectEntry(int i) override
    {
        if (selected != i) {
            pick(i);
        }
    }
    /// The operator picks entry i (also what Qt's list reports of the window's own choice).
    void pick(int i)
    {
        selected = i;
        core->Combo1_Click(i);
    }
    void setButtonEnabled(Button, bool) override {}
    void setTimerInterval(int ms) override { interval = ms; }
    void setTitle(const std::string& t) override { title = t; }
    bool navigate(const std::string& address) override
    {
        navigations.push_back(address);
        return hasView;
    }
    bool busy() const override { return isBusy; }
    std::string locationURL() const override { return url; }
    std::string locationName() const override { return name; }
    unsigned long openOutside(const std::string& address) override
    {
        outside.push_back(address);
        return outsideError;
    }
};

class BrowserBehaviourTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        text::setLanguage(text::Lang::Japanese);
        view.core = &core;
    }
    void TearDown() override { text::setLanguage(text::Lang::Japanese); }

    FakeBrowserView view;
    BrowserBehaviour core{view};
};

// ---- The address history: newest first, each address once, compared exactly.

struct HistoryCase {
    const char* name;
    Strings added;
    Strings entries;
    int selected;
};

void PrintTo(const HistoryCase& c, std::ostream* os)
{
    *os << c.name;
}

class BrowserHistory : public BrowserBehaviourTest,
                       public ::testing::WithParamInterface<HistoryCase> {};

TEST_P(BrowserHistory, EveryAddURLNavigatesOnceAndTheWindowsOwnSelectionsNever)
{
    for (const std::string& url : GetParam().added) {
        view.interval = 0;
        core.addURL(url);
        EXPECT_EQ(view.interval, BrowserBehaviour::kTimer1Interval) << url;
    }
    EXPECT_EQ(view.entries, GetParam().entries);
    EXPECT_EQ(view.selected, GetParam().selected);
    EXPECT_EQ(view.navigations, GetParam().added);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrowserHistory,
    ::testing::Values(
        HistoryCase{"NewestFirst", {"http://a/", "http://b/"}, {"http://b/", "http://a/"}, 0},
        HistoryCase{"AgainKeepsItsPlace",
                    {"http://a/", "http://b/", "http://a/"},
                    {"http://b/", "http://a/"},
                    1},
        HistoryCase{
            "LetterCase", {"http://card/", "http://CARD/"}, {"http://CARD/", "http://card/"}, 0},
        HistoryCase{
            "TrailingSlash", {"http://card", "http://card/"}, {"http://card/", "http://card"}, 0},
        HistoryCase{"EmptyKeepsTheHistory", {"http://a/", ""}, {"http://a/"}, 0},
        HistoryCase{"EmptyFirst", {""}, {}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowserBehaviourTest, AFullHistoryGivesUpItsOldestEntry)
{
    FakeBrowserView small;
    BrowserBehaviour history{small, 3};
    small.core = &history;
    for (const char* url : {"a", "b", "c", "d"}) {
        history.addURL(url);
    }
    EXPECT_EQ(small.entries, (Strings{"d", "c", "b"}));
    EXPECT_EQ(small.selected, 0);

    // An address already held takes no room; the one given up is new again.
    history.addURL("b");
    EXPECT_EQ(small.selected, 2);
    history.addURL("a");
    EXPECT_EQ(small.entries, (Strings{"a", "d", "c"}));
    // Picking an entry navigates to what it shows.
    small.navigations.clear();
    small.pick(2);
    EXPECT_EQ(small.navigations, Strings{"c"});
}

TEST_F(BrowserBehaviourTest, OnlyTheOperatorsPickNavigatesAndCompletionSelectsThePageOnShow)
{
    core.addURL("http://a/");
    core.addURL("http://b/");
    view.navigations.clear();
    view.interval = 0;

    view.pick(1);
    EXPECT_EQ(view.navigations, Strings{"http://a/"});
    EXPECT_EQ(view.interval, BrowserBehaviour::kTimer1Interval);

    // A page reached inside the view selects its entry without navigating; one the history
    // lacks leaves the selection as it is and does not enter the history.
    view.url = "http://b/";
    core.WebBrowser1_DocumentComplete();
    EXPECT_EQ(view.selected, 0);
    view.url = "http://elsewhere/";
    core.WebBrowser1_DownloadComplete();
    EXPECT_EQ(view.selected, 0);
    EXPECT_EQ(view.entries, (Strings{"http://b/", "http://a/"}));
    EXPECT_EQ(view.navigations, Strings{"http://a/"});

    // After the window's own selection the operator's pick navigates again; a pick of no
    // entry asks for an empty address.
    view.pick(1);
    view.pick(-1);
    EXPECT_EQ(view.navigations, (Strings{"http://a/", "http://a/", ""}));
}

// ---- The busy indicator and the title.

TEST_F(BrowserBehaviourTest, TheTitleSaysConnectingUntilATickFindsTheViewIdle)
{
    for (const auto lang : {text::Lang::Japanese, text::Lang::English}) {
        text::setLanguage(lang);
        view.isBusy = true;
        view.name = "Card";
        core.addURL("http://a/");
        core.Timer1_Timer();
        EXPECT_EQ(view.title, lang == text::Lang::Japanese ? "接続中..." : "Connecting...");
        EXPECT_EQ(view.interval, BrowserBehaviour::kTimer1Interval);

        view.isBusy = false;
        core.Timer1_Timer();
        EXPECT_EQ(view.title, "Card");
        EXPECT_EQ(view.interval, 0);
    }
}

// ---- No web view: the default browser shows the page and the title says so.

TEST_F(BrowserBehaviourTest, WithoutAWebViewThePageGoesToTheDefaultBrowser)
{
    view.hasView = false;
    core.addURL("http://10.77.0.20/");
    EXPECT_EQ(view.interval, 0);
    EXPECT_EQ(view.outside, Strings{"http://10.77.0.20/"});
    EXPECT_EQ(view.title, "Web表示を使えないため, 既定のブラウザで開きました - http://10.77.0.20/");

    view.outsideError = 1155;
    view.title.clear();
    view.pick(0);
    EXPECT_EQ(view.title, "ページを開けません (1155) - http://10.77.0.20/");

    // Nothing to hand over: neither the shell nor the title is touched.
    view.title = "before";
    core.addURL("");
    EXPECT_EQ(view.outside.size(), 2u);
    EXPECT_EQ(view.title, "before");
    EXPECT_EQ(view.interval, 0);
}

// ---- What the card's pages ask.

TEST_F(BrowserBehaviourTest, ALoginIsMarkedAgainOnlyAfterAnAnswerForTheSameRealm)
{
    std::vector<bool> again;
    bool answer = true;
    const auto ask = [&](bool a) {
        again.push_back(a);
        return answer;
    };
    const std::string card = "10.77.0.20";
    const std::string realm = "Web/SNMP Card";
    EXPECT_TRUE(core.login(false, card, realm, ask));
    EXPECT_TRUE(core.login(false, card, realm, ask));
    // The same host and realm through a proxy, another realm: a first time each.
    core.login(true, card, realm, ask);
    core.login(false, card, "Other", ask);
    answer = false;
    EXPECT_FALSE(core.login(false, card, realm, ask));
    // After a cancel nothing has failed.
    core.login(false, card, realm, ask);
    EXPECT_EQ(again, (std::vector<bool>{false, true, false, false, true, false}));
}

TEST_F(BrowserBehaviourTest, ACertificateIsAskedOncePerHostAndCertificate)
{
    bool answerYes = false;
    Strings asked;
    const auto ask = [&](const behaviour::Question& q) {
        asked.push_back(q.title + '|' + q.text + '|' + q.yes + '|' + q.no);
        return answerYes;
    };
    const std::string sha = "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:"
                            "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99";
    using P = behaviour::Certificate::Problem;
    behaviour::Certificate c{"10.77.0.20", P::Authority,       "words",
                             sha,          "2026/01/02 03:04", "2027/01/02 03:04"};
    EXPECT_FALSE(core.acceptCertificate(c, ask));
    answerYes = true;
    EXPECT_TRUE(core.acceptCertificate(c, ask));
    answerYes = false;
    EXPECT_TRUE(core.acceptCertificate(c, ask)); // accepted before: not asked again
    EXPECT_EQ(asked.size(), 2u);

    c.host = "10.77.0.21"; // another host asks again
    EXPECT_FALSE(core.acceptCertificate(c, ask));
    // So does another certificate; a short fingerprint from the engine is shown as it is.
    text::setLanguage(text::Lang::English);
    c = {"10.77.0.20", P::Other, "engine words", "AB:CD", "a", "b"};
    EXPECT_FALSE(core.acceptCertificate(c, ask));
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_NE(asked[3].find("The certificate has a problem (engine words).\n\n"
                            "SHA-256 fingerprint:\nAB:CD\n\nValid from a to b"),
              std::string::npos)
        << asked[3];
    EXPECT_EQ(asked[3].substr(asked[3].size() - 9), "|&Yes|&No");
}

TEST_F(BrowserBehaviourTest, ADownloadShowsItsProgressInTheTitleThenReports)
{
    core.addURL("http://a/");
    core.downloadProgress(300, 200);
    EXPECT_EQ(view.title, "ダウンロード中... 100%");
    // The timer would put the page's name back.
    EXPECT_EQ(view.interval, 0);
    core.downloadProgress(3000, -1);
    EXPECT_EQ(view.title, "ダウンロード中... 2 KB");

    view.name = "Card page";
    const behaviour::Question failed = core.downloadFinished(false, "/d/log.csv", "Network error");
    EXPECT_EQ(view.title, "Card page");
    EXPECT_TRUE(failed.warning);
    EXPECT_EQ(failed.text, "ダウンロードできませんでした (Network error).\n/d/log.csv");
    EXPECT_FALSE(core.downloadFinished(true, "/d/log.csv", "").warning);
}

} // namespace
