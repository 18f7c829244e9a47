#pragma once

#include "MessageThreadFixture.h"
#include "XlibForTests.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** A message thread with the application's look-and-feel as the default,
    so that colours no widget sets come out as they do in the program, and
    Xlib's protocol errors ignored as the program ignores them. */
class GuiTestFixture : public MessageThreadFixture
{
protected:
    GuiTestFixture()
    {
        prepareXlibForTests();
        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    }

    ~GuiTestFixture() override  { juce::LookAndFeel::setDefaultLookAndFeel (nullptr); }

private:
    juce::LookAndFeel_V3 lookAndFeel;
};
