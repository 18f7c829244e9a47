#pragma once

#include <juce_core/juce_core.h>

#include <cstdio>

/** Writes the text to standard output at once: one locked write per text, so that
    texts written side by side from different threads cannot mix. */
inline void writeToStandardOutput (const juce::String& text)
{
    std::fwrite (text.toRawUTF8(), 1, text.getNumBytesAsUTF8(), stdout);
    std::fflush (stdout);
}
