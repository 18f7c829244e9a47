#pragma once

#include "MidiSender.h"

#include <juce_audio_devices/juce_audio_devices.h>

/** Sends through a MIDI output port that someone else owns and keeps open. */
class MidiOutputSender final : public MidiSender
{
public:
    explicit MidiOutputSender (juce::MidiOutput& outputToUse);

    void sendMessageNow (const juce::MidiMessage& message) override;

private:
    juce::MidiOutput& output;
};
