#pragma once

#include "VersionStringData.h"

namespace Cloud
{

/** major.minor.patch, each 0 to 255; parsed leniently from text. */
struct SemanticVersion
{
    SemanticVersion() = default;
    SemanticVersion (juce::uint8 majorNumber, juce::uint8 minorNumber, juce::uint8 patchNumber);
    SemanticVersion (const juce::String& text);
    SemanticVersion (const VersionStringData& block);

    /** Parses into this version: fields the text has no token for keep their values. */
    SemanticVersion& operator= (const juce::String& text);

    juce::String toString() const;

    juce::uint8 major = 0;
    juce::uint8 minor = 0;
    juce::uint8 patch = 0;
};

} // namespace Cloud
