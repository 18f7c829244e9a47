#pragma once

#include "Cloud/CloudInterface.h"

namespace Cloud
{

/** Lets the tests see, and in a few places steer, what the interface keeps to itself:
    its workers, its token, its authentication state and its downloads. Call it on the
    message thread, as the interface itself is called. */
class InterfaceInspector
{
public:
    struct Worker
    {
        juce::String name;
        bool running;
        juce::Thread* thread;
    };

    static std::vector<Worker> workers (Interface& interface)
    {
        const std::lock_guard<std::mutex> lock (interface.mutex);
        std::vector<Worker> seen;

        for (const auto& worker : interface.threads)
            seen.push_back ({ worker->getThreadName(), worker->isThreadRunning(), worker.get() });

        return seen;
    }

    static int countWorkers (Interface& interface, const juce::String& name)
    {
        const auto seen = workers (interface);
        return (int) std::count_if (seen.begin(), seen.end(), [&name] (const Worker& w) { return w.name == name; });
    }

    static int countRunningWorkers (Interface& interface)
    {
        const auto seen = workers (interface);
        return (int) std::count_if (seen.begin(), seen.end(), [] (const Worker& w) { return w.running; });
    }

    static juce::String token (Interface& interface)
    {
        return interface.currentToken();
    }

    static bool authenticating (Interface& interface)
    {
        return interface.authenticating;
    }

    static size_t waitingCallbacks (Interface& interface)
    {
        const std::lock_guard<std::mutex> lock (interface.mutex);
        return interface.authenticationCallbacks.size();
    }

    /** Whether each listed download has completed, in the order of the list. */
    static std::vector<bool> downloadsCompleted (const Interface& interface)
    {
        std::vector<bool> completed;

        for (const auto& download : interface.downloads)
            completed.push_back (download.isCompleted());

        return completed;
    }

    static void addWorker (Interface& interface, std::unique_ptr<LambdaThread> worker)
    {
        interface.append (std::move (worker));
    }

    static void removeFinishedThreads (Interface& interface)
    {
        interface.removeFinishedThreads();
    }

    /** Joins or starts an attempt as authenticate() does, but one that runs the given
        handshake in place of the service's. */
    static void authenticateWith (Interface& interface,
                                  Interface::AuthenticationCallback callback,
                                  std::function<Result<juce::String, Error>()> handshake)
    {
        interface.joinAttempt (std::move (callback), std::move (handshake));
    }
};

} // namespace Cloud
