#include "MidiOutputSender.h"

MidiOutputSender::MidiOutputSender (juce::MidiOutput& outputToUse)
    : output (outputToUse)
{
}

void MidiOutputSender::sendMessageNow (const juce::MidiMessage& message)
{
    output.sendMessageNow (message);
}
