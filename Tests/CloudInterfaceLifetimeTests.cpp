#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"

#include <gtest/gtest.h>

namespace
{
    std::unique_ptr<LambdaThread> endedWorker (const juce::String& name)
    {
        auto worker = std::make_unique<LambdaThread> (name, [] (juce::Thread&) {}, [] (juce::Thread&) {}, 0);
        worker->startThread();
        worker->waitForThreadToExit (5000);
        return worker;
    }

    /** Lets the service answer once a worker is asked to stop, that is once the interface's
        destructor has begun to wait for it. */
    struct ReleaseAnswersOnStop : public juce::Thread::Listener
    {
        explicit ReleaseAnswersOnStop (LoopbackCloudService& s) : service (s) {}
        void exitSignalSent() override { service.releaseHeldAnswers(); }
        LoopbackCloudService& service;
    };
}

class CloudInterfaceLifetime : public CloudInterfaceFixture
{
};

TEST_F (CloudInterfaceLifetime, ConstructionSendsNothingAndStartsNoThread)
{
    Cloud::Interface fresh (LoopbackCloudService::clientId, LoopbackCloudService::clientSecret());
    drainMessages();

    EXPECT_TRUE (Inspector::workers (fresh).empty());
    EXPECT_TRUE (Inspector::token (fresh).isEmpty());
    EXPECT_FALSE (Inspector::authenticating (fresh));
    EXPECT_TRUE (service.requests().empty());
}

TEST_F (CloudInterfaceLifetime, RemovingEndedWorkersKeepsARunningOneBetweenThem)
{
    juce::WaitableEvent release;
    auto running = std::make_unique<LambdaThread> ("Running", [&release] (juce::Thread&) { release.wait (-1); },
                                                   [] (juce::Thread&) {}, 0);
    ASSERT_TRUE (running->startThread());

    Inspector::addWorker (*interface, endedWorker ("Ended first"));
    Inspector::addWorker (*interface, std::move (running));
    Inspector::addWorker (*interface, endedWorker ("Ended last"));

    Inspector::removeFinishedThreads (*interface);
    const auto left = Inspector::workers (*interface);
    release.signal();

    ASSERT_EQ (left.size(), 1u);
    EXPECT_EQ (left[0].name, "Running");
    EXPECT_TRUE (left[0].running);

    ASSERT_TRUE (waitForWorkers());
    Inspector::removeFinishedThreads (*interface);
    EXPECT_TRUE (Inspector::workers (*interface).empty());
}

TEST_F (CloudInterfaceLifetime, DestructionWaitsForTheRequestsInFlightAndDropsWaitingAnswers)
{
    service.holdAnswers (Endpoint::challenge);
    service.holdAnswers (Endpoint::updateReport);

    int answers = 0;
    interface->authenticate ([&answers] (bool) { ++answers; });
    interface->getAvailableFirmwareList ([&answers] (auto) { ++answers; });

    CapturedStandardOutput output;
    interface->notifyServerOfFirmwareUpdate ({}, "harvellon", "kestrova", "kestrovalx", { 2, 1, 0 }, { 1, 6, 3 },
                                             juce::Time::getCurrentTime(), juce::Time::getCurrentTime(), true);
    ASSERT_TRUE (waitWithoutMessages ([this] { return service.heldRequestCount() == 2; }));

    ReleaseAnswersOnStop releaseOnStop (service);

    for (const auto& worker : Inspector::workers (*interface))
        worker.thread->addListener (&releaseOnStop);

    interface.reset();

    // Both requests were still unanswered when it began to wait; they have ended since.
    EXPECT_EQ (output.take(), "Received status code: Unauthorized while notifying server of update");
    EXPECT_EQ (requestsTo ("/api/v1/auth/tokens/1/response").size(), 1u) << "the attempt ran to its end";

    // What the workers posted finds no interface, and the waiting callers are never answered.
    drainMessages();
    EXPECT_EQ (answers, 0);
    EXPECT_TRUE (requestsTo (firmwareListPath).empty());
}
