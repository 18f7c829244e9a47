#include "Cloud/StatusCode.h"
#include "Cloud/TempFileDownloadTask.h"
#include "Support/LoopbackCloudService.h"
#include "Support/MessageThreadFixture.h"
#include "Support/TestBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <thread>

using Delivery = LoopbackCloudService::Delivery;

class TempFileDownload : public MessageThreadFixture
{
protected:
    /** Everything the two callbacks were told, in order; they run on the message thread. */
    struct Heard
    {
        std::vector<float> fractions;
        std::vector<juce::String> errors;
        int completions = 0;
        bool everyCallOnTheMessageThread = true;
        bool progressAfterCompletion = false;
        std::shared_ptr<juce::TemporaryFile> file;
        std::shared_ptr<juce::URL::DownloadTask> task;
    };

    TempFileDownloadTask start (const juce::String& address, Heard& heard, bool keepTheFile = true)
    {
        return { juce::URL (address),
                 "Authorization: Bearer " + juce::String (service.token()),
                 [&heard, keepTheFile] (std::shared_ptr<juce::TemporaryFile> file, std::shared_ptr<juce::URL::DownloadTask> task)
                 {
                     heard.everyCallOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();
                     ++heard.completions;
                     heard.task = task;

                     if (keepTheFile)
                         heard.file = file;
                 },
                 [&heard] (float fraction, Cloud::Error* error)
                 {
                     heard.everyCallOnTheMessageThread &= juce::MessageManager::getInstance()->isThisTheMessageThread();
                     heard.progressAfterCompletion |= heard.completions > 0;

                     if (error != nullptr)
                         heard.errors.push_back (error->description());
                     else
                         heard.fractions.push_back (fraction);
                 } };
    }

    LoopbackCloudService service;
};

TEST_F (TempFileDownload, ReportsProgressThenCompletesOnceWithTheFileAndTheTask)
{
    const auto body = someBytes (100000);
    service.serveFile ("/files/lx-2.1.0.syx", body);

    Heard heard;
    auto download = start (service.address ("/files/lx-2.1.0.syx"), heard);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0 && download.isCompleted(); }));
    drainMessages();

    EXPECT_EQ (heard.completions, 1);
    EXPECT_TRUE (heard.everyCallOnTheMessageThread);
    EXPECT_FALSE (heard.progressAfterCompletion);
    EXPECT_TRUE (heard.errors.empty());

    ASSERT_FALSE (heard.fractions.empty());
    EXPECT_EQ (heard.fractions.front(), 0.0f);

    for (size_t i = 1; i < heard.fractions.size(); ++i)
        EXPECT_GT (heard.fractions[i], heard.fractions[i - 1]);

    EXPECT_LT (heard.fractions.back(), 1.0f);

    ASSERT_NE (heard.task, nullptr);
    EXPECT_TRUE (heard.task->isFinished());
    EXPECT_FALSE (heard.task->hadError());
    EXPECT_EQ (heard.task->statusCode(), 200);
    EXPECT_EQ (heard.task->getTotalLength(), (juce::int64) body.size());

    ASSERT_NE (heard.file, nullptr);
    const auto file = heard.file->getFile();
    EXPECT_TRUE (file.isAChildOf (juce::File::getSpecialLocation (juce::File::tempDirectory)));
    EXPECT_EQ (heard.task->getTargetLocation(), file);
    EXPECT_EQ (contentOf (file), body);

    const auto requests = service.requests();
    ASSERT_EQ (requests.size(), 1u);
    EXPECT_EQ (requests[0].method, "GET");
    EXPECT_EQ (requests[0].target, "/files/lx-2.1.0.syx");
    EXPECT_EQ (requests[0].headerCount ("Authorization"), 1u);
    EXPECT_EQ (requests[0].header ("Authorization"), "Bearer " + service.token());

    // The file goes with its last owner.
    heard.file.reset();
    heard.task.reset();
    { auto gone = std::move (download); }
    EXPECT_FALSE (file.exists());
}

TEST_F (TempFileDownload, AnErrorStatusStillCompletesAndTheTaskCarriesTheStatus)
{
    Heard heard;
    auto download = start (service.address ("/files/missing.syx"), heard);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));

    EXPECT_TRUE (heard.errors.empty());
    EXPECT_EQ (heard.task->statusCode(), 404);
    EXPECT_FALSE (Cloud::StatusCode (heard.task->statusCode()).successful());
}

TEST_F (TempFileDownload, WithoutALengthEachFractionIsMinusTheBytesSoFar)
{
    const auto body = someBytes (70000);
    service.serveFile ("/files/chunked.syx", body, Delivery::withoutLength);

    Heard heard;
    auto download = start (service.address ("/files/chunked.syx"), heard);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));
    drainMessages();

    EXPECT_EQ (heard.task->getTotalLength(), -1);
    EXPECT_FALSE (heard.task->hadError());
    EXPECT_EQ (contentOf (heard.file->getFile()), body);

    ASSERT_GE (heard.fractions.size(), 2u);
    EXPECT_EQ (heard.fractions.front(), 0.0f);

    for (size_t i = 1; i < heard.fractions.size(); ++i)
    {
        EXPECT_LT (heard.fractions[i], heard.fractions[i - 1]);
        EXPECT_EQ (heard.fractions[i], std::round (heard.fractions[i])) << "a whole number of bytes";
    }

    EXPECT_GE (heard.fractions.back(), -(float) body.size());
}

