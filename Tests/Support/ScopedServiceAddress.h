#pragma once

#include "Cloud/CloudInterface.h"

namespace Cloud
{

/** Sends the cloud client's requests to another API root, such as a loopback service's,
    for as long as it lives. Create it before any request starts and let it go only after
    every request has ended. */
class ScopedServiceAddress
{
public:
    explicit ScopedServiceAddress (juce::URL apiRoot)
        : address (std::move (apiRoot))
    {
        Interface::serviceAddressOverride.store (&address);
    }

    ~ScopedServiceAddress()
    {
        Interface::serviceAddressOverride.store (nullptr);
    }

private:
    const juce::URL address;

    JUCE_DECLARE_NON_COPYABLE (ScopedServiceAddress)
};

} // namespace Cloud
