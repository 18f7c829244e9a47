#include "Support/CloudInterfaceFixture.h"
#include "Support/TestBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using Kind = Cloud::Error::Kind;
using Delivery = LoopbackCloudService::Delivery;

class CloudDownload : public CloudInterfaceFixture
{
protected:
    /** What one download's two callbacks were told; they run on the message thread. */
    struct Heard
    {
        std::vector<float> fractions;
        std::vector<Cloud::Error> errors;
        int completions = 0;
        bool everyCallOnTheMessageThread = true;
        std::shared_ptr<juce::TemporaryFile> file;
        std::shared_ptr<juce::URL::DownloadTask> task;
        std::function<void()> duringCompletion;
    };

    Cloud::Remotefirmware recordFor (const std::string& address) const
    {
        Cloud::Remotefirmware record;
        record.version = Cloud::SemanticVersion ("2.1.0");
        record.binary = juce::URL (juce::String (address));
        return record;
    }

    void download (const Cloud::Remotefirmware& record, Heard& heard)
    {
        interface->downloadFirmware (record,
                                     [&heard] (float fraction, const Cloud::Error* error)
                                     {
                                         heard.everyCallOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();

                                         if (error != nullptr)
                                             heard.errors.push_back (*error);
                                         else
                                             heard.fractions.push_back (fraction);
                                     },
                                     [&heard] (std::shared_ptr<juce::TemporaryFile> file, std::shared_ptr<juce::URL::DownloadTask> task)
                                     {
                                         heard.everyCallOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();
                                         ++heard.completions;
                                         heard.file = std::move (file);
                                         heard.task = std::move (task);

                                         if (heard.duringCompletion)
                                             heard.duringCompletion();
                                     });
    }
};

TEST_F (CloudDownload, WithoutATokenItAuthenticatesFirstAndNeedsNotTheCallersRecord)
{
    const auto body = someBytes (60000);
    service.serveFile ("/files/lx-2.1.0.syx", body);

    Heard heard;

    {
        const auto record = std::make_unique<Cloud::Remotefirmware> (recordFor (service.address ("/files/lx-2.1.0.syx").toStdString()));
        download (*record, heard);
    }

    EXPECT_EQ (Inspector::countWorkers (*interface, "AuthenticationThread"), 1);
    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));
    drainMessages();

    EXPECT_EQ (heard.completions, 1);
    EXPECT_TRUE (heard.errors.empty());
    EXPECT_TRUE (heard.everyCallOnTheMessageThread);
    ASSERT_FALSE (heard.fractions.empty());
    EXPECT_TRUE (std::is_sorted (heard.fractions.begin(), heard.fractions.end()));
    EXPECT_GE (heard.fractions.front(), 0.0f);
    EXPECT_LE (heard.fractions.back(), 1.0f);

    ASSERT_NE (heard.task, nullptr);
    EXPECT_EQ (heard.task->statusCode(), 200);
    EXPECT_FALSE (heard.task->hadError());
    ASSERT_NE (heard.file, nullptr);
    EXPECT_EQ (contentOf (heard.file->getFile()), body);

    const auto files = requestsTo ("/files/lx-2.1.0.syx");
    ASSERT_EQ (files.size(), 1u);
    EXPECT_EQ (files[0].method, "GET");
    EXPECT_EQ (files[0].headerCount ("Authorization"), 1u);
    EXPECT_EQ (files[0].header ("Authorization"), "Bearer " + service.token());
    EXPECT_EQ (challengeCount(), 1u);
}

TEST_F (CloudDownload, ADownloadThatCannotStartSaysSoBeforeTheCallReturnsAndNeverCompletes)
{
    ASSERT_TRUE (authenticateNow());

    Heard heard;
    download (recordFor (std::string (refusingAddress) + "files/lx.syx"), heard);

    ASSERT_EQ (heard.errors.size(), 1u);
    EXPECT_EQ (heard.errors[0].kind, Kind::connection);
    EXPECT_EQ (heard.errors[0].description(), "Could not connect");
    EXPECT_TRUE (heard.fractions.empty());

    drainMessages();
    EXPECT_EQ (heard.completions, 0);
    EXPECT_EQ (Inspector::downloadsCompleted (*interface), (std::vector<bool> { false })) << "it stays listed";
}

