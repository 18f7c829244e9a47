#include "Cloud/CloudUtilities.h"

#include <gtest/gtest.h>

using Cloud::Utilities::maxReplyBytes;
using Cloud::Utilities::maxReplyNesting;

namespace
{
    /** Blanks, as many as asked, counting how many were read. */
    class CountingStream : public juce::InputStream
    {
    public:
        explicit CountingStream (juce::int64 lengthToGive) : length (lengthToGive) {}

        juce::int64 getTotalLength() override { return -1; } // as a reply without a length
        bool isExhausted() override { return position == length; }
        juce::int64 getPosition() override { return position; }
        bool setPosition (juce::int64) override { return false; }

        int read (void* destination, int maxBytes) override
        {
            const auto count = (int) std::min<juce::int64> (maxBytes, length - position);
            std::memset (destination, ' ', (size_t) count);
            position += count;
            return count;
        }

        juce::int64 position = 0;

    private:
        const juce::int64 length;
    };

    juce::var parse (const std::string& body)
    {
        juce::MemoryInputStream stream (body.data(), body.size(), false);
        return Cloud::Utilities::parseReplyBody (stream);
    }

    std::string nestedArrays (int depth)
    {
        return std::string ((size_t) depth, '[') + std::string ((size_t) depth, ']');
    }

    std::string repeated (const std::string& text, int times)
    {
        std::string all;

        for (int i = 0; i < times; ++i)
            all += text;

        return all;
    }
}

TEST (ReplyBody, ALongerBodyIsReadNoFurtherThanTheLimitAndOneByteToTell)
{
    CountingStream body (3 * (juce::int64) maxReplyBytes);
    EXPECT_FALSE (Cloud::Utilities::readReplyBody (body).has_value());
    EXPECT_EQ (body.position, (juce::int64) maxReplyBytes + 1);

    CountingStream again (3 * (juce::int64) maxReplyBytes);
    EXPECT_TRUE (Cloud::Utilities::parseReplyBody (again).isVoid());
    EXPECT_EQ (again.position, (juce::int64) maxReplyBytes + 1);
}

TEST (ReplyBody, ABodyAsLongAsTheLimitIsReadWhole)
{
    CountingStream body (maxReplyBytes);
    const auto text = Cloud::Utilities::readReplyBody (body);

    ASSERT_TRUE (text.has_value());
    EXPECT_EQ (text->length(), maxReplyBytes);
}

TEST (ReplyBody, IsReadAsTheFrameworkReadsAWholeStreamAsText)
{
    const std::string bodies[] = { "", "{}", "{\"notes\": \"caf\xc3\xa9\"}", "\xef\xbb\xbf[1]", std::string ("\xff\xfe[\0]\0", 6) };

    for (const auto& body : bodies)
    {
        juce::MemoryInputStream ours (body.data(), body.size(), false), framework (body.data(), body.size(), false);
        EXPECT_EQ (Cloud::Utilities::readReplyBody (ours), framework.readEntireStreamAsString());
    }
}

TEST (ReplyBody, NestingAsDeepAsTheLimitParsesAndOneLevelMoreDoesNot)
{
    EXPECT_TRUE (parse (nestedArrays (maxReplyNesting)).isArray());
    EXPECT_TRUE (parse (nestedArrays (maxReplyNesting + 1)).isVoid());

    // Objects count as arrays do.
    const auto objects = [] (int depth) { return repeated ("{\"a\": ", depth - 1) + "{}" + std::string ((size_t) depth - 1, '}'); };
    EXPECT_TRUE (parse (objects (maxReplyNesting)).isObject());
    EXPECT_TRUE (parse (objects (maxReplyNesting + 1)).isVoid());

    // What counts is the depth, not how many arrays there are.
    EXPECT_TRUE (parse ("[" + repeated (nestedArrays (maxReplyNesting - 1) + ",", 100) + "0]").isArray());
}

TEST (ReplyBody, BracketsInsideStringsDoNotCount)
{
    const auto brackets = std::string (1000, '[') + std::string (1000, '{');

    // In double quotes, and in the single quotes that the framework's parser also takes.
    EXPECT_EQ (parse ("[\"" + brackets + "\"]")[0].toString(), juce::String (brackets));
    EXPECT_EQ (parse ("['" + brackets + "']")[0].toString(), juce::String (brackets));

    // A quote that a backslash takes with it does not end the string, nor does the other quote.
    EXPECT_EQ (parse ("[\"a\\\"" + brackets + "\"]")[0].toString(), juce::String ("a\"" + brackets));
    EXPECT_EQ (parse ("[\"a'" + brackets + "\"]")[0].toString(), juce::String ("a'" + brackets));
}

TEST (ReplyBody, BracketsAfterAStringCountAgain)
{
    // An escaped backslash does not take the closing quote with it.
    const auto afterEscapedBackslash = "[\"a\\\\\", " + nestedArrays (maxReplyNesting) + "]";
    EXPECT_TRUE (parse (afterEscapedBackslash).isVoid());

    const auto afterString = "[\"[[[\", '{{{', " + nestedArrays (maxReplyNesting - 1) + "]";
    EXPECT_TRUE (parse (afterString).isArray());
    EXPECT_TRUE (parse ("[\"]]]\", '}}}', " + nestedArrays (maxReplyNesting) + "]").isVoid());
}

TEST (ReplyBody, FiftyThousandOpeningBracketsAreRefusedHoweverTheyAreWritten)
{
    EXPECT_TRUE (parse (std::string (50000, '[')).isVoid());
    EXPECT_TRUE (parse (repeated ("{\"a\":", 50000)).isVoid());
    EXPECT_TRUE (parse (repeated ("[\"\",", 50000)).isVoid());

    // Two bytes that the framework reads as one "[", an over-long form that it accepts.
    EXPECT_TRUE (parse (repeated ("\xc1\x9b", 50000)).isVoid());
}

TEST (ReplyBody, BracketsAreCountedAsTheFrameworkReadsThem)
{
    // Over-long forms of "[" and "]", which the framework takes for the brackets themselves.
    const auto overLong = [] (int depth) { return repeated ("\xc1\x9b", depth) + repeated ("\xc1\x9d", depth); };

    EXPECT_TRUE (parse (overLong (3))[0][0].isArray());
    EXPECT_TRUE (parse (overLong (maxReplyNesting)).isArray());
    EXPECT_TRUE (parse (overLong (maxReplyNesting + 1)).isVoid());
}

TEST (ReplyBody, WhatIsNotJsonParsesToVoidAsBefore)
{
    EXPECT_TRUE (parse ("").isVoid());
    EXPECT_TRUE (parse ("<html>busy</html>").isVoid());
    EXPECT_TRUE (parse ("[1, 2").isVoid());
    EXPECT_TRUE (parse ("[\"open string").isVoid());
    EXPECT_TRUE (parse ("[\"ends in a backslash\\").isVoid());
    EXPECT_EQ (parse ("{\"token\": \"abc\"}")["token"].toString(), "abc");
}
