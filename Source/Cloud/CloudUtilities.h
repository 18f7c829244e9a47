#pragma once

#include <juce_core/juce_core.h>

#include <optional>

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

    /** The longest reply body that is read from the service. Its real answers are a few
        kilobytes; the framework's parsed tree of a text is about 24 times the text. */
    constexpr int maxReplyBytes = 4 * 1024 * 1024;

    /** The deepest nesting of arrays and objects in a reply body that is parsed. The
        service's answers need 3; the framework's parser recurses once per level, without a
        limit of its own, on whatever thread asks. */
    constexpr int maxReplyNesting = 64;

    /** A reply body, read as the framework reads a whole stream as text, but reading no more
        than maxReplyBytes and one byte to tell; nothing when the body is longer. */
    std::optional<juce::String> readReplyBody (juce::InputStream& body);

    /** A reply body parsed with juce::JSON::parse; a void value, as for a text that is not
        JSON, when the body is longer than maxReplyBytes or nests arrays and objects deeper
        than maxReplyNesting. */
    juce::var parseReplyBody (juce::InputStream& body);
}
} // namespace Cloud
