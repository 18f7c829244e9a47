#include "EndlessReplyService.h"

#include "ServerListening.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

EndlessReplyService::EndlessReplyService (std::string start, size_t length)
    : server (std::make_unique<httplib::Server>())
{
    const auto body = std::make_shared<const std::string> (std::move (start));

    const auto answer = [this, body, length] (const httplib::Request&, httplib::Response& response)
    {
        response.set_chunked_content_provider ("application/json",
                                               [this, body, length] (size_t offset, httplib::DataSink& sink)
                                               {
                                                   if (offset >= length)
                                                   {
                                                       sink.done();
                                                       ++ended;
                                                       return true;
                                                   }

                                                   std::string chunk (std::min<size_t> (65536, length - offset), ' ');

                                                   if (offset < body->size())
                                                       chunk.replace (0, std::min (chunk.size(), body->size() - offset),
                                                                      *body, offset, chunk.size());

                                                   if (sink.write (chunk.data(), chunk.size()))
                                                       return true;

                                                   ++cutOff;
                                                   ++ended;
                                                   return false;
                                               });
    };

    server->Get (".*", answer);
    server->Post (".*", answer);

    boundPort = server->bind_to_any_port ("127.0.0.1");

    if (boundPort <= 0)
        throw std::runtime_error ("cannot bind a loopback port");

    listener = listenInBackground (*server, "endless service");
}

EndlessReplyService::~EndlessReplyService()
{
    server->stop();
    listener.join();
}

juce::URL EndlessReplyService::baseURL() const
{
    return juce::URL (address ("/api/v1/"));
}

juce::String EndlessReplyService::address (const std::string& path) const
{
    return juce::String ("http://127.0.0.1:" + std::to_string (boundPort) + path);
}
