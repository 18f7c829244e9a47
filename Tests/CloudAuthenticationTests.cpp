#include "Support/CloudInterfaceFixture.h"
#include "Support/ScopedThreadStartFailure.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
    /** The answers that authentication callbacks got, in the order they got them. */
    struct Answers
    {
        Cloud::Interface::AuthenticationCallback callback (int caller)
        {
            return [this, caller] (bool succeeded)
            {
                everyAnswerOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();
                callers.push_back (caller);
                results.push_back (succeeded);
            };
        }

        std::vector<int> callers;
        std::vector<bool> results;
        bool everyAnswerOnTheMessageThread = true;
    };
}

class CloudAuthentication : public CloudInterfaceFixture
{
};

TEST_F (CloudAuthentication, CallsBeforeTheAttemptEndsShareItAndAreAnsweredInCallOrder)
{
    Answers answers;

    for (int caller = 1; caller <= 3; ++caller)
        interface->authenticate (answers.callback (caller));

    EXPECT_EQ (Inspector::countWorkers (*interface, "AuthenticationThread"), 1);
    EXPECT_EQ (Inspector::waitingCallbacks (*interface), 3u);
    EXPECT_TRUE (answers.callers.empty()) << "answers come later, from the message loop";

    ASSERT_TRUE (pumpUntil ([&] { return answers.callers.size() == 3; }));
    drainMessages();

    EXPECT_EQ (answers.callers, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ (answers.results, (std::vector<bool> { true, true, true }));
    EXPECT_TRUE (answers.everyAnswerOnTheMessageThread);
    EXPECT_EQ (challengeCount(), 1u);
    EXPECT_EQ (Inspector::token (*interface), juce::String (service.token()));
    EXPECT_FALSE (Inspector::authenticating (*interface));
    EXPECT_EQ (Inspector::waitingCallbacks (*interface), 0u);
}

TEST_F (CloudAuthentication, ACallAfterACompletedAttemptStartsANewOneEvenWithATokenHeld)
{
    ASSERT_TRUE (authenticateNow());
    ASSERT_EQ (challengeCount(), 1u);

    Answers answers;
    interface->authenticate (answers.callback (1));
    EXPECT_TRUE (Inspector::authenticating (*interface));

    ASSERT_TRUE (pumpUntil ([&] { return ! answers.results.empty(); }));
    EXPECT_EQ (answers.results, (std::vector<bool> { true }));
    EXPECT_EQ (challengeCount(), 2u);
}

TEST_F (CloudAuthentication, AnAnswerThatAuthenticatesAgainIsAnsweredByANewAttempt)
{
    Answers answers;
    size_t challengesWhenReentered = 0;

    interface->authenticate ([&] (bool succeeded)
                             {
                                 answers.callback (1) (succeeded);
                                 challengesWhenReentered = challengeCount();
                                 interface->authenticate (answers.callback (2));
                             });
    interface->authenticate (answers.callback (3));

    ASSERT_TRUE (pumpUntil ([&] { return answers.callers.size() == 3; }));

    // The second caller joined after the first attempt had handed out its answers.
    EXPECT_EQ (answers.callers, (std::vector<int> { 1, 3, 2 }));
    EXPECT_EQ (answers.results, (std::vector<bool> { true, true, true }));
    EXPECT_EQ (challengesWhenReentered, 1u);
    EXPECT_EQ (challengeCount(), 2u);
}

TEST_F (CloudAuthentication, AFailedAttemptAnswersFalseAndKeepsWhateverTokenWasHeld)
{
    ASSERT_TRUE (authenticateNow());
    const auto heldToken = Inspector::token (*interface);
    ASSERT_TRUE (heldToken.isNotEmpty());

    service.answerWith (Endpoint::challenge, { 503, R"({"error": "maintenance"})" });

    Answers answers;
    interface->authenticate (answers.callback (1));
    interface->authenticate (answers.callback (2));
    ASSERT_TRUE (pumpUntil ([&] { return answers.results.size() == 2; }));

    EXPECT_EQ (answers.results, (std::vector<bool> { false, false }));
    EXPECT_EQ (Inspector::token (*interface), heldToken);

    // One that never held a token still holds none.
    Cloud::Interface fresh (LoopbackCloudService::clientId, LoopbackCloudService::clientSecret());
    std::optional<bool> answer;
    fresh.authenticate ([&answer] (bool succeeded) { answer = succeeded; });
    ASSERT_TRUE (pumpUntil ([&answer] { return answer.has_value(); }));

    EXPECT_FALSE (*answer);
    EXPECT_TRUE (Inspector::token (fresh).isEmpty());
}

TEST_F (CloudAuthentication, AnEmptyGrantedTokenCountsAsSuccessAndLeavesTheTokenEmpty)
{
    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": ""})" });

    EXPECT_TRUE (authenticateNow());
    EXPECT_TRUE (Inspector::token (*interface).isEmpty());
}

TEST_F (CloudAuthentication, AnAttemptWhoseThreadCannotStartEndsAsFailed)
{
    Answers answers;

    {
        const ScopedThreadStartFailure noThreads;
        interface->authenticate (answers.callback (1));
    }

    EXPECT_EQ (Inspector::countWorkers (*interface, "AuthenticationThread"), 0);
    EXPECT_TRUE (answers.results.empty()) << "answered from the message loop, like any attempt";

    // A caller that comes before that end is answered with it.
    interface->authenticate (answers.callback (2));

    ASSERT_TRUE (pumpUntil ([&] { return answers.results.size() == 2; }));
    EXPECT_EQ (answers.callers, (std::vector<int> { 1, 2 }));
    EXPECT_EQ (answers.results, (std::vector<bool> { false, false }));
    EXPECT_EQ (challengeCount(), 0u);
    EXPECT_FALSE (Inspector::authenticating (*interface));

    // Nobody is left queued behind it: the next caller gets an attempt of its own.
    EXPECT_TRUE (authenticateNow());
    EXPECT_EQ (challengeCount(), 1u);
}

TEST_F (CloudAuthentication, AnAttemptWhoseHandshakeThrowsEndsAsFailed)
{
    Answers answers;
    Inspector::authenticateWith (*interface, answers.callback (1),
                                 []() -> Cloud::Result<juce::String, Cloud::Error> { throw std::runtime_error ("out of memory"); });
    interface->authenticate (answers.callback (2));

    ASSERT_TRUE (pumpUntil ([&] { return answers.results.size() == 2; }));
    EXPECT_EQ (answers.results, (std::vector<bool> { false, false }));
    EXPECT_TRUE (Inspector::token (*interface).isEmpty());

    EXPECT_TRUE (authenticateNow());
    EXPECT_EQ (Inspector::token (*interface), juce::String (service.token()));
}
