#pragma once

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

/** Runs a bound server's accept loop on a thread of its own and returns that thread once the
    server is listening: stop() only reaches a server that is already listening. */
inline std::thread listenInBackground (httplib::Server& server, const std::string& name)
{
    std::thread listener ([&server] { server.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10);

    while (! server.is_running())
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            server.stop();
            listener.join();
            throw std::runtime_error ("the " + name + " did not start");
        }

        std::this_thread::yield();
    }

    return listener;
}
