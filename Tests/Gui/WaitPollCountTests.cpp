#include "Support/CollectorPolls.h"
#include "Support/TransferFixture.h"

#include <atomic>

namespace
{
    const juce::String connectionFailed ("Connection failed - Please check DeviceID is set to 1 on the GLOBAL menu");
    const juce::String timedOut ("Timed out waiting for retry response");
}

/**
    Each wait polls the collector a fixed number of times: a reply that lands right after
    its last poll but one is seen, one that lands right after its last poll is not. The
    polls are counted, not timed, and the waits between them are cut short, so these
    tests take milliseconds however busy the machine is; only the last lets a wait run
    its real course.
*/
class WaitPolls : public TransferFixture
{
protected:
    /** The version wait, with the synthesizer's reply placed right after this poll. */
    std::unique_ptr<UpdateThreadTask> versionReplyAfterPoll (int poll)
    {
        synth.versionReply.silent = true;
        polls.placeAfterPoll (poll, SynthResponder::makeVersionReply ("1.1.0", 2));
        polls.hurryPolls (1, poll);

        synth.onReceive = [this] (const Bytes& message)
        {
            if (message[6] == 0x71 && pollsBeforeThePacket < 0)
                pollsBeforeThePacket = polls.count();
        };

        return transfer (firmwareWithPackets (1));
    }

    /** The acknowledgement wait of the packet with this number, with its acceptance
        placed right after this poll of its wait. */
    std::unique_ptr<UpdateThreadTask> acknowledgementAfterPoll (juce::uint8 packetNumber, int poll)
    {
        // The packets go out in the order of their numbers.
        synth.answerPacket (packetNumber, SimulatedSynthesizer::Acknowledgement::none());

        // Called on the transfer thread as the packet goes out, before its wait's first poll.
        synth.onReceive = [this, packetNumber, poll] (const Bytes& message)
        {
            if (! SimulatedSynthesizer::isPacket (message, packetNumber))
                return;

            pollsBeforeThePacket = polls.count();
            polls.placeAfterPoll (pollsBeforeThePacket + poll, SynthResponder::makeAcknowledgement (packetNumber, 1));
            polls.hurryPolls (pollsBeforeThePacket + 1, pollsBeforeThePacket + poll);
        };

        return transfer (firmwareWithPackets (1));
    }

    int pollsOfThePacketsWait() const    { return polls.count() - pollsBeforeThePacket; }

    CollectorPolls polls { collector };
    std::atomic<int> pollsBeforeThePacket { -1 };
};

TEST_F (WaitPolls, VersionReplyAfterThe125thPollIsSeenAtTheLast)
{
    const auto task = versionReplyAfterPoll (125);

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (task->synthVersion.toString(), "1.1.0");
    EXPECT_EQ (pollsBeforeThePacket, 126);
}

TEST_F (WaitPolls, VersionReplyAfterThe126thPollIsNotSeen)
{
    const auto task = versionReplyAfterPoll (126);

    EXPECT_EQ (task->errorMessage, connectionFailed);
    EXPECT_EQ (polls.count(), 126);
    EXPECT_TRUE (synth.packetsReceived().empty());
}

TEST_F (WaitPolls, LaterPacketsAcknowledgementAfterThe600thPollIsSeen)
{
    const auto task = acknowledgementAfterPoll (1, 600);

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (pollsOfThePacketsWait(), 601);
}

TEST_F (WaitPolls, LaterPacketsAcknowledgementAfterThe601stPollIsNotSeen)
{
    const auto task = acknowledgementAfterPoll (1, 601);

    EXPECT_EQ (task->errorMessage, timedOut);
    EXPECT_EQ (pollsOfThePacketsWait(), 601);
}

TEST_F (WaitPolls, HeaderPacketsAcknowledgementAfterThe6000thPollIsSeen)
{
    const auto task = acknowledgementAfterPoll (0, 6000);

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived().size(), 2u);
}

TEST_F (WaitPolls, HeaderPacketsAcknowledgementAfterThe6001stPollIsNotSeen)
{
    const auto task = acknowledgementAfterPoll (0, 6001);

    EXPECT_EQ (task->errorMessage, timedOut);
    EXPECT_EQ (pollsOfThePacketsWait(), 6001);
    EXPECT_EQ (synth.packetsReceived().size(), 1u);
}

// The one wait that runs its real course: the header packet's minute, 10 ms at a time.
TEST_F (WaitPolls, UnacknowledgedHeaderPacketIsGivenUpAfterAMinuteOf6001Polls)
{
    synth.answerEveryPacket (SimulatedSynthesizer::Acknowledgement::none());

    synth.onReceive = [this] (const Bytes& message)
    {
        if (SimulatedSynthesizer::isPacket (message, 0))
            pollsBeforeThePacket = polls.count();
    };

    const auto task = taskFor (fileWith (firmwareWithPackets (1)));
    runToEnd (*task, 120000);
    const auto ended = nowMs();

    EXPECT_EQ (task->errorMessage, timedOut);
    EXPECT_EQ (pollsOfThePacketsWait(), 6001);

    const auto arrivals = synth.packetArrivalTimes();
    ASSERT_EQ (arrivals.size(), 1u);
    EXPECT_GE (ended - arrivals[0], 60000);
}
