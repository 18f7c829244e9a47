#pragma once

#include "Cloud/CloudInterface.h"
#include "Support/InterfaceInspector.h"
#include "Support/MessageThreadFixture.h"
#include "Support/ScopedServiceAddress.h"
#include "Support/WithLoopbackService.h"

#include <functional>
#include <optional>

/** A cloud interface that talks to a loopback service, and the message thread it answers on. */
class CloudInterfaceFixture : public MessageThreadFixture,
                              public WithLoopbackService
{
protected:
    using Inspector = Cloud::InterfaceInspector;

    /** Nothing listens on a privileged port of the loopback interface here. */
    static constexpr const char* refusingAddress = "http://127.0.0.1:1/";

    /** Sends the requests that start from now on to an address that refuses every
        connection; call it while no request is running. */
    void pointAtNoService()
    {
        serviceAddress.reset();
        serviceAddress.emplace (juce::URL (juce::String (refusingAddress) + "api/v1/"));
    }

    size_t challengeCount() const { return requestsTo (challengePath).size(); }

    /** Runs the message loop until no worker of the interface is running any more. */
    bool waitForWorkers()
    {
        return pumpUntil ([this] { return Inspector::countRunningWorkers (*interface) == 0; });
    }

    /** Obtains a token, and gives whether that worked. */
    bool authenticateNow()
    {
        std::optional<bool> answer;
        interface->authenticate ([&answer] (bool succeeded) { answer = succeeded; });
        return pumpUntil ([&answer] { return answer.has_value(); }) && *answer;
    }

    std::optional<Cloud::ScopedServiceAddress> serviceAddress { std::in_place, service.baseURL() };
    std::optional<Cloud::Interface> interface { std::in_place, LoopbackCloudService::clientId, LoopbackCloudService::clientSecret() };
};