TEST_F (TempFileDownload, ATransferCutShortCompletesWithTheTasksErrorFlag)
{
    service.serveFile ("/files/cut.syx", someBytes (50000), Delivery::cutShort);

    Heard heard;
    auto download = start (service.address ("/files/cut.syx"), heard);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));

    EXPECT_TRUE (heard.errors.empty()) << "only the task tells of a failure after the start";
    EXPECT_TRUE (heard.task->hadError());
    EXPECT_LT (heard.task->getLengthDownloaded(), heard.task->getTotalLength());
}

TEST_F (TempFileDownload, AnAddressThatGivesNoAnswerIsAStartFailureReportedBeforeTheConstructorReturns)
{
    // Nothing listens on a privileged port of the loopback interface here.
    Heard heard;
    std::optional<TempFileDownloadTask> download;
    download.emplace (start ("http://127.0.0.1:1/files/lx.syx", heard));

    ASSERT_EQ (heard.errors.size(), 1u);
    EXPECT_EQ (heard.errors[0], "Could not connect");
    EXPECT_TRUE (heard.fractions.empty());

    drainMessages();
    EXPECT_EQ (heard.completions, 0);
    EXPECT_FALSE (download->isCompleted());
}

TEST_F (TempFileDownload, ATemporaryFileThatCannotBeWrittenIsAStartFailure)
{
    // A temporary folder below a regular file cannot hold anything.
    const auto* savedTemp = std::getenv ("TMPDIR");
    const std::optional<std::string> saved = savedTemp != nullptr ? std::optional<std::string> (savedTemp) : std::nullopt;
    const auto blocked = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getChildFile ("tmp");
    setenv ("TMPDIR", blocked.getFullPathName().toRawUTF8(), 1);

    service.serveFile ("/files/lx.syx", someBytes (1000));
    Heard heard;
    std::optional<TempFileDownloadTask> download;
    download.emplace (start (service.address ("/files/lx.syx"), heard));

    if (saved.has_value())
        setenv ("TMPDIR", saved->c_str(), 1);
    else
        unsetenv ("TMPDIR");

    ASSERT_EQ (heard.errors.size(), 1u);
    EXPECT_EQ (heard.errors[0], "Could not connect");
    EXPECT_TRUE (service.requests().empty()) << "no connection is opened for a file that cannot be written";

    drainMessages();
    EXPECT_EQ (heard.completions, 0);
    EXPECT_FALSE (download->isCompleted());
}

TEST_F (TempFileDownload, AStartFailureWithoutAProgressCallbackThrowsBadFunctionCall)
{
    EXPECT_THROW (TempFileDownloadTask (juce::URL ("http://127.0.0.1:1/files/lx.syx"), {}, [] (auto, auto) {}, {}),
                  std::bad_function_call);
}

TEST_F (TempFileDownload, WithoutACompletionCallbackItStillEndsCompleted)
{
    service.serveFile ("/files/lx.syx", someBytes (1000));
    TempFileDownloadTask download (juce::URL (service.address ("/files/lx.syx")), "Authorization: Bearer " + juce::String (service.token()),
                                   {}, [] (float, Cloud::Error*) {});

    EXPECT_TRUE (pumpUntil ([&] { return download.isCompleted(); }));
}

TEST_F (TempFileDownload, ACompletionOutlivesTheHandleDestroyedBeforeItRuns)
{
    const auto body = someBytes (20000);
    service.serveFile ("/files/lx.syx", body);

    Heard heard;
    std::optional<TempFileDownloadTask> download;
    download.emplace (start (service.address ("/files/lx.syx"), heard));

    // The completion is posted but cannot run until the message loop does.
    ASSERT_TRUE (waitWithoutMessages ([&] { return download->isCompleted(); }));
    download.reset();
    EXPECT_EQ (heard.completions, 0);

    ASSERT_TRUE (pumpUntil ([&] { return heard.completions > 0; }));
    ASSERT_NE (heard.file, nullptr);
    EXPECT_EQ (heard.task->statusCode(), 200);
    EXPECT_EQ (contentOf (heard.file->getFile()), body);
}

TEST_F (TempFileDownload, DestroyingARunningDownloadStopsItWithoutACompletion)
{
    service.serveFile ("/files/stalled.syx", someBytes (200000), Delivery::stalled);

    Heard heard;
    std::optional<TempFileDownloadTask> download;
    download.emplace (start (service.address ("/files/stalled.syx"), heard));

    // The first report comes from inside the transfer loop.
    ASSERT_TRUE (pumpUntil ([&] { return ! heard.fractions.empty(); }));
    download.reset();

    drainMessages();
    EXPECT_EQ (heard.completions, 0);
    EXPECT_TRUE (heard.errors.empty());
}

TEST_F (TempFileDownload, MoveAssignmentReleasesTheFinishedDownloadItHeld)
{
    service.serveFile ("/files/a.syx", someBytes (1000));
    service.serveFile ("/files/b.syx", someBytes (2000));

    Heard first, second;
    auto held = start (service.address ("/files/a.syx"), first, false);
    ASSERT_TRUE (pumpUntil ([&] { return first.completions > 0 && held.isCompleted(); }));

    const auto firstFile = first.task->getTargetLocation();
    first.task.reset();
    ASSERT_TRUE (firstFile.existsAsFile()) << "the handle still owns it";

    auto incoming = start (service.address ("/files/b.syx"), second);
    held = std::move (incoming);
    EXPECT_FALSE (firstFile.exists());

    // The moved-from handle no longer reaches the download it gave away.
    { auto emptied = std::move (incoming); }
    incoming = start (service.address ("/files/a.syx"), first, false);

    ASSERT_TRUE (pumpUntil ([&] { return second.completions > 0 && held.isCompleted(); }));
    EXPECT_EQ (second.task->statusCode(), 200);
    EXPECT_EQ (contentOf (second.file->getFile()).size(), 2000u);
}
