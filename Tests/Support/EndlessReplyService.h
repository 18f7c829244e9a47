#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib
{
    class Server;
}

/** A service on 127.0.0.1 and a port that the system picks, whose every answer, to any
    GET or POST, has status 200 and a body that does not end: the given text, then blanks,
    until the client hangs up. So that a client which never stops reading cannot hold a
    test for ever, the body does end after `length` bytes, which the test makes larger
    than anything the client may rightly read plus what the sockets between them can hold. */
class EndlessReplyService
{
public:
    EndlessReplyService (std::string start, size_t length);
    ~EndlessReplyService();

    /** The API root on this service, ending in "/api/v1/". */
    juce::URL baseURL() const;

    /** The absolute address of a path (starting with '/') on this service. */
    juce::String address (const std::string& path) const;

    /** How many answers have ended, whether cut off or whole. */
    int answersEnded() const { return ended; }

    /** How many of them the client cut off by hanging up before their end. */
    int answersCutOff() const { return cutOff; }

private:
    std::unique_ptr<httplib::Server> server;
    int boundPort = -1;
    std::thread listener;
    std::atomic<int> ended { 0 };
    std::atomic<int> cutOff { 0 };
};
