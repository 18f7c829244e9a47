#include "Cloud/SemanticVersion.h"

#include <gtest/gtest.h>

#include <cstring>

using Cloud::SemanticVersion;

namespace
{
    std::string text (const SemanticVersion& v) { return v.toString().toStdString(); }

    struct Case
    {
        const char* input;
        const char* asNewVersion;
        const char* assignedOnto789;
    };

    const Case cases[] = {
        { "1.6.0",         "1.6.0",       "1.6.0" },
        { "01.002.0003",   "1.2.3",       "1.2.3" },
        { "+1.2.3",        "1.2.3",       "1.2.3" },
        { "1.2.3-beta",    "1.2.3",       "1.2.3" },
        { "1.2.3.4",       "1.2.3",       "1.2.3" },
        { "1 2 3",         "1.2.3",       "1.2.3" },
        { "1-2-3",         "1.2.3",       "1.2.3" },
        { "1.2",           "1.2.0",       "1.2.9" },
        { "1",             "1.0.0",       "1.8.9" },
        { "1..3",          "1.0.3",       "1.0.3" },
        { ".1.2",          "0.1.2",       "0.1.2" },
        { " 1.2.3",        "0.1.2",       "0.1.2" },
        { "V1.2.3",        "0.2.3",       "0.2.3" },
        { "beta",          "0.0.0",       "0.8.9" },
        { "",              "0.0.0",       "7.8.9" },
        { "256.300.1",     "0.44.1",      "0.44.1" },
        { "255.255.255",   "255.255.255", "255.255.255" },
        { "1,2,3",         "1.0.0",       "1.8.9" },
        { "1.",            "1.0.0",       "1.0.9" },
        { "\t2.\n3.\r4",   "2.3.4",       "2.3.4" },
        { "2x.3y.4z",      "2.3.4",       "2.3.4" },
        { "++2.3.4",       "0.3.4",       "0.3.4" },
        { "99999999999999999999999.1.2", "255.1.2", "255.1.2" },
    };
}

TEST (SemanticVersion, ParsesTextsLeniently)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.input);
        EXPECT_EQ (text (SemanticVersion (juce::String (c.input))), c.asNewVersion);

        SemanticVersion existing (7, 8, 9);
        existing = juce::String (c.input);
        EXPECT_EQ (text (existing), c.assignedOnto789);
    }
}

TEST (SemanticVersion, PrintsThreeDecimalNumbers)
{
    EXPECT_EQ (text (SemanticVersion()), "0.0.0");
    EXPECT_EQ (text (SemanticVersion (255, 255, 255)), "255.255.255");
    EXPECT_EQ (text (SemanticVersion (1, 10, 0)), "1.10.0");
    EXPECT_EQ (text (SemanticVersion (255, 0, 10)), "255.0.10");
}

TEST (SemanticVersion, PrintedTextParsesBackToTheSameVersion)
{
    for (int n = 0; n < 256; ++n)
    {
        const SemanticVersion v ((juce::uint8) n, (juce::uint8) (255 - n), (juce::uint8) (n * 7));
        EXPECT_EQ (text (SemanticVersion (v.toString())), text (v));
    }
}

namespace
{
    VersionStringData blockWithText (const char* versionText, size_t length)
    {
        VersionStringData block;
        std::memset (&block, 0x31, sizeof (block)); // '1' everywhere, so a read past the text would show
        std::memcpy (block.versionString, versionText, length);
        block.modelCode = 0x33323133;
        return block;
    }
}

TEST (SemanticVersion, ReadsTheBlocksTextUpToItsFirstZeroByte)
{
    EXPECT_EQ (text (SemanticVersion (blockWithText ("2.1.0", 6))), "2.1.0");
    EXPECT_EQ (text (SemanticVersion (blockWithText ("", 1))), "0.0.0");
    EXPECT_EQ (text (SemanticVersion (blockWithText ("1.2.3\0" "9", 7))), "1.2.3");
}

TEST (SemanticVersion, ReadsNoFurtherThanTheTextField)
{
    // 24 bytes without a zero: the fourth and later tokens are ignored and the
    // model code's bytes (which spell digits) must not join the last token.
    const char full[] = "1.2.3.4.5.6.7.8.9.10.111";
    ASSERT_EQ (sizeof (full) - 1, 24u);
    EXPECT_EQ (text (SemanticVersion (blockWithText (full, 24))), "1.2.3");

    const char digitsToTheEnd[] = "1.2.34567890123456789012";
    EXPECT_EQ (text (SemanticVersion (blockWithText (digitsToTheEnd, 24))), "1.2.20");
}

TEST (SemanticVersion, BlockTextWithHighBytesStillParses)
{
    const char latin[] = "\xff" "1.\xc3" "2.3\xe2";
    EXPECT_EQ (text (SemanticVersion (blockWithText (latin, sizeof (latin)))), "0.0.3");
}
