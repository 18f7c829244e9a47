#include "UIComponent.h"
#include "Support/GuiTestFixture.h"
#include "Support/LoopbackCloudService.h"
#include "Support/ModalLoopWatcher.h"
#include "Support/ScopedServiceAddress.h"

#include <juce_audio_utils/juce_audio_utils.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace
{
    juce::DialogWindow* findMidiSettings()
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* dialog = dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)))
                if (dialog->getName() == "MIDI Settings")
                    return dialog;

        return nullptr;
    }

    /** What the test saw of the dialog while its modal loop ran. */
    struct Observation
    {
        bool opened = false;
        bool modal = false;
        bool resizable = true;
        bool nativeTitleBar = true;
        juce::Colour background;
        bool showsDeviceSelector = false;
        int contentWidth = 0;
        int controlsShown = 0;
        std::vector<juce::String> controlsOutside;
        juce::Point<int> centre, panelCentre;
    };

    /** Notes every visible control under the component that does not lie wholly inside the area. */
    void noteControls (juce::Component& parent, juce::Rectangle<int> area, Observation& seen)
    {
        for (auto* child : parent.getChildren())
        {
            if (! child->isVisible() || child->getBounds().isEmpty())
                continue;

            ++seen.controlsShown;

            if (! area.contains (child->getScreenBounds()))
                seen.controlsOutside.push_back (child->getName() + " " + child->getScreenBounds().toString());

            noteControls (*child, area, seen);
        }
    }

    /** Runs inside the dialog's modal loop: notes what the dialog looks like, then acts on it.
        Gives up after a deadline so that a dialog that ignores the action cannot hang the test. */
    class DialogDriver
    {
    public:
        DialogDriver (juce::Component& panelToWatch, std::function<void (juce::DialogWindow&)> actionToTake)
            : panel (panelToWatch), action (std::move (actionToTake))
        {
        }

        Observation seen;
        bool gaveUp = false;

    private:
        void lookAtTheDialog()
        {
            if (auto* dialog = findMidiSettings())
            {
                if (! seen.opened)
                {
                    seen.opened = true;
                    seen.modal = dialog->isCurrentlyModal();
                    seen.resizable = dialog->isResizable();
                    seen.nativeTitleBar = dialog->isUsingNativeTitleBar();
                    seen.background = dialog->getBackgroundColour();
                    auto* content = dialog->getContentComponent();
                    seen.showsDeviceSelector = dynamic_cast<juce::AudioDeviceSelectorComponent*> (content) != nullptr;
                    seen.contentWidth = content != nullptr ? content->getWidth() : 0;

                    if (content != nullptr)
                        noteControls (*content, dialog->getScreenBounds().getIntersection (content->getScreenBounds()), seen);

                    seen.centre = dialog->getScreenBounds().getCentre();
                    seen.panelCentre = panel.getScreenBounds().getCentre();
                    action (*dialog);
                }
                else if (++ticksSinceAction > 100)
                {
                    gaveUp = true;
                    dialog->setVisible (false);
                }
            }
        }

        juce::Component& panel;
        std::function<void (juce::DialogWindow&)> action;
        int ticksSinceAction = 0;
        ModalLoopWatcher watcher { [this] { lookAtTheDialog(); return false; }, 20 };
    };

    void pressEscape (juce::DialogWindow& dialog)
    {
        // The way a key from the window system arrives.
        dialog.getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey));
    }

    class MidiSettingsDialog : public GuiTestFixture
    {
    protected:
        MidiSettingsDialog()
        {
            window.setContentNonOwned (&panel, true);
            window.centreWithSize (window.getWidth(), window.getHeight());
            window.setVisible (true);
        }

        ~MidiSettingsDialog() override
        {
            window.clearContentComponent();
        }

        juce::Button& midiDeviceButton()
        {
            return dynamic_cast<juce::Button&> (*panel.getChildComponent (5));
        }

        LoopbackCloudService service;
        Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };
        UIComponent panel;
        juce::DocumentWindow window { "Panel", juce::Colours::lightgrey, juce::DocumentWindow::allButtons };
    };
}

TEST_F (MidiSettingsDialog, OpensOverThePanelAndClosesWithEscape)
{
    DialogDriver driver (panel, pressEscape);
    midiDeviceButton().triggerClick();

    ASSERT_TRUE (pumpUntil ([&] { return driver.seen.opened && findMidiSettings() == nullptr; }, 20000));
    EXPECT_FALSE (driver.gaveUp) << "escape did not close the dialog";

    const auto& seen = driver.seen;
    EXPECT_TRUE (seen.modal);
    EXPECT_FALSE (seen.resizable);
    EXPECT_FALSE (seen.nativeTitleBar);
    EXPECT_EQ (seen.background, juce::Colours::azure);
    EXPECT_TRUE (seen.showsDeviceSelector);
    // The selector is asked for 500 x 400, but the framework's selector sizes itself to what
    // it holds when it lays itself out, so the dialog comes up far less tall. That is kept:
    // the width stays, every control shows, and nothing is cut off by the dialog's edges.
    EXPECT_EQ (seen.contentWidth, 500);
    EXPECT_GT (seen.controlsShown, 0);
    EXPECT_TRUE (seen.controlsOutside.empty()) << seen.controlsOutside.front();
    EXPECT_LE (seen.centre.getDistanceFrom (seen.panelCentre), 1);

    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
}

TEST_F (MidiSettingsDialog, OpensAgainOnEveryClick)
{
    for (int click = 0; click < 2; ++click)
    {
        SCOPED_TRACE ("click " + std::to_string (click));
        DialogDriver driver (panel, pressEscape);
        midiDeviceButton().triggerClick();

        ASSERT_TRUE (pumpUntil ([&] { return driver.seen.opened && findMidiSettings() == nullptr; }, 20000));
        EXPECT_FALSE (driver.gaveUp);
    }
}

TEST_F (MidiSettingsDialog, IsGoneWhenAQuitEndsItsLoop)
{
    // Closing the main window while the dialog is up asks the message loop to stop, which
    // ends the dialog's loop early; the dialog must not stay behind showing a dead selector.
    DialogDriver driver (panel, [] (juce::DialogWindow&) { juce::MessageManager::getInstance()->stopDispatchLoop(); });
    midiDeviceButton().triggerClick();

    pumpUntil ([&] { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }, 20000);

    // The stopped loop can no longer be pumped; the click has returned by now.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_TRUE (driver.seen.opened);
    EXPECT_EQ (findMidiSettings(), nullptr);
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
}
