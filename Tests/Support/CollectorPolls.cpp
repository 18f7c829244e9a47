#include "CollectorPolls.h"

#include <algorithm>
#include <vector>

namespace
{
    std::mutex watchersLock;
    std::vector<CollectorPolls*> watchers;
}

// The test programs link with --wrap on this symbol: every drain comes here first.
extern "C" void __real__ZN4juce20MidiMessageCollector25removeNextBlockOfMessagesERNS_10MidiBufferEi (juce::MidiMessageCollector*, juce::MidiBuffer&, int);

extern "C" void __wrap__ZN4juce20MidiMessageCollector25removeNextBlockOfMessagesERNS_10MidiBufferEi (juce::MidiMessageCollector* collector,
                                                                                                   juce::MidiBuffer& destination,
                                                                                                   int numSamples)
{
    __real__ZN4juce20MidiMessageCollector25removeNextBlockOfMessagesERNS_10MidiBufferEi (collector, destination, numSamples);
    CollectorPolls::drained (*collector);
}

CollectorPolls::CollectorPolls (juce::MidiMessageCollector& collectorToWatch)
    : collector (collectorToWatch)
{
    const std::lock_guard<std::mutex> guard (watchersLock);
    watchers.push_back (this);
}

CollectorPolls::~CollectorPolls()
{
    const std::lock_guard<std::mutex> guard (watchersLock);
    watchers.erase (std::find (watchers.begin(), watchers.end(), this));
}

void CollectorPolls::drained (juce::MidiMessageCollector& drainedCollector)
{
    // Held across the call so that a watcher cannot go away while it counts.
    const std::lock_guard<std::mutex> guard (watchersLock);

    for (auto* watcher : watchers)
        if (&watcher->collector == &drainedCollector)
            watcher->afterDrain();
}

int CollectorPolls::count() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return polls;
}

void CollectorPolls::placeAfterPoll (int poll, const Bytes& message)
{
    const std::lock_guard<std::mutex> guard (lock);
    placed.emplace (poll, message);
}

void CollectorPolls::hurryPolls (int first, int last)
{
    const std::lock_guard<std::mutex> guard (lock);
    hurryFirst = first;
    hurryLast = last;
}

void CollectorPolls::afterDrain()
{
    std::vector<Bytes> due;
    bool hurry = false;

    {
        const std::lock_guard<std::mutex> guard (lock);
        ++polls;

        const auto range = placed.equal_range (polls);

        for (auto i = range.first; i != range.second; ++i)
            due.push_back (i->second);

        placed.erase (range.first, range.second);
        hurry = polls >= hurryFirst && polls <= hurryLast;
    }

    for (const auto& message : due)
        collector.addMessageToQueue (juce::MidiMessage (message.data(), (int) message.size(),
                                                        juce::Time::getMillisecondCounterHiRes() * 0.001));

    // The drain runs on the waiting thread: its next wait finds the event already signalled.
    if (hurry)
        if (auto* thread = juce::Thread::getCurrentThread())
            thread->notify();
}
