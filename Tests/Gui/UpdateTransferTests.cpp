#include "Support/TransferFixture.h"

namespace
{
    const Bytes versionRequest { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x73, 0xf7 };

    Bytes operator+ (Bytes a, const Bytes& b)
    {
        a.insert (a.end(), b.begin(), b.end());
        return a;
    }

    const Bytes header = FirmwareFileBuilder::headerPacket ("1.1.0");
    const Bytes packet1 = FirmwareFileBuilder::dataPacket (1);
    const Bytes packet2 = FirmwareFileBuilder::dataPacket (2);
}

using UpdateTransfer = TransferFixture;

TEST_F (UpdateTransfer, AsksForTheVersionThenSendsEveryPacketUnchangedAndInOrder)
{
    const auto task = transfer (firmwareWithPackets (3));

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (task->synthVersion.toString(), "1.1.0");
    EXPECT_EQ (task->fileVersion.toString(), "1.1.0");

    const auto messages = synth.received();
    ASSERT_EQ (messages.size(), 5u);
    EXPECT_EQ (messages[0], versionRequest);
    EXPECT_EQ (messages[1], header);

    for (juce::uint8 i = 1; i <= 3; ++i)
        EXPECT_EQ (messages[i + 1], FirmwareFileBuilder::dataPacket (i));
}

TEST_F (UpdateTransfer, BytesOutsidePacketsAreNeverSent)
{
    const auto task = transfer (header + Bytes { 0x11, 0x22 } + packet1 + Bytes { 0x33 } + packet2
                                  + Bytes { 0x44, 0xf0, 0x55 });

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived(), (std::vector<Bytes> { header, packet1, packet2 }));
}

TEST_F (UpdateTransfer, ASecondStartByteBeginsThePacketAnew)
{
    const auto task = transfer (header + Bytes { 0xf0, 0x01, 0x02 } + packet1);

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived(), (std::vector<Bytes> { header, packet1 }));
}

//==============================================================================
namespace
{
    struct StreamCase
    {
        std::string name;
        Bytes file;
        juce::String error;
        size_t packetsSent;
    };

    void PrintTo (const StreamCase& c, std::ostream* os)    { *os << c.name; }

    std::vector<StreamCase> streamCases()
    {
        auto withoutEnd = header;
        withoutEnd.pop_back();

        return {
            { "EndByteAtTheStart",          Bytes { 0xf7 } + header + packet1,   "Bad Sysex Stream",        0 },
            { "TwoEndBytesInARow",          header + Bytes { 0xf7 } + packet1,   "Bad Sysex Stream",        1 },
            { "StartThenEnd",               header + Bytes { 0xf0, 0xf7 },       "Bad Sysex Stream",        1 },
            { "StartOneByteEnd",            header + Bytes { 0xf0, 0x01, 0xf7 }, "Cannot interpret packet", 1 },
            { "EmptyFile",                  {},                                  "Bad Sysex Stream",        0 },
            { "OnlyAStartByte",             Bytes { 0xf0 },                      "Bad Sysex Stream",        0 },
            { "HeaderWithoutItsEnd",        withoutEnd,                          "Bad Sysex Stream",        0 },
            { "LongFileWithoutAnyEnd",      withoutEnd + Bytes (1000, 0x01),     "Bad Sysex Stream",        0 },
        };
    }

    class PacketScan : public TransferFixture,
                       public ::testing::WithParamInterface<StreamCase>
    {
    };
}

TEST_P (PacketScan, EndsWithTheStreamsError)
{
    // A model the gate never refuses, so that the stream's shape alone decides.
    synth.versionReply.modelCode = 1;

    const auto task = transfer (GetParam().file);

    EXPECT_EQ (task->errorMessage, GetParam().error);
    EXPECT_EQ (synth.packetsReceived().size(), GetParam().packetsSent);
}

INSTANTIATE_TEST_SUITE_P (UpdateTransfer, PacketScan, ::testing::ValuesIn (streamCases()),
                          [] (const auto& info) { return info.param.name; });

