#include "RemoteFirmware.h"

#include <cmath>

namespace Cloud
{

namespace
{
    juce::uint32 wrappedTo32Bits (juce::int64 value)
    {
        return static_cast<juce::uint32> (static_cast<juce::uint64> (value));
    }

    // Like juce::String::getIntValue, but also taking a leading '+', and without
    // leaving the unsigned domain until the end, so no text overflows a signed int.
    juce::uint32 textToInt32Bits (const juce::String& text)
    {
        auto p = text.getCharPointer().findEndOfWhitespace();
        const auto negative = *p == '-';

        if (*p == '-' || *p == '+')
            ++p;

        juce::uint32 value = 0;

        for (; *p >= '0' && *p <= '9'; ++p)
            value = value * 10u + static_cast<juce::uint32> (*p - '0');

        return negative ? 0u - value : value;
    }

    // juce::var's integer conversion, made safe for doubles out of range and
    // for texts with a '+' sign.
    juce::int32 toInt32 (const juce::var& value)
    {
        juce::uint32 bits = 0;

        if (value.isInt64())
        {
            bits = wrappedTo32Bits (static_cast<juce::int64> (value));
        }
        else if (value.isDouble())
        {
            const auto d = static_cast<double> (value);

            if (std::isfinite (d) && std::abs (d) < 9.2e18)
                bits = wrappedTo32Bits (static_cast<juce::int64> (d));
        }
        else if (value.isString())
        {
            bits = textToInt32Bits (value.toString());
        }
        else
        {
            return static_cast<int> (value);
        }

        return static_cast<juce::int32> (bits);
    }
}

Result<Remotefirmware, juce::String> Remotefirmware::fromJson (const juce::var& json)
{
    using ParseResult = Result<Remotefirmware, juce::String>;

    // juce::var's loose equality: an empty text, 0, 0.0, false or null all count as missing.
    for (auto* key : { "brand", "family", "model", "version", "updatedAt", "createdAt", "binary", "md5", "bytes" })
        if (json[key] == juce::var())
            return ParseResult::withError ("Couldn't parse firmware update metadata");

    Remotefirmware record;
    record.brand     = json["brand"].toString();
    record.family    = json["family"].toString();
    record.model     = json["model"].toString();
    record.version   = SemanticVersion (json["version"].toString());
    record.updatedAt = json["updatedAt"].toString();
    record.createdAt = json["createdAt"].toString();
    record.binary    = juce::URL (json["binary"].toString());
    record.md5       = json["md5"].toString();
    record.bytes     = toInt32 (json["bytes"]);

    const auto& notes = json["notes"];
    record.notes = notes.isString() ? notes.toString() : juce::String();

    return ParseResult::withResult (record);
}

} // namespace Cloud
