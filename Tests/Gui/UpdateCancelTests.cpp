#include "Support/TransferFixture.h"

#include <atomic>

namespace
{
    // Room for the stopped thread to be scheduled again; far below any time-out.
    constexpr double schedulingAllowanceMs = 50.0;
}

using UpdateCancel = TransferFixture;

TEST_F (UpdateCancel, DuringTheVersionWaitEndsWithinOnePoll)
{
    synth.versionReply.silent = true;
    const auto task = taskFor (fileWith (firmwareWithPackets (1)));

    task->startThread();
    ASSERT_TRUE (synth.waitForMessages (1, 5000));

    const auto stopped = nowMs();
    EXPECT_TRUE (task->stopThread (10000));
    EXPECT_LT (nowMs() - stopped, versionResponsePollMs + schedulingAllowanceMs);

    EXPECT_EQ (task->errorMessage, "Connection failed - Please check DeviceID is set to 1 on the GLOBAL menu");
    EXPECT_NE (task->endTime, juce::Time());
    EXPECT_EQ (synth.received().size(), 1u);
}

class UpdateCancelDuringPacket : public TransferFixture,
                                 public ::testing::WithParamInterface<int>
{
};

TEST_P (UpdateCancelDuringPacket, EndsWithinOnePollAndSendsNothingMore)
{
    const auto silentPacket = GetParam();
    synth.answerPacket (silentPacket, SimulatedSynthesizer::Acknowledgement::none());

    const auto task = taskFor (fileWith (firmwareWithPackets (2)));

    task->startThread();
    ASSERT_TRUE (synth.waitForPackets ((size_t) silentPacket + 1, 5000));

    const auto stopped = nowMs();
    EXPECT_TRUE (task->stopThread (10000));
    EXPECT_LT (nowMs() - stopped, responsePollMs + schedulingAllowanceMs);

    EXPECT_EQ (task->errorMessage, "Timed out waiting for retry response");
    EXPECT_EQ (synth.packetsReceived().size(), (size_t) silentPacket + 1);
}

// The header packet waits up to a minute, the others up to six seconds.
INSTANTIATE_TEST_SUITE_P (UpdateCancel, UpdateCancelDuringPacket, ::testing::Values (0, 1),
                          [] (const auto& info) { return info.param == 0 ? "HeaderPacket" : "LaterPacket"; });

TEST_F (UpdateCancel, DestroyingARunningTaskStopsItFirst)
{
    synth.versionReply.silent = true;
    auto task = taskFor (fileWith (firmwareWithPackets (1)));

    task->startThread();
    ASSERT_TRUE (synth.waitForMessages (1, 5000));

    const auto destroyed = nowMs();
    task.reset();
    EXPECT_LT (nowMs() - destroyed, versionResponsePollMs + schedulingAllowanceMs);
}

namespace
{
    /** Passes the version request on to the synthesizer, then holds the thread that sends
        the header packet until that thread is asked to stop, as a port whose driver is
        slow to take a long message would; meanwhile it watches what the task holds. */
    class OutputHeldUntilStopped : public MidiSender
    {
    public:
        OutputHeldUntilStopped (MidiSender& synthesizerToUse, const juce::File& fileTheTaskHolds)
            : synthesizer (synthesizerToUse), file (fileTheTaskHolds)
        {
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            if (message.getRawDataSize() < 290)
            {
                synthesizer.sendMessageNow (message);
                return;
            }

            // The task's copy of the file and its stream each share the path's text.
            holdersWhileSending = file.getFullPathName().getReferenceCount();
            held = true;

            auto* thread = juce::Thread::getCurrentThread();

            while (! thread->threadShouldExit())
                thread->wait (-1);

            holdersWhenStopped = file.getFullPathName().getReferenceCount();
        }

        std::atomic<bool> held { false };
        std::atomic<int> holdersWhileSending { 0 }, holdersWhenStopped { 0 };

    private:
        MidiSender& synthesizer;
        const juce::File file;
    };
}

TEST_F (UpdateCancel, DestroyingATaskStopsItsRunWhileTheTaskIsStillWhole)
{
    const auto file = fileWith (firmwareWithPackets (1));
    OutputHeldUntilStopped output (synth, file);
    auto task = std::make_unique<UpdateThreadTask> (&output, collector, file);

    task->startThread();
    ASSERT_TRUE (waitWithoutMessages ([&output] { return output.held.load(); }));

    // The run goes on once its thread is asked to stop: it still polls and writes its error
    // text, so the task must still be whole then. Stopped only by the base class, the run
    // would find the task's members, its copy of the file among them, already destroyed.
    task.reset();

    EXPECT_GT (output.holdersWhileSending, 0);
    EXPECT_EQ (output.holdersWhenStopped, output.holdersWhileSending);
}