//==============================================================================
namespace
{
    struct PacketCase
    {
        std::string name;
        Bytes packet;
        bool accepted;
    };

    void PrintTo (const PacketCase& c, std::ostream* os)    { *os << c.name; }

    Bytes changed (size_t index, juce::uint8 value)
    {
        auto packet = packet1;
        packet[index] = value;
        return packet;
    }

    std::vector<PacketCase> packetCases()
    {
        auto shorter = packet1;
        shorter.erase (shorter.begin() + 100);

        auto longer = packet1;
        longer.insert (longer.begin() + 100, 0x00);

        return {
            { "Of289Bytes",          shorter,            false },
            { "Of291Bytes",          longer,             false },
            { "WithCommand72",       changed (6, 0x72),  false },
            { "WithByte7Of05",       changed (7, 0x05),  false },
            { "WithByte7Of08",       changed (7, 0x08),  false },
            { "WithByte7Of06",       changed (7, 0x06),  true },
            { "WithByte7Of07",       changed (7, 0x07),  true },
            { "WithOtherMaker",      changed (3, 0x7e),  false },
            { "WithOtherHeaderByte", changed (4, 0x21),  false },
            { "WithDeviceByte05",    changed (5, 0x05),  true },
        };
    }

    class PacketCheck : public TransferFixture,
                        public ::testing::WithParamInterface<PacketCase>
    {
    };
}

TEST_P (PacketCheck, MalformedPacketIsNeverSent)
{
    const auto task = transfer (header + GetParam().packet);

    if (GetParam().accepted)
    {
        EXPECT_EQ (task->errorMessage, "");
        EXPECT_EQ (synth.packetsReceived(), (std::vector<Bytes> { header, GetParam().packet }));
    }
    else
    {
        EXPECT_EQ (task->errorMessage, "Cannot interpret packet");
        EXPECT_EQ (synth.packetsReceived(), (std::vector<Bytes> { header }));
    }
}

INSTANTIATE_TEST_SUITE_P (UpdateTransfer, PacketCheck, ::testing::ValuesIn (packetCases()),
                          [] (const auto& info) { return info.param.name; });

//==============================================================================
TEST_F (UpdateTransfer, EveryRunRecordsItsTimesAndAnAllZeroDeviceId)
{
    juce::uint8 acknowledgementStatus = 1;
    synth.acknowledge = [&acknowledgementStatus] (int, const Bytes&)
    {
        SimulatedSynthesizer::Acknowledgement ack;
        ack.status = acknowledgementStatus;
        return ack;
    };

    struct Run
    {
        std::string name;
        juce::File file;
        bool withOutput;
        juce::uint8 status;
    };

    const auto firmware = fileWith (firmwareWithPackets (1));

    const Run runs[] = {
        { "success",       firmware,                                                     true,  1 },
        { "missing file",  folder.getChildFile ("none.syx"),                             true,  1 },
        { "no output",     firmware,                                                     false, 1 },
        { "refused",       fileWith (FirmwareFileBuilder().header ("1.0.5"), "old.syx"), true,  1 },
        { "bad stream",    fileWith (Bytes { 0xf7 }, "bad.syx"),                         true,  1 },
        { "packet failed", firmware,                                                     true,  0 },
    };

    for (const auto& run : runs)
    {
        SCOPED_TRACE (run.name);
        acknowledgementStatus = run.status;

        UpdateThreadTask task (run.withOutput ? &synth : nullptr, collector, run.file);
        EXPECT_EQ (task.startTime, juce::Time());
        EXPECT_EQ (task.endTime, juce::Time());

        const auto before = juce::Time::getCurrentTime();
        runToEnd (task);
        const auto after = juce::Time::getCurrentTime();

        EXPECT_EQ (task.errorMessage.isEmpty(), run.name == "success");
        EXPECT_LE (before, task.startTime);
        EXPECT_LE (task.startTime, task.endTime);
        EXPECT_LE (task.endTime, after);

        for (auto b : task.synthId.bytes)
            EXPECT_EQ (b, 0);
    }
}
