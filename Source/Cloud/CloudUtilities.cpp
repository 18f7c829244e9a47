#include "CloudUtilities.h"

#include <juce_cryptography/juce_cryptography.h>

namespace Cloud
{
namespace Utilities
{

juce::String sha256OfHex (const juce::String& hex)
{
    juce::MemoryBlock bytes;
    bytes.loadFromHexString (hex);
    return juce::SHA256 (bytes).toHexString();
}

juce::String jsonFrom (const juce::String& key, const juce::String& value)
{
    juce::DynamicObject::Ptr object = new juce::DynamicObject();
    object->setProperty (key, value);
    return juce::JSON::toString (juce::var (object.get()), false);
}

juce::String hexFromBinaryData (const unsigned char* data, unsigned long size)
{
    static constexpr char digits[] = "0123456789ABCDEF";

    std::string text;
    text.reserve (2 * size);

    for (unsigned long i = 0; i < size; ++i)
    {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0f];
    }

    return juce::String (text);
}

namespace
{
    /** Whether the text nests arrays and objects deeper than the limit where the framework's
        parser would meet them. It decodes the characters as the parser does (so an over-long
        form of a bracket is a bracket); a bracket inside a string, in double or in single
        quotes (the parser takes both), does not count, nor does a quote that a backslash takes
        with it. Where the parser would stop at an error first, this may count on; it never
        counts less than the parser would go down. */
    bool nestsDeeperThan (const juce::String& text, int limit)
    {
        int depth = 0;
        juce::juce_wchar quote = 0; // while inside a string, the quote that ends it

        for (auto next = text.getCharPointer(); ! next.isEmpty();)
        {
            const auto character = next.getAndAdvance();

            if (quote != 0)
            {
                if (character == '\\' && ! next.isEmpty())
                    next.getAndAdvance();
                else if (character == quote)
                    quote = 0;
            }
            else if (character == '"' || character == '\'')
            {
                quote = character;
            }
            else if (character == '[' || character == '{')
            {
                if (++depth > limit)
                    return true;
            }
            else if ((character == ']' || character == '}') && depth > 0)
            {
                --depth;
            }
        }

        return false;
    }
}

std::optional<juce::String> readReplyBody (juce::InputStream& body)
{
    juce::MemoryOutputStream text;
    text.writeFromInputStream (body, (juce::int64) maxReplyBytes + 1);

    if (text.getDataSize() > (size_t) maxReplyBytes)
        return std::nullopt;

    return text.toString();
}

juce::var parseReplyBody (juce::InputStream& body)
{
    const auto text = readReplyBody (body);

    if (! text.has_value() || nestsDeeperThan (*text, maxReplyNesting))
        return {};

    return juce::JSON::parse (*text);
}

} // namespace Utilities
} // namespace Cloud
