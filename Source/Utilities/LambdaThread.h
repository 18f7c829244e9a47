#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** A named thread that runs one function and then another.

    The owner starts it with startThread(). Destroying it waits, without a time limit,
    until both functions have returned, so it must never be destroyed from its own thread.
*/
class LambdaThread final : public juce::Thread
{
public:
    using Function = std::function<void (juce::Thread&)>;

    /** A stack size of 0 leaves the platform's default. */
    LambdaThread (const juce::String& name, Function body, Function after, unsigned long stackSize);
    ~LambdaThread() override;

    /** Runs body, then after; an empty one throws std::bad_function_call, which ends the
        thread, as does any exception from the functions themselves. */
    void run() override;

private:
    Function body;
    Function after;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LambdaThread)
};
