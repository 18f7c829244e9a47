#include "Support/CollectorPolls.h"
#include "Support/TransferFixture.h"

#include <atomic>
#include <filesystem>

namespace
{
    const juce::String connectionFailed ("Connection failed - Please check DeviceID is set to 1 on the GLOBAL menu");
    const juce::String timedOut ("Timed out waiting for retry response");
}

using UpdateRunErrors = TransferFixture;

TEST_F (UpdateRunErrors, MissingFileEndsTheRunBeforeAnythingIsSent)
{
    const auto missing = folder.getChildFile ("missing.syx");

    for (auto* output : { static_cast<MidiSender*> (&synth), static_cast<MidiSender*> (nullptr) })
    {
        UpdateThreadTask task (output, collector, missing);
        runToEnd (task);
        EXPECT_EQ (task.errorMessage, "Failed to open file");
    }

    EXPECT_TRUE (synth.received().empty());
}

TEST_F (UpdateRunErrors, WithoutAnOutputThereIsNoOneToTalkTo)
{
    const auto file = fileWith (firmwareWithPackets (1));

    UpdateThreadTask withoutOutput (nullptr, collector, file);
    runToEnd (withoutOutput);
    EXPECT_EQ (withoutOutput.errorMessage, "No MIDI Output device");
}

// In real time: 126 polls with 40 ms between them.
TEST_F (UpdateRunErrors, SilentSynthesizerIsGivenUpAfter126Polls)
{
    const CollectorPolls polls (collector);
    synth.versionReply.silent = true;
    const auto task = taskFor (fileWith (firmwareWithPackets (1)));

    const auto started = nowMs();
    runToEnd (*task);
    const auto elapsed = nowMs() - started;

    EXPECT_EQ (task->errorMessage, connectionFailed);
    EXPECT_EQ (polls.count(), 126);
    EXPECT_GE (elapsed, 125 * 40);
    EXPECT_EQ (synth.received(), (std::vector<Bytes> { { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x73, 0xf7 } }));
    EXPECT_EQ (task->synthVersion.toString(), "0.0.0");
}

TEST_F (UpdateRunErrors, FileThatCannotBeReadWholeFailsOnlyAfterTheVersionReply)
{
    const auto file = fileWith (firmwareWithPackets (1));

    // A new file under the same name while the task waits for the reply: the task's
    // stream still reads the old one, but the length comes from the new one.
    synth.onReceive = [this] (const Bytes& message)
    {
        if (message[6] == 0x73)
            fileWith (firmwareWithPackets (2));
    };

    const auto task = taskFor (file);
    runToEnd (*task);

    EXPECT_EQ (task->errorMessage, "Failed to read from file ");
    EXPECT_EQ (task->synthVersion.toString(), "1.1.0");
    EXPECT_TRUE (synth.packetsReceived().empty());
}

TEST_F (UpdateRunErrors, FileTooLargeForOneReadIsNotRead)
{
    const auto file = folder.getChildFile ("huge.syx");
    ASSERT_TRUE (file.create());
    std::filesystem::resize_file (file.getFullPathName().toStdString(), std::uintmax_t (1) << 31);

    const auto task = taskFor (file);
    runToEnd (*task);

    EXPECT_EQ (task->errorMessage, "Failed to read from file ");
    EXPECT_TRUE (synth.packetsReceived().empty());
}

// In real time: 601 polls with 10 ms between them.
TEST_F (UpdateRunErrors, UnacknowledgedPacketTimesOutAfter601Polls)
{
    CollectorPolls polls (collector);
    std::atomic<int> pollsBeforeThePacket { -1 };

    synth.answerPacket (1, SimulatedSynthesizer::Acknowledgement::none());

    synth.onReceive = [&] (const Bytes& message)
    {
        if (SimulatedSynthesizer::isPacket (message, 1))
            pollsBeforeThePacket = polls.count();
    };

    const auto task = transfer (firmwareWithPackets (2));
    const auto ended = nowMs();

    EXPECT_EQ (task->errorMessage, timedOut);
    EXPECT_EQ (polls.count() - pollsBeforeThePacket, 601);
    const auto arrivals = synth.packetArrivalTimes();
    ASSERT_EQ (arrivals.size(), 2u);
    EXPECT_GE (ended - arrivals[1], 6000);
}

//==============================================================================
namespace
{
    struct StatusCase
    {
        std::string name;
        juce::uint8 status;
        juce::String error;
    };

    void PrintTo (const StatusCase& c, std::ostream* os)    { *os << c.name; }

    const StatusCase statusCases[] = {
        { "Accepted",      0x01, "" },
        { "CrcFailed",     0x00, "CRC Failed on Retry" },
        { "WriteFailed",   0x02, "Failed to write packet data on retry" },
        { "OutOfSequence", 0x03, "Packet out of sequence on retry data " },
        { "Unknown04",     0x04, "Unknown Error" },
        { "Unknown7F",     0x7f, "Unknown Error" },
    };

    class PacketStatus : public TransferFixture,
                         public ::testing::WithParamInterface<StatusCase>
    {
    };
}

TEST_P (PacketStatus, DecidesWhetherTheNextPacketFollows)
{
    const auto status = GetParam().status;
    synth.answerPacket (1, SimulatedSynthesizer::Acknowledgement::withStatus (status));

    const auto task = transfer (firmwareWithPackets (2));

    EXPECT_EQ (task->errorMessage, GetParam().error);
    EXPECT_EQ (synth.packetsReceived().size(), GetParam().error.isEmpty() ? 3u : 2u);
}

INSTANTIATE_TEST_SUITE_P (UpdateRunErrors, PacketStatus, ::testing::ValuesIn (statusCases),
                          [] (const auto& info) { return info.param.name; });
