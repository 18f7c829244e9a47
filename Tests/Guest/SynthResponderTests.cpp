#include "SynthResponder.h"

#include <gtest/gtest.h>

#include <stdexcept>

using Bytes = SynthResponder::Bytes;

namespace
{
    const Bytes versionRequest { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x73, 0xf7 };

    Bytes firmwarePacket (std::uint8_t number, std::uint8_t device = 0x00)
    {
        Bytes packet (290, 0x11);
        const Bytes start { 0xf0, 0x00, 0x7f, 0x7f, 0x20, device, 0x71, 0x07, number };
        std::copy (start.begin(), start.end(), packet.begin());
        packet.back() = 0xf7;
        return packet;
    }

    // The updater's unpacking, written out independently of the packing under test.
    Bytes unpack (const Bytes& packed)
    {
        Bytes out;

        for (std::size_t g = 0; g + 8 <= packed.size(); g += 8)
            for (int k = 0; k < 7; ++k)
                out.push_back ((std::uint8_t) (((packed[g] >> k) & 1) << 7 | (packed[g + 1 + (std::size_t) k] & 0x7f)));

        return out;
    }

    struct Fixture
    {
        explicit Fixture (SynthResponder::Settings settings = {})
            : responder (settings)
        {
            responder.onMessage = [this] (const Bytes& m) { received.push_back (m); };
        }

        std::vector<Bytes> feed (const Bytes& data)
        {
            return responder.receive (data.data(), data.size());
        }

        SynthResponder responder;
        std::vector<Bytes> received;
    };
}

TEST (SynthResponder, PacksSevenBytesBehindTheirTopBits)
{
    EXPECT_EQ (SynthResponder::pack ({ 0x81, 0x02, 0x83, 0x04, 0x05, 0x06, 0x07 }),
               (Bytes { 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07 }));
    EXPECT_EQ (SynthResponder::pack ({ 0xff, 0x80 }), (Bytes { 0x03, 0x7f, 0x00 }));
}

TEST (SynthResponder, VersionReplyCarriesTextAndModelCodeInThePackedBlock)
{
    const auto reply = SynthResponder::makeVersionReply ("1.2.3", 0x83020104);

    ASSERT_EQ (reply.size(), 65u);
    EXPECT_EQ (Bytes (reply.begin(), reply.begin() + 7), (Bytes { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x74 }));
    EXPECT_EQ (reply.back(), 0xf7);

    for (std::size_t i = 1; i + 1 < reply.size(); ++i)
        EXPECT_LT (reply[i], 0x80) << "byte " << i;

    const auto block = unpack (Bytes (reply.begin() + 8, reply.begin() + 64));
    ASSERT_GE (block.size(), 48u);
    EXPECT_EQ (std::string (reinterpret_cast<const char*> (block.data()) + 20), "1.2.3");
    EXPECT_EQ (Bytes (block.begin() + 44, block.begin() + 48), (Bytes { 0x04, 0x01, 0x02, 0x83 }));
}

TEST (SynthResponder, VersionTextMayFillItsWholeField)
{
    const std::string longest (24, '9');
    const auto reply = SynthResponder::makeVersionReply (longest, 2);
    const auto block = unpack (Bytes (reply.begin() + 8, reply.begin() + 64));

    EXPECT_EQ (std::string (block.begin() + 20, block.begin() + 44), longest);
    EXPECT_EQ (block[44], 2);

    SynthResponder::Settings tooLong;
    tooLong.versionText = std::string (25, '9');
    EXPECT_THROW (SynthResponder { tooLong }, std::invalid_argument);
}

TEST (SynthResponder, AnswersTheVersionRequestAndEachPacket)
{
    SynthResponder::Settings settings;
    settings.versionText = "2.0.1";
    settings.packetStatus = 3;
    Fixture f (settings);

    const auto versionReplies = f.feed (versionRequest);
    ASSERT_EQ (versionReplies.size(), 1u);
    EXPECT_EQ (versionReplies[0], SynthResponder::makeVersionReply ("2.0.1", 1));

    const auto acks = f.feed (firmwarePacket (0x2a, 0x05));
    ASSERT_EQ (acks.size(), 1u);
    EXPECT_EQ (acks[0], (Bytes { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x05, 0x72, 0x07, 0x2a, 0x03, 0xf7 }));

    EXPECT_EQ (f.received, (std::vector<Bytes> { versionRequest, firmwarePacket (0x2a, 0x05) }));
}

TEST (SynthResponder, ReassemblesMessagesThatArriveInPieces)
{
    Fixture f;
    const auto packet = firmwarePacket (7);
    Bytes stream = versionRequest;
    stream.insert (stream.end(), packet.begin(), packet.end());

    std::vector<Bytes> replies;

    for (std::size_t start = 0; start < stream.size(); start += 5)
    {
        const Bytes piece (stream.begin() + (long) start, stream.begin() + (long) std::min (start + 5, stream.size()));

        for (auto& r : f.feed (piece))
            replies.push_back (r);
    }

    ASSERT_EQ (replies.size(), 2u);
    EXPECT_EQ (replies[0].size(), 65u);
    EXPECT_EQ (replies[1][8], 7);
    EXPECT_EQ (f.received, (std::vector<Bytes> { versionRequest, packet }));
}

TEST (SynthResponder, StartsAfreshAtEachF0AndDropsBytesOutsideMessages)
{
    Fixture f;
    Bytes stream { 0x01, 0xf7, 0xf0, 0x00, 0x7f };
    stream.insert (stream.end(), versionRequest.begin(), versionRequest.end());
    stream.push_back (0x42);

    EXPECT_EQ (f.feed (stream).size(), 1u);
    EXPECT_EQ (f.received, std::vector<Bytes> { versionRequest });
}

TEST (SynthResponder, LeavesOtherMessagesUnanswered)
{
    Fixture f;
    auto shortPacket = firmwarePacket (1);
    shortPacket.erase (shortPacket.begin() + 10);
    auto otherMaker = versionRequest;
    otherMaker[1] = 0x41;
    auto otherCommand = versionRequest;
    otherCommand[6] = 0x74;

    for (const auto& message : { shortPacket, otherMaker, otherCommand, Bytes { 0xf0, 0xf7 } })
        EXPECT_TRUE (f.feed (message).empty());

    EXPECT_EQ (f.received.size(), 4u);
}

TEST (SynthResponder, SilentSynthesizerRecordsButNeverAnswers)
{
    SynthResponder::Settings settings;
    settings.silent = true;
    Fixture f (settings);

    EXPECT_TRUE (f.feed (versionRequest).empty());
    EXPECT_TRUE (f.feed (firmwarePacket (0)).empty());
    EXPECT_EQ (f.received.size(), 2u);
}
