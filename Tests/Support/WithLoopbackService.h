#pragma once

#include "Support/LoopbackCloudService.h"

#include <algorithm>
#include <string>
#include <vector>

/** A loopback service for a test fixture, with its record read request path by request path. */
class WithLoopbackService : public CloudServicePaths
{
protected:
    using Endpoint = LoopbackCloudService::Endpoint;

    std::vector<LoopbackCloudService::Request> requestsTo (const std::string& path) const
    {
        auto all = service.requests();
        all.erase (std::remove_if (all.begin(), all.end(), [&path] (const auto& r) { return r.path != path; }), all.end());
        return all;
    }

    LoopbackCloudService service;
};
