#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** Where the transfer's messages go: the synthesizer's MIDI port, or whatever
    stands in for it. */
class MidiSender
{
public:
    virtual ~MidiSender() = default;

    /** Sends at once, on the calling thread. */
    virtual void sendMessageNow (const juce::MidiMessage& message) = 0;
};
