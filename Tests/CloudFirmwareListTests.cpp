#include "Support/CloudInterfaceFixture.h"
#include "Support/FirmwareRecordJson.h"
#include "Support/ScopedThreadStartFailure.h"

#include <gtest/gtest.h>

#include <optional>

using Kind = Cloud::Error::Kind;
using ListResult = Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error>;

class CloudFirmwareList : public CloudInterfaceFixture
{
protected:
    /** Every answer one caller got, on the message thread. */
    struct Answers
    {
        Cloud::Interface::FirmwareListCallback callback()
        {
            return [this] (ListResult result)
            {
                everyAnswerOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();
                results.push_back (std::move (result));
            };
        }

        std::vector<ListResult> results;
        bool everyAnswerOnTheMessageThread = true;
    };

    /** Asks once and gives the one answer, once every message posted meanwhile has run. */
    ListResult fetch()
    {
        Answers answers;
        interface->getAvailableFirmwareList (answers.callback());
        EXPECT_TRUE (pumpUntil ([&] { return ! answers.results.empty(); }));
        drainMessages();
        EXPECT_EQ (answers.results.size(), 1u);
        EXPECT_TRUE (answers.everyAnswerOnTheMessageThread);
        return answers.results.empty() ? ListResult::withError (Cloud::Error::withParseError ("no answer")) : answers.results.front();
    }

    static void expectError (const ListResult& result, Kind kind, const juce::String& description)
    {
        ASSERT_FALSE (result.isOk());
        EXPECT_EQ (result.getError().kind, kind);
        EXPECT_EQ (result.getError().description(), description);
    }
};

TEST_F (CloudFirmwareList, TwoCallsWithoutATokenShareOneAuthenticationAndGetAnAnswerEach)
{
    service.setFirmwareList ("[" + firmwareRecordJson ("2.1.0") + ", " + firmwareRecordJson ("2.0.4") + "]");

    Answers first, second;
    interface->getAvailableFirmwareList (first.callback());
    interface->getAvailableFirmwareList (second.callback());
    EXPECT_EQ (Inspector::countWorkers (*interface, "AuthenticationThread"), 1);

    ASSERT_TRUE (pumpUntil ([&] { return ! first.results.empty() && ! second.results.empty(); }));
    drainMessages();

    for (auto* answers : { &first, &second })
    {
        ASSERT_EQ (answers->results.size(), 1u);
        ASSERT_TRUE (answers->results[0].isOk()) << answers->results[0].getError().description();
        ASSERT_EQ (answers->results[0].getResult().size(), 2u);
        EXPECT_EQ (answers->results[0].getResult()[1].version.toString(), "2.0.4");
        EXPECT_TRUE (answers->everyAnswerOnTheMessageThread);
    }

    EXPECT_EQ (challengeCount(), 1u);

    const auto lists = requestsTo (firmwareListPath);
    ASSERT_EQ (lists.size(), 2u) << "each call makes its own request";

    for (const auto& list : lists)
        EXPECT_EQ (list.header ("Authorization"), "Bearer " + service.token());
}

TEST_F (CloudFirmwareList, NoTokenAndNoServiceIsAFailedAuthenticationNotAConnectionError)
{
    pointAtNoService();

    Answers answers;
    interface->getAvailableFirmwareList (answers.callback());

    // Answered by the same attempt, right after the list's own turn.
    std::optional<size_t> answersWhenTheAttemptAnsweredNext;
    interface->authenticate ([&] (bool) { answersWhenTheAttemptAnsweredNext = answers.results.size(); });

    ASSERT_TRUE (pumpUntil ([&] { return answersWhenTheAttemptAnsweredNext.has_value(); }));
    EXPECT_EQ (*answersWhenTheAttemptAnsweredNext, 1u) << "the list hears of it within the attempt's answer";

    drainMessages();
    ASSERT_EQ (answers.results.size(), 1u);
    expectError (answers.results[0], Kind::serverAuthentication, "Could not authenticate server");
}

TEST_F (CloudFirmwareList, AnEmptyArrayIsASuccessfulEmptyList)
{
    const auto result = fetch();
    ASSERT_TRUE (result.isOk()) << result.getError().description();
    EXPECT_TRUE (result.getResult().empty());
}

TEST_F (CloudFirmwareList, AnUnauthorizedAnswerIsPassedOnAndTheTokenIsKept)
{
    service.answerWith (Endpoint::firmwareList, { 401, R"({"error": "expired"})" });

    expectError (fetch(), Kind::httpStatus, "Unauthorized");
    expectError (fetch(), Kind::httpStatus, "Unauthorized");

    EXPECT_EQ (challengeCount(), 1u) << "a refused token does not make it authenticate again";

    const auto lists = requestsTo (firmwareListPath);
    ASSERT_EQ (lists.size(), 2u);
    EXPECT_EQ (lists[1].header ("Authorization"), "Bearer " + service.token());
}

TEST_F (CloudFirmwareList, AnEmptyGrantedTokenIsAFailedAuthenticationAfterOneAttempt)
{
    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": ""})" });

    expectError (fetch(), Kind::serverAuthentication, "Could not authenticate server");
    EXPECT_EQ (challengeCount(), 1u);
    EXPECT_TRUE (requestsTo (firmwareListPath).empty());
}

TEST_F (CloudFirmwareList, ARequestWhoseThreadCannotStartIsAnsweredWithAConnectionError)
{
    ASSERT_TRUE (authenticateNow());

    Answers answers;

    {
        const ScopedThreadStartFailure noThreads;
        interface->getAvailableFirmwareList (answers.callback());
    }

    EXPECT_TRUE (answers.results.empty()) << "answered from the message loop, like any request";
    ASSERT_TRUE (pumpUntil ([&] { return ! answers.results.empty(); }));
    expectError (answers.results[0], Kind::connection, "Could not connect");
    EXPECT_TRUE (requestsTo (firmwareListPath).empty());
}
