#include "Support/CloudInterfaceFixture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <thread>

using Kind = Cloud::Error::Kind;

namespace
{
    /** How long a request may take, from its start, against a service that never answers.
        The time-out runs from when curl finds the request slower than 100 bytes a second,
        which it judges over the last few seconds: a second or two after the start for a
        request with a small body, such as the handshake's. */
    constexpr int boundMs = Cloud::Interface::requestTimeoutMs + 5000;

    juce::uint32 millisecondsSince (juce::uint32 start)
    {
        return juce::Time::getMillisecondCounter() - start;
    }
}

/** Each test waits out one whole time-out; ctest runs them side by side. */
class StalledService : public CloudInterfaceFixture
{
};

TEST_F (StalledService, TheListRequestEndsWithTheServerAuthenticationErrorWithinTheBound)
{
    service.holdAnswers (Endpoint::challenge);

    std::optional<Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error>> answer;
    const auto start = juce::Time::getMillisecondCounter();
    interface->getAvailableFirmwareList ([&answer] (auto result) { answer = std::move (result); });

    const auto answered = pumpUntil ([&answer] { return answer.has_value(); }, boundMs);
    const auto elapsed = millisecondsSince (start);

    // Without a time-out the request would never end, nor would the interface let go of it.
    service.releaseHeldAnswers();
    ASSERT_TRUE (answered) << "no answer " << elapsed << " ms after the request";

    ASSERT_FALSE (answer->isOk());
    EXPECT_EQ (answer->getError().kind, Kind::serverAuthentication);
    EXPECT_EQ (answer->getError().description(), "Could not authenticate server");
    EXPECT_EQ (challengeCount(), 1u);

    // Given up by the time-out, not refused at once.
    EXPECT_GE (elapsed, (juce::uint32) Cloud::Interface::requestTimeoutMs - 1000);
    std::cout << "the list request ended " << elapsed << " ms after it started" << std::endl;
}

TEST_F (StalledService, DestroyingTheInterfaceWithARequestInFlightReturnsWithinTheBound)
{
    // As when the program quits at once after it started: the first request is still out.
    service.holdAnswers (Endpoint::challenge);

    int answers = 0;
    const auto start = juce::Time::getMillisecondCounter();
    interface->getAvailableFirmwareList ([&answers] (auto) { ++answers; });
    ASSERT_TRUE (waitWithoutMessages ([this] { return service.heldRequestCount() == 1; }));

    // Lets the service answer should the destruction wait past the bound, so that the test
    // ends in any case and tells how long it waited.
    juce::WaitableEvent destroyed;
    std::thread watchdog ([this, &destroyed]
                          {
                              if (! destroyed.wait (boundMs + 5000))
                                  service.releaseHeldAnswers();
                          });

    interface.reset();
    const auto elapsed = millisecondsSince (start);
    destroyed.signal();
    watchdog.join();

    EXPECT_LE (elapsed, (juce::uint32) boundMs);
    EXPECT_GE (elapsed, (juce::uint32) Cloud::Interface::requestTimeoutMs - 1000);
    std::cout << "the interface went " << elapsed << " ms after its request started" << std::endl;

    drainMessages();
    EXPECT_EQ (answers, 0);
    EXPECT_TRUE (requestsTo (firmwareListPath).empty());
}
