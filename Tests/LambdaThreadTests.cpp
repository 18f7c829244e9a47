#include "Utilities/LambdaThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace
{
    constexpr int deadlineMs = 5000;

    /** What the functions of one thread did, in order, from whichever thread they ran on. */
    struct Log
    {
        void add (const juce::String& entry)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            entries.add (entry);
        }

        juce::String read() const
        {
            const std::lock_guard<std::mutex> lock (mutex);
            return entries.joinIntoString (" | ");
        }

        mutable std::mutex mutex;
        juce::StringArray entries;
    };

    LambdaThread::Function logging (Log& log, const juce::String& entry)
    {
        return [&log, entry] (juce::Thread&) { log.add (entry); };
    }

    /** Sets its flag when the last copy of the function holding it is destroyed. */
    struct DestructionFlag
    {
        explicit DestructionFlag (std::atomic<bool>& f) : flag (f) {}
        ~DestructionFlag() { flag = true; }
        std::atomic<bool>& flag;
    };
}

TEST (LambdaThread, RunsBodyThenAfterOnItsOwnNamedThread)
{
    Log log;
    const auto testThread = juce::Thread::getCurrentThreadId();

    const auto describe = [&] (const juce::String& step)
    {
        return [&log, &testThread, step] (juce::Thread& thread)
        {
            const auto* current = juce::Thread::getCurrentThread();
            log.add (step + " on " + (current == &thread ? current->getThreadName() : "another thread")
                     + (juce::Thread::getCurrentThreadId() == testThread ? " (the caller's)" : ""));
        };
    };

    LambdaThread thread ("CheckAvailableFirmware", describe ("body"), describe ("after"), 0);
    EXPECT_FALSE (thread.isThreadRunning()) << "construction does not start it";
    EXPECT_TRUE (log.read().isEmpty());

    ASSERT_TRUE (thread.startThread());
    ASSERT_TRUE (thread.waitForThreadToExit (deadlineMs));

    EXPECT_EQ (log.read(), "body on CheckAvailableFirmware | after on CheckAvailableFirmware");
    EXPECT_FALSE (thread.isThreadRunning());
}

TEST (LambdaThread, AnEmptyFunctionThrowsBadFunctionCallWhereItWouldRun)
{
    Log log;

    LambdaThread noBody ("NoBody", {}, logging (log, "after"), 0);
    EXPECT_THROW (noBody.run(), std::bad_function_call);
    EXPECT_TRUE (log.read().isEmpty());

    LambdaThread noAfter ("NoAfter", logging (log, "body"), {}, 0);
    EXPECT_THROW (noAfter.run(), std::bad_function_call);
    EXPECT_EQ (log.read(), "body");
}

TEST (LambdaThread, AnExceptionEndsTheThreadQuietlyAndSkipsWhatFollows)
{
    Log log;

    LambdaThread noBody ("NoBody", {}, logging (log, "after of the thread without a body"), 0);
    LambdaThread noAfter ("NoAfter", logging (log, "body of the thread without an after"), {}, 0);
    LambdaThread throwing ("Throwing",
                           [] (juce::Thread&) { throw std::runtime_error ("the request failed"); },
                           logging (log, "after of the throwing thread"), 0);

    for (auto* thread : { &noBody, &noAfter, &throwing })
    {
        SCOPED_TRACE (thread->getThreadName());
        ASSERT_TRUE (thread->startThread());
        EXPECT_TRUE (thread->waitForThreadToExit (deadlineMs));
        EXPECT_FALSE (thread->isThreadRunning());
    }

    EXPECT_EQ (log.read(), "body of the thread without an after");
}

TEST (LambdaThread, DestroyingOneThatNeverStartedRunsNothing)
{
    Log log;
    const auto started = juce::Time::getMillisecondCounter();

    {
        LambdaThread thread ("NeverStarted", logging (log, "body"), logging (log, "after"), 0);
    }

    EXPECT_LT (juce::Time::getMillisecondCounter() - started, (juce::uint32) deadlineMs);
    EXPECT_TRUE (log.read().isEmpty());
}

TEST (LambdaThread, DestructionWaitsForBothFunctionsAndOutlivesThem)
{
    juce::WaitableEvent bodyEntered;
    std::atomic<bool> bodyDestroyed { false }, afterDestroyed { false };
    std::atomic<bool> bodySawStopRequest { false }, afterFinished { false }, functionsAliveInAfter { false };

    auto thread = std::make_unique<LambdaThread> (
        "Blocked",
        [&, flag = std::make_shared<DestructionFlag> (bodyDestroyed)] (juce::Thread& self)
        {
            bodyEntered.signal();

            // Stands for a request that is still running when the owner goes: it ends only
            // once the destructor has asked the thread to stop and is waiting for it.
            self.wait (-1);
            bodySawStopRequest = self.threadShouldExit();
        },
        [&, flag = std::make_shared<DestructionFlag> (afterDestroyed)] (juce::Thread&)
        {
            functionsAliveInAfter = ! bodyDestroyed && ! afterDestroyed;
            afterFinished = true;
        },
        0);

    ASSERT_TRUE (thread->startThread());
    ASSERT_TRUE (bodyEntered.wait (deadlineMs));

    thread.reset();

    EXPECT_TRUE (bodySawStopRequest);
    EXPECT_TRUE (afterFinished);
    EXPECT_TRUE (functionsAliveInAfter);
    EXPECT_TRUE (bodyDestroyed && afterDestroyed);
}
