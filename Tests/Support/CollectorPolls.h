#pragma once

#include "FirmwareFileBuilder.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <map>
#include <mutex>

/**
    Counts the drains of one collector, each of which is one poll of a transfer's
    wait, and places messages into it between two polls. It sees the drains because
    the test program wraps juce::MidiMessageCollector::removeNextBlockOfMessages at
    link time; the program under test is not changed. Everything here runs on the
    draining thread, right after the drain, so a message placed after poll N is
    there for poll N + 1 whatever the timing.
*/
class CollectorPolls
{
public:
    explicit CollectorPolls (juce::MidiMessageCollector& collectorToWatch);
    ~CollectorPolls();

    /** How often the collector has been drained since this was made. */
    int count() const;

    /** Queues the message into the collector right after its poll number `poll`. */
    void placeAfterPoll (int poll, const Bytes& message);

    /** After each poll numbered from `first` to `last`, the wait before the next poll ends
        at once, so that a wait of thousands of polls takes milliseconds; they are counted
        all the same. */
    void hurryPolls (int first, int last);

    /** Called by the wrapped drain. */
    static void drained (juce::MidiMessageCollector& collector);

private:
    void afterDrain();

    juce::MidiMessageCollector& collector;
    mutable std::mutex lock;
    int polls = 0;
    int hurryFirst = 0, hurryLast = -1;
    std::multimap<int, Bytes> placed;

    JUCE_DECLARE_NON_COPYABLE (CollectorPolls)
};
