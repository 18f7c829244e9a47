#pragma once

#include "CloudError.h"
#include "RemoteFirmware.h"
#include "Result.h"

#include <atomic>
#include <vector>

namespace Cloud
{

/** The client of the firmware service. */
class Interface
{
public:
    /** The service's API root, compiled in; every endpoint but the token response and
        the download lies below it. */
    static const juce::URL baseURL;

    /** Runs the token handshake, blocking the calling thread: returns the bearer token,
        or the error of the first step that failed. Never call it on the message thread. */
    static Result<juce::String, Error> authenticate (const juce::String& clientId, juce::String clientSecret);

    /** Fetches the releases for the Kestrova LX, blocking the calling thread; elements
        that are not valid records are skipped. Never call it on the message thread. */
    static Result<std::vector<Remotefirmware>, Error> availableFirmwareList (const juce::String& token);

private:
    /** baseURL, unless the test suite's loopback service, whose port is only known at
        run time, has put its own address in its place. */
    static const juce::URL& serviceAddress();

    static std::atomic<const juce::URL*> serviceAddressOverride;

    // Defined only in the test suite's support code: no other code can move the address.
    friend class ScopedServiceAddress;
};

} // namespace Cloud