TEST_F (CloudDownload, AnErrorStatusCompletesLikeAnyDownloadWithTheStatusInTheTask)
{
    ASSERT_TRUE (authenticateNow());

    Heard heard;
    download (recordFor (service.address ("/files/missing.syx").toStdString()), heard);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));
    EXPECT_TRUE (heard.errors.empty());
    ASSERT_NE (heard.task, nullptr);
    EXPECT_EQ (heard.task->statusCode(), 404);
    EXPECT_NE (heard.file, nullptr);
}

TEST_F (CloudDownload, ACompletionErasesEveryCompletedDownloadOnceItReturnsAndKeepsRunningOnes)
{
    ASSERT_TRUE (authenticateNow());
    service.serveFile ("/files/a.syx", someBytes (1000));
    service.serveFile ("/files/stalled.syx", someBytes (200000), Delivery::stalled);
    service.serveFile ("/files/c.syx", someBytes (3000));

    Heard a, stalled, c;
    download (recordFor (service.address ("/files/a.syx").toStdString()), a);
    download (recordFor (service.address ("/files/stalled.syx").toStdString()), stalled);
    download (recordFor (service.address ("/files/c.syx").toStdString()), c);

    // Both short downloads end before any completion runs.
    ASSERT_TRUE (waitWithoutMessages ([this] { return Inspector::downloadsCompleted (*interface) == std::vector<bool> { true, false, true }; }));

    std::vector<std::vector<bool>> listedDuringCompletions;
    a.duringCompletion = c.duringCompletion = [&] { listedDuringCompletions.push_back (Inspector::downloadsCompleted (*interface)); };

    ASSERT_TRUE (pumpUntil ([&] { return a.completions == 1 && c.completions == 1; }));

    ASSERT_EQ (listedDuringCompletions.size(), 2u);
    EXPECT_EQ (listedDuringCompletions[0], (std::vector<bool> { true, false, true })) << "nothing goes while the first completion runs";
    EXPECT_EQ (listedDuringCompletions[1], (std::vector<bool> { false })) << "the first completion's return took both";
    EXPECT_EQ (Inspector::downloadsCompleted (*interface), (std::vector<bool> { false }));
    EXPECT_EQ (stalled.completions, 0);
}

TEST_F (CloudDownload, AFailedAuthenticationIsToldToTheProgressCallbackLaterAndNothingCompletes)
{
    pointAtNoService();

    Heard heard;
    download (recordFor (service.address ("/files/lx.syx").toStdString()), heard);

    // Answered by the same attempt, right after the download's own turn.
    std::optional<size_t> errorsWhenTheAttemptAnswered;
    interface->authenticate ([&] (bool) { errorsWhenTheAttemptAnswered = heard.errors.size(); });

    ASSERT_TRUE (pumpUntil ([&] { return ! heard.errors.empty(); }));
    EXPECT_EQ (errorsWhenTheAttemptAnswered, 0u) << "the error comes in a message of its own";
    drainMessages();

    ASSERT_EQ (heard.errors.size(), 1u);
    EXPECT_EQ (heard.errors[0].kind, Kind::serverAuthentication);
    EXPECT_EQ (heard.errors[0].description(), "Could not authenticate server");
    EXPECT_TRUE (heard.fractions.empty());
    EXPECT_EQ (heard.completions, 0);
    EXPECT_TRUE (Inspector::downloadsCompleted (*interface).empty());
}

TEST_F (CloudDownload, AnEmptyGrantedTokenIsAFailedAuthenticationAfterOneAttempt)
{
    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": ""})" });
    service.serveFile ("/files/lx.syx", someBytes (1000));

    Heard heard;
    download (recordFor (service.address ("/files/lx.syx").toStdString()), heard);
    ASSERT_TRUE (pumpUntil ([&] { return ! heard.errors.empty(); }));
    drainMessages();

    ASSERT_EQ (heard.errors.size(), 1u);
    EXPECT_EQ (heard.errors[0].kind, Kind::serverAuthentication);
    EXPECT_EQ (heard.completions, 0);
    EXPECT_EQ (challengeCount(), 1u);
    EXPECT_TRUE (requestsTo ("/files/lx.syx").empty());
}
