// The front-ends' end of the helper's link against stand-in helpers. One (LateHelper) answers
// its first command too late: the late answer is never taken for the next command's, and the
// answers to many cards' commands, sent at once and answered out of order, each find theirs.
// The other (SlowWriterHelper) answers no entry before it has read 128 cards' replies: the
// link posts the next cards on their replies' answers, not on the entries'.
#include "HelperLink.h"
#include "CardRequest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

using namespace helper;

namespace {

/// Cards 1 to n, each with the same request and entry.
std::vector<Assignment> cards(std::uint32_t n)
{
    std::vector<Assignment> all;
    for (std::uint32_t id = 1; id <= n; ++id) {
        all.push_back({id, testing_support::cardRequest(), {10, 77, 0, 20}, {2, 0, 0, 0, 0, 1}});
    }
    return all;
}

} // namespace

TEST(HelperLinkAnswers, ALateAnswerIsNeverTakenForTheNextCommands)
{
    HelperLink link;
    link.setAnswerTimeout(std::chrono::milliseconds(100));
    ASSERT_EQ(link.start(TORVANE_LATE_HELPER).error, StartError::None);

    const Answer timedOut = link.listen();
    EXPECT_EQ(timedOut.error, ETIMEDOUT);
    // The first command's answer ("done") now waits on the link, ahead of the next one's.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const Answer next = link.reply(1, testing_support::cardRequest());
    EXPECT_EQ(next.refusal, Refusal::AlreadyReplied) << next.reason;
    EXPECT_EQ(next.reason, "reply 1");
    const Answer third = link.neighbour(1, {10, 77, 0, 20}, {2, 0, 0, 0, 0, 1});
    EXPECT_EQ(third.reason, "entry 1");
    EXPECT_FALSE(link.died());
}

TEST(HelperLinkAnswers, ManyCardsAnswersAreMatchedByTheirSerials)
{
    HelperLink link;
    link.setAnswerTimeout(std::chrono::milliseconds(100));
    ASSERT_EQ(link.start(TORVANE_LATE_HELPER).error, StartError::None);
    EXPECT_EQ(link.listen().error, ETIMEDOUT); // its late answer comes amid the cards' answers
    link.setAnswerTimeout(std::chrono::seconds(5));

    // More cards than go over in one part; the stand-in answers each part's queue backwards.
    const std::vector<Assignment> all = cards(40);
    const std::vector<AssignmentAnswer> answers = link.replyThenNeighbourAll(all);
    ASSERT_EQ(answers.size(), all.size());
    for (std::uint32_t id = 1; id <= 40; ++id) {
        const auto& [sent, entry] = answers[id - 1];
        EXPECT_EQ(sent.reason, "reply " + std::to_string(id));
        if (id % 2 == 1) {
            // A refused reply leaves no entry answer, though the helper answered that too.
            EXPECT_EQ(sent.refusal, Refusal::AlreadyReplied);
            EXPECT_FALSE(entry.has_value()) << id;
        } else {
            EXPECT_TRUE(sent.ok()) << id;
            ASSERT_TRUE(entry.has_value()) << id;
            EXPECT_EQ(entry->refusal, Refusal::OtherMac);
            EXPECT_EQ(entry->reason, "entry " + std::to_string(id));
        }
    }
    EXPECT_FALSE(link.died());
}

TEST(HelperLinkAnswers, NoCardsReplyWaitsForAnotherCardsEntry)
{
    HelperLink link;
    link.setAnswerTimeout(std::chrono::seconds(2));
    ASSERT_EQ(link.start(TORVANE_SLOW_WRITER_HELPER).error, StartError::None);

    // Five parts' worth: a link that waited for the first part's entries before posting the
    // fourth part would never get them.
    const std::vector<Assignment> all = cards(160);
    const std::vector<AssignmentAnswer> answers = link.replyThenNeighbourAll(all);
    ASSERT_EQ(answers.size(), all.size());
    for (std::uint32_t id = 1; id <= 160; ++id) {
        const auto& [sent, entry] = answers[id - 1];
        EXPECT_TRUE(sent.ok()) << id << ": " << sent.reason;
        EXPECT_EQ(sent.reason, "reply " + std::to_string(id));
        ASSERT_TRUE(entry.has_value()) << id;
        EXPECT_TRUE(entry->ok()) << id << ": " << entry->reason;
        EXPECT_EQ(entry->reason, "entry " + std::to_string(id));
    }
    EXPECT_FALSE(link.died());
}
