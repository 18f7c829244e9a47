#pragma once

#include "Cloud/CloudInterface.h"
#include "Support/InterfaceInspector.h"
#include "Support/LoopbackCloudService.h"
#include "Support/MessageThreadFixture.h"
#include "Support/ScopedServiceAddress.h"

#include <algorithm>
#include <functional>
#include <optional>

/** A cloud interface that talks to a loopback service, and the message thread it answers on. */
class CloudInterfaceFixture : public MessageThreadFixture
{
protected:
    using Inspector = Cloud::InterfaceInspector;
    using Endpoint = LoopbackCloudService::Endpoint;

    static constexpr const char* challengePath = "/api/v1/auth/tokens";
    static constexpr const char* firmwareListPath = "/api/v1/firmware/harvellon/kestrova/kestrovalx";
    static constexpr const char* updateReportPath = "/api/v1/firmware/notify";

    /** Nothing listens on a privileged port of the loopback interface here. */
    static constexpr const char* refusingAddress = "http://127.0.0.1:1/";

    /** Sends the requests that start from now on to an address that refuses every
        connection; call it while no request is running. */
    void pointAtNoService()
    {
        serviceAddress.reset();
        serviceAddress.emplace (juce::URL (juce::String (refusingAddress) + "api/v1/"));
    }

    std::vector<LoopbackCloudService::Request> requestsTo (const std::string& path) const
    {
        auto all = service.requests();
        all.erase (std::remove_if (all.begin(), all.end(), [&path] (const auto& r) { return r.path != path; }), all.end());
        return all;
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

    LoopbackCloudService service;
    std::optional<Cloud::ScopedServiceAddress> serviceAddress { std::in_place, service.baseURL() };
    std::optional<Cloud::Interface> interface { std::in_place, LoopbackCloudService::clientId, LoopbackCloudService::clientSecret() };
};
