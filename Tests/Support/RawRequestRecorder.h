#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/**
    Stands between the client and a loopback service on 127.0.0.1 and passes every byte
    through unchanged, keeping the header lines of each request exactly as they were sent.
    The service's HTTP library trims header values, so a closing blank can only be seen here.
*/
class RawRequestRecorder
{
public:
    /** Relays to the service listening on this loopback port. */
    explicit RawRequestRecorder (int servicePort);
    ~RawRequestRecorder();

    /** The API root, as the service's own, but reached through the recorder. */
    juce::URL baseURL() const;

    /** The header lines, as sent and without their line ends, of every request so far
        whose request line names this path; one entry per request. */
    std::vector<std::vector<std::string>> headerLinesOfRequestsTo (const std::string& path) const;

    /** Of those lines, the ones whose name is this one in any case. */
    std::vector<std::string> headerLines (const std::string& path, const std::string& name) const;

private:
    void acceptConnections();
    void relay (int client);
    void record (std::string& sent);

    const int upstreamPort;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping { false };

    mutable std::mutex lock;
    std::vector<std::vector<std::string>> heads;
    std::vector<std::thread> connections;
    std::thread acceptor;
};
