// The front-ends' end of the helper's link against a stand-in helper (LateHelper) that answers
// its first command too late: the late answer is never taken for the next command's.
#include "HelperLink.h"
#include "CardRequest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

using namespace helper;

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
    EXPECT_EQ(next.reason, "on time");
    const Answer third = link.neighbour(1, {10, 77, 0, 20}, {2, 0, 0, 0, 0, 1});
    EXPECT_EQ(third.reason, "on time");
    EXPECT_FALSE(link.died());
}
