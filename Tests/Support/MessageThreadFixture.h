#pragma once

#include <juce_events/juce_events.h>
#include <gtest/gtest.h>

#include <functional>

/** Owns the message thread for one test and pumps it until a condition holds. */
class MessageThreadFixture : public ::testing::Test
{
public:
    /** Runs the message loop until the condition holds or the deadline passes;
        returns whether the condition held. */
    static bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() >= deadline)
                return condition();

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    /** Waits for a condition that other threads make true, without running the message loop,
        so that nothing posted meanwhile is delivered yet. */
    static bool waitWithoutMessages (const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() >= deadline)
                return condition();

            juce::Thread::yield();
        }

        return true;
    }

    /** Runs every message posted so far, so that nothing is still on its way. */
    static void drainMessages()
    {
        bool reached = false;
        juce::MessageManager::callAsync ([&reached] { reached = true; });
        ASSERT_TRUE (pumpUntil ([&reached] { return reached; }));
    }

    /** The high-resolution counter, for timing what a test measures. */
    static double nowMs()    { return juce::Time::getMillisecondCounterHiRes(); }

private:
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
};
