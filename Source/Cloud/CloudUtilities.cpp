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

} // namespace Utilities
} // namespace Cloud
