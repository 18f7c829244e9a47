#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Creates the updater panel that becomes the main window's whole content; the caller owns it. */
juce::Component* createMainContentComponent();
