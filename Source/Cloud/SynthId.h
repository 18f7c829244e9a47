#pragma once

#include <juce_core/juce_core.h>

#include <array>

/** The six-byte identifier of a synthesizer, as the update report carries it. */
struct UuidData
{
    std::array<juce::uint8, 6> bytes {};
};
