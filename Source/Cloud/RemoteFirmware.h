#pragma once

#include "Result.h"
#include "SemanticVersion.h"

namespace Cloud
{

/** One firmware release as the firmware service lists it. */
struct Remotefirmware
{
    Remotefirmware() = default;
    Remotefirmware (const Remotefirmware&) = default;
    Remotefirmware& operator= (const Remotefirmware&) = default;

    /** Reads one element of the service's firmware array; every key but "notes" is required. */
    static Result<Remotefirmware, juce::String> fromJson (const juce::var& json);

    juce::String brand;
    juce::String family;
    juce::String model;
    SemanticVersion version;
    juce::String updatedAt;
    juce::String createdAt;
    juce::URL binary;
    juce::String md5;
    juce::int64 bytes = 0;
    juce::String notes;
};

} // namespace Cloud
