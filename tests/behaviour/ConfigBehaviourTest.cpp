#include "FakeViews.h"

#include "ConfigBehaviour.h"
#include "SearchRules.h"
#include "Texts.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

using Group = behaviour::ConfigView::Group;

class ConfigBehaviourTest : public ::testing::Test {
protected:
    void SetUp() override { text::setLanguage(text::Lang::Japanese); }
    /// Opens the dialog for a card, over what area holds from earlier.
    void open(behaviour::Octets local = {192, 168, 1, 20})
    {
        area.G_MacAddr = "00-0A-1B-C2-3D-FF";
        area.G_LocalIp = local;
        core = std::make_unique<behaviour::ConfigBehaviour>(view, area);
        view.core = core.get();
        core->Form_Load();
        core->Form_Activate();
    }
    std::u16string text(Group g, int i) const { return view.boxText(g, i); }
    const behaviour::Assignment& result() const { return core->result(); }

    FakeConfigView view;
    behaviour::PublicArea area;
    std::unique_ptr<behaviour::ConfigBehaviour> core;
};

TEST_F(ConfigBehaviourTest, OpensWithTheMacAndTheFirstThreeOctetsOfThisPc)
{
    open();
    EXPECT_EQ(view.mac, "00-0A-1B-C2-3D-FF");
    EXPECT_EQ(text(Group::IpAddr, 0), u"192");
    EXPECT_EQ(text(Group::IpAddr, 1), u"168");
    EXPECT_EQ(text(Group::IpAddr, 2), u"1");
    // The PC's own last octet is not proposed: the card must not take the PC's address.
    EXPECT_EQ(text(Group::IpAddr, 3), u"");
    EXPECT_TRUE(view.focusIs(Group::IpAddr, 3));
    EXPECT_FALSE(view.setIsDefault);

    // Coming back from the confirmation activates the dialog again: what was typed stays.
    view.setBoxText(Group::IpAddr, 0, u"10");
    core->Form_Activate();
    EXPECT_EQ(text(Group::IpAddr, 0), u"10");
}

TEST_F(ConfigBehaviourTest, NoAddressOrALinkLocalOneOnTheCardsInterfaceProposesNothing)
{
    for (const behaviour::Octets local : {behaviour::Octets{0, 0, 0, 0}, {169, 254, 23, 7}}) {
        open(local);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(text(Group::IpAddr, i), u"") << int(local[0]) << " box " << i;
        }
        EXPECT_TRUE(view.focusIs(Group::IpAddr, 3));
    }
    // Only 169.254.0.0/16 is link-local; its neighbours are proposed like any network.
    EXPECT_FALSE(proposesNetwork({169, 254, 0, 1}));
    EXPECT_FALSE(proposesNetwork({169, 254, 255, 254}));
    EXPECT_TRUE(proposesNetwork({169, 253, 23, 7}));
    EXPECT_TRUE(proposesNetwork({169, 255, 0, 1}));
    EXPECT_TRUE(proposesNetwork({10, 50, 0, 2}));
    EXPECT_TRUE(proposesNetwork({0, 0, 0, 1}));
}

struct Typing {
    const char* name;
    Group group;
    int index;
    std::u16string keys;
    std::u16string shown; // the box's text afterwards
    int caret;            // its caret, when the focus stayed
    enum Where { Same, Next, Set } focus;
};

void PrintTo(const Typing& t, std::ostream* os)
{
    *os << t.name;
}

class TypingTest : public ConfigBehaviourTest, public ::testing::WithParamInterface<Typing> {};

