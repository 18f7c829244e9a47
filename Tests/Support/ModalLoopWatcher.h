#pragma once

#include <juce_events/juce_events.h>

#include <functional>

/** Calls its step on the message thread, from inside whatever modal loop runs, until the
    step says it is done; a modal call in a test is driven from here. */
class ModalLoopWatcher : private juce::Timer
{
public:
    explicit ModalLoopWatcher (std::function<bool()> stepToRun, int intervalMs = 5)
        : step (std::move (stepToRun))
    {
        startTimer (intervalMs);
    }

    ~ModalLoopWatcher() override    { stopTimer(); }

private:
    void timerCallback() override
    {
        if (step())
            stopTimer();
    }

    std::function<bool()> step;
};
