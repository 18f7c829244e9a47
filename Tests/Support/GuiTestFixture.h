#pragma once

#include "MessageThreadFixture.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** A message thread with the application's look-and-feel as the default,
    so that colours no widget sets come out as they do in the program. */
class GuiTestFixture : public MessageThreadFixture
{
protected:
    GuiTestFixture()            { juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel); }
    ~GuiTestFixture() override  { juce::LookAndFeel::setDefaultLookAndFeel (nullptr); }

private:
    juce::LookAndFeel_V3 lookAndFeel;
};
