#include "RawRequestRecorder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
    // How often blocked sockets look at whether the recorder is going away.
    constexpr int stopCheckMs = 50;

    std::string lowerCase (std::string text)
    {
        std::transform (text.begin(), text.end(), text.begin(), [] (unsigned char c) { return (char) std::tolower (c); });
        return text;
    }

    sockaddr_in loopback (int port)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons ((uint16_t) port);
        address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        return address;
    }

    bool sendAll (int socket, const char* data, size_t size)
    {
        while (size > 0)
        {
            const auto sent = ::send (socket, data, size, MSG_NOSIGNAL);

            if (sent <= 0)
                return false;

            data += sent;
            size -= (size_t) sent;
        }

        return true;
    }
}

RawRequestRecorder::RawRequestRecorder (int servicePort)
    : upstreamPort (servicePort)
{
    listener = ::socket (AF_INET, SOCK_STREAM, 0);
    auto address = loopback (0);
    socklen_t length = sizeof (address);

    if (listener < 0
         || ::bind (listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0
         || ::listen (listener, 16) != 0
         || ::getsockname (listener, reinterpret_cast<sockaddr*> (&address), &length) != 0)
        throw std::runtime_error ("the recorder cannot listen on the loopback interface");

    port = ntohs (address.sin_port);
    acceptor = std::thread ([this] { acceptConnections(); });
}

RawRequestRecorder::~RawRequestRecorder()
{
    stopping = true;
    acceptor.join();

    for (auto& connection : connections)
        connection.join();

    ::close (listener);
}

juce::URL RawRequestRecorder::baseURL() const
{
    return juce::URL ("http://127.0.0.1:" + juce::String (port) + "/api/v1/");
}

std::vector<std::vector<std::string>> RawRequestRecorder::headerLinesOfRequestsTo (const std::string& path) const
{
    const std::lock_guard<std::mutex> guard (lock);
    std::vector<std::vector<std::string>> matching;

    for (const auto& head : heads)
    {
        // The request line: method, target, version, one blank apart.
        const auto& requestLine = head.front();
        const auto start = requestLine.find (' ') + 1;
        const auto target = requestLine.substr (start, requestLine.find (' ', start) - start);

        if (target.substr (0, target.find ('?')) == path)
            matching.emplace_back (head.begin() + 1, head.end());
    }

    return matching;
}

std::vector<std::string> RawRequestRecorder::headerLines (const std::string& path, const std::string& name) const
{
    std::vector<std::string> lines;

    for (const auto& head : headerLinesOfRequestsTo (path))
        for (const auto& line : head)
            if (lowerCase (line.substr (0, line.find (':'))) == lowerCase (name))
                lines.push_back (line);

    return lines;
}

void RawRequestRecorder::acceptConnections()
{
    while (! stopping)
    {
        pollfd waiting { listener, POLLIN, 0 };

        if (::poll (&waiting, 1, stopCheckMs) <= 0)
            continue;

        const auto client = ::accept (listener, nullptr, nullptr);

        if (client < 0)
            continue;

        const std::lock_guard<std::mutex> guard (lock);
        connections.emplace_back ([this, client] { relay (client); });
    }
}

void RawRequestRecorder::relay (int client)
{
    const auto upstream = ::socket (AF_INET, SOCK_STREAM, 0);
    const auto address = loopback (upstreamPort);

    if (upstream < 0 || ::connect (upstream, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
    {
        ::close (client);

        if (upstream >= 0)
            ::close (upstream);

        return;
    }

    std::string sent;
    char buffer[16384];
    bool open = true;

    while (open && ! stopping)
    {
        pollfd sockets[] = { { client, POLLIN, 0 }, { upstream, POLLIN, 0 } };

        if (::poll (sockets, 2, stopCheckMs) <= 0)
            continue;

        for (int i = 0; i < 2 && open; ++i)
        {
            if (sockets[i].revents == 0)
                continue;

            const auto received = ::recv (sockets[i].fd, buffer, sizeof (buffer), 0);

            if (received <= 0)
            {
                open = false;
                break;
            }

            if (i == 0)
            {
                sent.append (buffer, (size_t) received);
                record (sent);
            }

            open = sendAll (sockets[1 - i].fd, buffer, (size_t) received);
        }
    }

    ::close (client);
    ::close (upstream);
}

void RawRequestRecorder::record (std::string& sent)
{
    // Keeps each whole head as its lines, and drops it and its body from what was sent.
    for (;;)
    {
        const auto headEnd = sent.find ("\r\n\r\n");

        if (headEnd == std::string::npos)
            return;

        std::vector<std::string> lines;

        for (size_t start = 0; start < headEnd + 2;)
        {
            const auto end = sent.find ("\r\n", start);
            lines.push_back (sent.substr (start, end - start));
            start = end + 2;
        }

        size_t bodyLength = 0;

        for (const auto& line : lines)
            if (lowerCase (line.substr (0, line.find (':'))) == "content-length")
                bodyLength = (size_t) std::stoul (line.substr (line.find (':') + 1));

        if (sent.size() < headEnd + 4 + bodyLength)
            return;

        sent.erase (0, headEnd + 4 + bodyLength);

        const std::lock_guard<std::mutex> guard (lock);
        heads.push_back (std::move (lines));
    }
}
