#include "Cloud/CloudUtilities.h"

#include <gtest/gtest.h>

using namespace Cloud::Utilities;

namespace
{
    juce::String hexOf (const std::string& text)
    {
        return juce::String::toHexString (text.data(), (int) text.size(), 0);
    }
}

TEST (CloudUtilities, Sha256OfHexMatchesThePublishedVectors)
{
    EXPECT_EQ (sha256OfHex (""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ (sha256OfHex (hexOf ("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ (sha256OfHex (hexOf ("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ (sha256OfHex (hexOf ("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")),
               "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ (sha256OfHex (hexOf (std::string (1000000, 'a'))),
               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST (CloudUtilities, Sha256OfHexHashesTheDecodedBytesWhateverTheirCase)
{
    const auto lower = sha256OfHex ("00ff7fa0");

    EXPECT_EQ (sha256OfHex ("00FF7FA0"), lower);
    EXPECT_NE (sha256OfHex ("00ff7fa1"), lower);
    EXPECT_EQ (lower.length(), 64);
    EXPECT_EQ (lower, lower.toLowerCase());

    // Joined texts hash as one run of bytes: a secret followed by its salt.
    EXPECT_EQ (sha256OfHex (hexOf ("ab") + hexOf ("c")), sha256OfHex (hexOf ("abc")));
}

TEST (CloudUtilities, JsonFromWritesOnePropertyInTheMultiLineLayout)
{
    EXPECT_EQ (jsonFrom ("client", "3f2b8c1e-7d4a-4e59-9b6f-2a1c5d8e0f47"),
               "{\r\n  \"client\": \"3f2b8c1e-7d4a-4e59-9b6f-2a1c5d8e0f47\"\r\n}");
    EXPECT_EQ (jsonFrom ("clientResponse", ""), "{\r\n  \"clientResponse\": \"\"\r\n}");
    EXPECT_EQ (jsonFrom ("client", "a\"b\\c"), "{\r\n  \"client\": \"a\\\"b\\\\c\"\r\n}");
}

TEST (CloudUtilities, HexFromBinaryDataWritesTwoUpperCaseDigitsPerByte)
{
    unsigned char bytes[] = { 0x00, 0x0a, 0xff };
    EXPECT_EQ (hexFromBinaryData (bytes, 3), "000AFF");

    unsigned char zeros[6] = {};
    EXPECT_EQ (hexFromBinaryData (zeros, 6), "000000000000");

    unsigned char all[] = { 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef };
    EXPECT_EQ (hexFromBinaryData (all, 8), "0123456789ABCDEF");

    EXPECT_EQ (hexFromBinaryData (nullptr, 0), "");
}
