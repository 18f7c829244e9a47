#include "MainComponent.h"
#include "UIComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

class ZorvUpdaterApplication : public juce::JUCEApplication
{
public:
    ZorvUpdaterApplication() = default;

    const juce::String getApplicationName() override       { return "KestrovaUpdater"; }
    const juce::String getApplicationVersion() override    { return "1.6.0"; }
    bool moreThanOneInstanceAllowed() override             { return true; }

    void initialise (const juce::String&) override
    {
        // Before the panel exists: its failure box and every later dialog draw with it too.
        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

        mainWindow.reset (new MainWindow (getApplicationName()));
    }

    void shutdown() override
    {
        // Off the screen at once: the panel's cloud interface waits, as it goes, for the
        // requests still in flight, each for up to its time-out.
        if (mainWindow != nullptr)
            mainWindow->removeFromDesktop();

        mainWindow.reset();
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    }

    void anotherInstanceStarted (const juce::String&) override {}

    void systemRequestedQuit() override
    {
        if (mainWindow != nullptr)
            if (auto* panel = dynamic_cast<UIComponent*> (mainWindow->getContentComponent()))
                if (panel->holdQuitUntilTransferEnds())
                    return;

        quit();
    }

    class MainWindow final : public juce::DocumentWindow
    {
    public:
        MainWindow (juce::String name)
            : DocumentWindow (name, juce::Colours::lightgrey, DocumentWindow::allButtons, false)
        {
            setUsingNativeTitleBar (true);
            setContentOwned (createMainContentComponent(), true);
            setResizable (false, false);
            centreWithSize (getWidth(), getHeight());

            // Onto the desktop only once sized and placed. Switching the title bar of a window that is
            // already there re-creates it and asks the window manager to activate it, so on X11 the
            // window manager can place it at the framework's first 128 x 128, and the framework then
            // takes that size back from it.
            addToDesktop();
            setVisible (true);
        }

        void closeButtonPressed() override
        {
            juce::JUCEApplication::getInstance()->systemRequestedQuit();
        }

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    // Declared first so that it outlives the window and everything drawn with it.
    juce::LookAndFeel_V3 lookAndFeel;
    std::unique_ptr<MainWindow> mainWindow;
};

START_JUCE_APPLICATION (ZorvUpdaterApplication)