TEST_P(TypingTest, FilterAdvanceAndCap)
{
    const Typing& t = GetParam();
    open({0, 0, 0, 0});
    view.click(t.group, t.index);
    view.type(t.keys);
    EXPECT_EQ(text(t.group, t.index), t.shown);
    switch (t.focus) {
    case Typing::Same:
        EXPECT_TRUE(view.focusIs(t.group, t.index));
        EXPECT_EQ(view.caret(t.group, t.index), t.caret);
        break;
    case Typing::Next:
        EXPECT_TRUE(view.focusIs(t.group, t.index + 1));
        break;
    case Typing::Set:
        EXPECT_TRUE(view.focusOnSet());
        EXPECT_TRUE(view.setIsDefault);
        break;
    }
    if (t.focus != Typing::Set) {
        EXPECT_FALSE(view.setIsDefault);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TypingTest,
    ::testing::Values(
        Typing{"ThreeDigitsAdvance", Group::IpAddr, 0, u"192", u"192", 0, Typing::Next},
        // Leaving the box caps it: the advance to Set is what makes 500 into 255.
        Typing{"CappedAt255OnLeaving", Group::SbMask, 3, u"500", u"255", 0, Typing::Set},
        Typing{"JustAbove255IsCapped", Group::SbMask, 2, u"256", u"255", 0, Typing::Next},
        Typing{"Exactly255Stays", Group::SbMask, 1, u"255", u"255", 0, Typing::Next},
        Typing{"BoxThreeGoesToSetNotToTheNextGroup", Group::IpAddr, 3, u"150", u"150", 0,
               Typing::Set},
        Typing{"LetterIntoEmptyBox", Group::GateWay, 1, u"a", u"", 0, Typing::Same},
        Typing{"FullStopIsDropped", Group::IpAddr, 1, u"12.", u"12", 2, Typing::Same},
        Typing{"FullWidthDigitIsNoDigit", Group::IpAddr, 2, u"\uFF11", u"", 0, Typing::Same},
        Typing{"MinusRefused", Group::SbMask, 0, u"-5", u"5", 1, Typing::Same},
        Typing{"TwoDigitsStay", Group::GateWay, 3, u"50", u"50", 2, Typing::Same}),
    [](const ::testing::TestParamInfo<Typing>& info) { return std::string(info.param.name); });

TEST_F(ConfigBehaviourTest, EditsInsideTheTextAndPastes)
{
    open({0, 0, 0, 0});
    // A paste with trailing letters is stripped one letter per nested change.
    view.click(Group::IpAddr, 0);
    view.insert(u"1ab");
    EXPECT_EQ(text(Group::IpAddr, 0), u"1");
    EXPECT_EQ(view.caret(Group::IpAddr, 0), 1);

    // A digit typed before the others makes three characters: advance, then the cap.
    view.click(Group::IpAddr, 1);
    view.type(u"12");
    view.setCaret(Group::IpAddr, 1, 0);
    view.type(u"9");
    EXPECT_TRUE(view.focusIs(Group::IpAddr, 2));
    EXPECT_EQ(text(Group::IpAddr, 1), u"255");

    // Only the last character is tested: 1x2 stays until the box is left, then reads 1.
    view.click(Group::SbMask, 0);
    view.type(u"12");
    view.setCaret(Group::SbMask, 0, 1);
    view.type(u"x");
    EXPECT_TRUE(view.focusIs(Group::SbMask, 1));
    EXPECT_EQ(text(Group::SbMask, 0), u"1");
}

TEST_F(ConfigBehaviourTest, LeavingABoxNormalisesItsOctet)
{
    open({0, 0, 0, 0});
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"", u"0"}, {u"0", u"0"}, {u"05", u"5"}, {u"30", u"30"}};
    for (const auto& [typed, left] : cases) {
        view.click(Group::GateWay, 1);
        view.setBoxText(Group::GateWay, 1, typed);
        view.click(Group::GateWay, 2);
        EXPECT_EQ(text(Group::GateWay, 1), left) << std::string(typed.begin(), typed.end());
        EXPECT_TRUE(view.focusIs(Group::GateWay, 2));
    }
}

TEST_F(ConfigBehaviourTest, SetShowsTheTextsAndStoresOnlyOnYes)
{
    area.G_IpAddr = {1, 2, 3, 4}; // an earlier card's
    area.G_SetOk = false;
    open();
    view.click(Group::IpAddr, 3);
    view.type(u"150");
    ASSERT_TRUE(view.focusOnSet());
    view.click(Group::GateWay, 0);
    view.type(u"05"); // still focused when Set is activated by Enter: not normalised
    view.browserChecked = false;

    core->Command2_Click();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questionTitle, "設定確認");
    EXPECT_EQ(view.questions[0], "IPアドレス：192.168.1.150\r\n"
                                 "サブネットマスク：...\r\n"
                                 "デフォルトゲートウェイ：05...\r\n"
                                 "以上の内容で設定を行います.");
    // No: the dialog stays, nothing is written.
    EXPECT_FALSE(view.closedWithSet.has_value());
    EXPECT_FALSE(result().G_SetOk);
    EXPECT_EQ(result().G_IpAddr, (behaviour::Octets{1, 2, 3, 4}));
    EXPECT_EQ(text(Group::GateWay, 0), u"05");

    view.answerYes = true;
    core->Command2_Click();
    EXPECT_EQ(view.closedWithSet, std::optional<bool>(true));
    EXPECT_TRUE(result().G_SetOk);
    EXPECT_FALSE(result().G_OpenBrw);
    EXPECT_EQ(result().G_IpAddr, (behaviour::Octets{192, 168, 1, 150}));
    EXPECT_EQ(result().G_SbMask, (behaviour::Octets{0, 0, 0, 0}));
    EXPECT_EQ(result().G_GateWay, (behaviour::Octets{5, 0, 0, 0}));
}

TEST_F(ConfigBehaviourTest, EveryWayOutButAConfirmedSetIsACancel)
{
    // Cancel keeps the earlier card's addresses but says not to send them.
    area.G_IpAddr = {10, 0, 0, 7};
    area.G_SetOk = true;
    open();
    core->Command1_Click();
    EXPECT_EQ(view.closedWithSet, std::optional<bool>(false));
    EXPECT_FALSE(result().G_SetOk);
    EXPECT_EQ(result().G_IpAddr, (behaviour::Octets{10, 0, 0, 7}));

    // The close box runs neither Set nor Cancel; an earlier true must not survive it.
    FakeConfigView other;
    behaviour::ConfigBehaviour second{other, area};
    other.core = &second;
    second.Form_Load();
    second.Form_Activate();
    second.Form_Unload();
    EXPECT_FALSE(second.result().G_SetOk);

    // A confirmed Set survives the unload that follows it.
    FakeConfigView third;
    behaviour::ConfigBehaviour confirmed{third, area};
    third.core = &confirmed;
    third.answerYes = true;
    confirmed.Form_Load();
    confirmed.Form_Activate();
    confirmed.Command2_Click();
    confirmed.Form_Unload();
    EXPECT_TRUE(confirmed.result().G_SetOk);
    EXPECT_TRUE(confirmed.result().G_OpenBrw);
}

} // namespace
