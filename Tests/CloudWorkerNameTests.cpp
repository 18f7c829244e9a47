#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"

#include <gtest/gtest.h>

/** Each request of the interface runs on a worker of its own, named for what it does;
    the names are caught while the worker's request waits at the service. */
class CloudWorkerNames : public CloudInterfaceFixture
{
protected:
    std::vector<juce::String> runningWorkersWhileHeldAt (Endpoint endpoint, const std::function<void()>& start)
    {
        service.holdAnswers (endpoint);
        start();
        EXPECT_TRUE (waitWithoutMessages ([this] { return service.heldRequestCount() == 1; }));

        std::vector<juce::String> names;

        for (const auto& worker : Inspector::workers (*interface))
            if (worker.running)
                names.push_back (worker.name);

        service.releaseHeldAnswers();
        EXPECT_TRUE (waitForWorkers());
        drainMessages();
        return names;
    }
};

TEST_F (CloudWorkerNames, AuthenticationRunsOnAuthenticationThread)
{
    const auto names = runningWorkersWhileHeldAt (Endpoint::challenge, [this]
    {
        interface->authenticate ([] (bool) {});
    });

    EXPECT_EQ (names, std::vector<juce::String> { "AuthenticationThread" });
}

TEST_F (CloudWorkerNames, TheFirmwareListRunsOnCheckAvailableFirmware)
{
    ASSERT_TRUE (authenticateNow());

    const auto names = runningWorkersWhileHeldAt (Endpoint::firmwareList, [this]
    {
        interface->getAvailableFirmwareList ([] (auto) {});
    });

    EXPECT_EQ (names, std::vector<juce::String> { "CheckAvailableFirmware" });
}

TEST_F (CloudWorkerNames, TheUpdateReportRunsOnUpdateNotifyThread)
{
    const CapturedStandardOutput output;

    const auto names = runningWorkersWhileHeldAt (Endpoint::updateReport, [this]
    {
        interface->notifyServerOfFirmwareUpdate (UuidData(), "harvellon", "kestrova", "kestrovalx",
                                                 Cloud::SemanticVersion (1, 1, 0), Cloud::SemanticVersion (1, 0, 0),
                                                 juce::Time::getCurrentTime(), juce::Time::getCurrentTime(), true);
    });

    EXPECT_EQ (names, std::vector<juce::String> { "UpdateNotify Thread" });
}
