#include "Support/ModalLoopWatcher.h"
#include "Support/TransferFixture.h"

namespace
{
    template <typename ComponentType>
    ComponentType* findChild (juce::Component& parent, std::function<bool (ComponentType&)> matches = nullptr)
    {
        for (auto* child : parent.getChildren())
            if (auto* c = dynamic_cast<ComponentType*> (child))
                if (matches == nullptr || matches (*c))
                    return c;

        return nullptr;
    }

    /** The value the progress bar shows, as assistive technology reads it. */
    double shownProgress (UpdateThreadTask& task)
    {
        auto* bar = findChild<juce::ProgressBar> (*task.getAlertWindow());
        auto* handler = bar != nullptr ? bar->getAccessibilityHandler() : nullptr;
        return handler != nullptr ? handler->getValueInterface()->getCurrentValue() : -1.0;
    }

    juce::TextButton* cancelButton (UpdateThreadTask& task)
    {
        return findChild<juce::TextButton> (*task.getAlertWindow(),
                                            [] (juce::TextButton& b) { return b.getButtonText() == "Cancel"; });
    }
}

using UpdateProgressWindow = TransferFixture;

TEST_F (UpdateProgressWindow, ShowsTheTransferAndMovesAtEachPacketsLastByte)
{
    const auto task = taskFor (fileWith (firmwareWithPackets (1)));
    auto& window = *task->getAlertWindow();
    synth.holdReplies();

    // Each reply is let go only once the window has been looked at for the step
    // before it: the version reply, then the two acknowledgements.
    int step = 0;
    const auto deadline = nowMs() + 20000;

    ModalLoopWatcher watcher ([&]
    {
        if (nowMs() > deadline)
        {
            ADD_FAILURE() << "stuck at step " << step;
            window.exitModalState (0);
            return true;
        }

        if (step == 0 && synth.versionRequestsReceived() == 1 && window.isCurrentlyModal())
        {
            EXPECT_EQ (window.getName(), "Updating...");
            EXPECT_TRUE (window.isShowing());
            EXPECT_NE (findChild<juce::ProgressBar> (window), nullptr);
            EXPECT_NE (cancelButton (*task), nullptr);
            EXPECT_EQ (shownProgress (*task), 0.0);
            ++step;
        }
        else if (step == 1 && synth.packetsReceived().size() == 1)
        {
            EXPECT_DOUBLE_EQ (shownProgress (*task), 289.0 / 580.0);
            ++step;
        }
        else if (step == 2 && synth.packetsReceived().size() == 2)
        {
            EXPECT_DOUBLE_EQ (shownProgress (*task), 579.0 / 580.0);
            ++step;
        }
        else
        {
            return false;
        }

        synth.releaseHeldReplies();
        return step == 3;
    });

    EXPECT_TRUE (task->runThread());

    EXPECT_EQ (step, 3);
    EXPECT_EQ (task->errorMessage, "");
    EXPECT_FALSE (window.isVisible());
}

TEST_F (UpdateProgressWindow, CancelButtonStopsTheTransfer)
{
    synth.answerPacket (1, SimulatedSynthesizer::Acknowledgement::none());

    const auto task = taskFor (fileWith (firmwareWithPackets (2)));
    double clicked = 0.0;

    ModalLoopWatcher watcher ([&]
    {
        if (synth.packetsReceived().size() < 2)
            return false;

        auto* button = cancelButton (*task);
        EXPECT_NE (button, nullptr);

        if (button != nullptr)
            button->triggerClick();

        clicked = nowMs();
        return true;
    });

    EXPECT_FALSE (task->runThread());

    // The window looks at the thread every 100 ms; the thread then ends within a poll.
    EXPECT_LT (nowMs() - clicked, 500.0);
    EXPECT_EQ (task->errorMessage, "Timed out waiting for retry response");
    EXPECT_EQ (synth.packetsReceived().size(), 2u);
    EXPECT_FALSE (task->getAlertWindow()->isVisible());
}

// The framework's window ends the run early only once it has left the modal stack, not when
// another box covers it. That is kept: a box about something else, such as a download that
// failed meanwhile, must not abort a firmware write half-way and leave the synthesizer
// without working firmware.
TEST_F (UpdateProgressWindow, ABoxOpenedOverTheWindowLetsTheTransferRunToItsEnd)
{
    // Slow enough acknowledgements that the window looks at its thread several times.
    synth.answerEveryPacket (SimulatedSynthesizer::Acknowledgement::delayedBy (150));

    synth.holdReplies();
    const auto task = taskFor (fileWith (firmwareWithPackets (2)));
    auto& window = *task->getAlertWindow();
    std::unique_ptr<juce::AlertWindow> box;
    bool windowCoveredThroughout = true;

    ModalLoopWatcher watcher ([&]
    {
        if (box == nullptr)
        {
            if (! window.isCurrentlyModal())
                return false;

            box = std::make_unique<juce::AlertWindow> ("Kestrova Updater", "Can't download firmware",
                                                       juce::MessageBoxIconType::WarningIcon);
            box->addButton ("OK", 1);
            box->enterModalState (true);
        }

        // Nothing goes on until the box is on top of the window.
        windowCoveredThroughout = windowCoveredThroughout && box->isCurrentlyModal (true) && ! window.isCurrentlyModal (true);
        synth.releaseHeldReplies();
        return false;
    });

    EXPECT_TRUE (task->runThread());

    EXPECT_EQ (task->errorMessage, "");
    EXPECT_EQ (synth.packetsReceived().size(), 3u);
    ASSERT_NE (box, nullptr);
    EXPECT_TRUE (windowCoveredThroughout);
    EXPECT_TRUE (box->isCurrentlyModal (true)) << "the box stays until it is answered";

    box->exitModalState (0);
}
