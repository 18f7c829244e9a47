#pragma once

#include <juce_core/juce_core.h>
#include <map>

namespace Cloud
{

/** An HTTP status code as the service or a download reported it. */
struct StatusCode
{
    StatusCode (int statusCode) : code (statusCode) {}

    /** True only for the 2xx codes that have a reason phrase. */
    bool successful() const;

    /** The reason phrase, or an empty text for a code without one. */
    juce::String description() const;

    int code;

    static const std::map<int, juce::String> statusCodeDescriptions;
};

} // namespace Cloud
