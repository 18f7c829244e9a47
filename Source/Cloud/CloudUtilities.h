#pragma once

#include <juce_core/juce_core.h>

namespace Cloud
{
namespace Utilities
{
    /** SHA-256 of the bytes that the hexadecimal text stands for, as 64 lower-case digits. */
    juce::String sha256OfHex (const juce::String& hex);

    /** The JSON text of an object holding one string property. */
    juce::String jsonFrom (const juce::String& key, const juce::String& value);

    /** Two upper-case hexadecimal digits per byte, without separators. */
    juce::String hexFromBinaryData (const unsigned char* data, unsigned long size);
}
} // namespace Cloud
