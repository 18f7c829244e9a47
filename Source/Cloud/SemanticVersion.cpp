#include "SemanticVersion.h"

namespace Cloud
{

SemanticVersion::SemanticVersion (juce::uint8 majorNumber, juce::uint8 minorNumber, juce::uint8 patchNumber)
    : major (majorNumber), minor (minorNumber), patch (patchNumber)
{
}

SemanticVersion::SemanticVersion (const juce::String& text)
{
    *this = text;
}

SemanticVersion::SemanticVersion (const VersionStringData& block)
{
    // Byte by byte, so that a stray non-ASCII byte can never make a decoder read
    // past the text field; only ASCII characters matter to the parser anyway.
    juce::String text;

    for (auto c : block.versionString)
    {
        if (c == '\0')
            break;

        text += juce::String::charToString (static_cast<juce::juce_wchar> (static_cast<unsigned char> (c)));
    }

    *this = text;
}

namespace
{
    // Like atoi: leading white space, an optional '+', then decimal digits. Kept
    // modulo 256 as it goes, so a long run of digits cannot overflow.
    juce::uint8 tokenValue (const juce::String& token)
    {
        auto p = token.getCharPointer();

        while (*p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
            ++p;

        if (*p == '+')
            ++p;

        juce::uint8 value = 0;

        for (; *p >= '0' && *p <= '9'; ++p)
            value = static_cast<juce::uint8> (value * 10 + static_cast<int> (*p - '0'));

        return value;
    }
}

SemanticVersion& SemanticVersion::operator= (const juce::String& text)
{
    const auto tokens = juce::StringArray::fromTokens (text, " .-", "");
    juce::uint8* const fields[] = { &major, &minor, &patch };

    for (int i = 0; i < juce::jmin (tokens.size(), 3); ++i)
        *fields[i] = tokenValue (tokens[i]);

    return *this;
}

juce::String SemanticVersion::toString() const
{
    return juce::String (major) + "." + juce::String (minor) + "." + juce::String (patch);
}

} // namespace Cloud
