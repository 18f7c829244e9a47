#include "Support/CollectorPolls.h"
#include "Support/TransferFixture.h"

#include <atomic>

namespace
{
    using Ack = SimulatedSynthesizer::Acknowledgement;

    Bytes versionReply (const std::string& text, juce::uint32 modelCode)
    {
        return SynthResponder::makeVersionReply (text, modelCode);
    }
}

class ReplyMatching : public TransferFixture
{
protected:
    /** In place of the synthesizer's reply, these messages arrive all together as the
        version request goes out, so that the version wait's first poll takes them all. */
    void arriveWithTheVersionRequest (const std::vector<Bytes>& messages)
    {
        synth.versionReply.silent = true;
        synth.onReceive = [this, messages] (const Bytes& sent)
        {
            if (sent[6] != 0x73)
                return;

            for (const auto& m : messages)
                collector.addMessageToQueue (juce::MidiMessage (m.data(), (int) m.size(),
                                                                juce::Time::getMillisecondCounterHiRes() * 0.001));
        };
    }
};

TEST_F (ReplyMatching, VersionReplyIsKnownByItsLengthAndCommandAlone)
{
    auto tooShort = versionReply ("9.9.9", 1);
    tooShort.erase (tooShort.begin() + 20);

    auto tooLong = versionReply ("9.9.9", 1);
    tooLong.insert (tooLong.begin() + 20, 0x00);

    auto otherCommand = versionReply ("9.9.9", 1);
    otherCommand[6] = 0x73;

    auto real = versionReply ("1.2.3", 2);
    const Bytes otherHeader { 0x01, 0x02, 0x03, 0x04, 0x05 };
    std::copy (otherHeader.begin(), otherHeader.end(), real.begin() + 1);
    real[7] = 0x55;

    arriveWithTheVersionRequest ({ tooShort, tooLong, otherCommand, { 0x90, 0x3c, 0x64 },
                                   SynthResponder::makeAcknowledgement (0, 1), real });

    const auto task = transfer (firmwareWithPackets (1));

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (task->synthVersion.toString(), "1.2.3");
    EXPECT_EQ (task->synthModelCode, 2u);
}

TEST_F (ReplyMatching, AcknowledgementIsKnownByHeaderCommandAndPacketNumber)
{
    // Each of these would fail the packet if it were taken for its acknowledgement.
    const auto refusal = SynthResponder::makeAcknowledgement (0, 0);

    auto otherNumber = refusal;     otherNumber[8] = 0x09;
    auto otherMaker = refusal;      otherMaker[2] = 0x7e;
    auto otherHeaderByte = refusal; otherHeaderByte[4] = 0x21;
    auto otherCommand = refusal;    otherCommand[6] = 0x74;
    auto tooLong = refusal;         tooLong.insert (tooLong.end() - 1, 0x00);
    auto tooShort = refusal;        tooShort.erase (tooShort.end() - 2);

    const std::vector<Bytes> strays { otherNumber, otherMaker, otherHeaderByte, otherCommand,
                                      tooLong, tooShort, { 0x90, 0x3c, 0x64 } };

    synth.acknowledge = [this, strays] (int index, const Bytes&)
    {
        Ack ack;

        if (index == 0)
        {
            for (const auto& stray : strays)
                synth.sendToUpdater (stray);

            ack.deviceByte = 0x05;
            ack.byte7 = 0x00;
        }

        return ack;
    };

    const auto task = transfer (firmwareWithPackets (1));

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived().size(), 2u);
}

TEST_F (ReplyMatching, AcknowledgementOfAnotherPacketLeavesTheWaitToRunOut)
{
    CollectorPolls polls (collector);
    std::atomic<int> pollsBeforeThePacket { -1 };

    synth.answerPacket (1, Ack::numbered (7));

    // Called on the transfer thread as the packet goes out; its wait need not take real time.
    synth.onReceive = [&] (const Bytes& message)
    {
        if (SimulatedSynthesizer::isPacket (message, 1))
        {
            pollsBeforeThePacket = polls.count();
            polls.hurryPolls (pollsBeforeThePacket + 1, pollsBeforeThePacket + 1000);
        }
    };

    const auto task = transfer (firmwareWithPackets (1));

    EXPECT_EQ (task->errorMessage, "Timed out waiting for retry response");
    EXPECT_EQ (polls.count() - pollsBeforeThePacket, 601);
}

TEST_F (ReplyMatching, MessagesTakenByAWaitAreGoneForTheNext)
{
    // The version wait takes all three at its first poll; the header packet's wait
    // must see neither refusal and gets the synthesizer's own acceptance.
    arriveWithTheVersionRequest ({ SynthResponder::makeAcknowledgement (0, 0),
                                   versionReply ("1.1.0", 2),
                                   SynthResponder::makeAcknowledgement (0, 2) });

    const auto task = transfer (firmwareWithPackets (1));

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived().size(), 2u);
}
