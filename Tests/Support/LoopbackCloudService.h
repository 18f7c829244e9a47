#pragma once

#include <juce_core/juce_core.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib
{
    class Server;
    struct Request;
    struct Response;
}

/** Where the client sends the service's three requests. */
struct CloudServicePaths
{
    static constexpr const char* challengePath = "/api/v1/auth/tokens";
    static constexpr const char* firmwareListPath = "/api/v1/firmware/harvellon/kestrova/kestrovalx";
    static constexpr const char* updateReportPath = "/api/v1/firmware/notify";
};

/** A stand-in for the firmware service, on 127.0.0.1 and a port that the system picks.

    It speaks the real handshake, computing every digest with OpenSSL rather than with the
    client's code, serves the firmware list, files and the update report, and records every
    request it receives. Any endpoint can be told to answer otherwise. Over HTTPS it presents
    a self-signed certificate made for the occasion, which a client must refuse.
*/
class LoopbackCloudService : public CloudServicePaths
{
public:
    enum class Transport { http, https };

    enum class Endpoint { challenge, clientResponse, firmwareList, updateReport };

    /** An answer given in place of the service's own. */
    struct Answer
    {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
    };

    /** How a served file travels: with its length; without one (chunked); cut off halfway
        through although its whole length was announced; or stalled halfway until the
        service goes. */
    enum class Delivery { withLength, withoutLength, cutShort, stalled };

    struct Request
    {
        std::string method;
        std::string path;   // without the query
        std::string target; // as sent, query included
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;

        /** The first header of that name, in any case, or an empty text. */
        std::string header (const std::string& name) const;
        size_t headerCount (const std::string& name) const;
    };

    /** The credentials the service knows its one client by: a UUID text, and 1024
        hexadecimal digits. */
    static constexpr const char* clientId = "3f2b8c1e-7d4a-4e59-9b6f-2a1c5d8e0f47";
    static const std::string& clientSecret();

    /** SHA-256, by OpenSSL, of the bytes a hexadecimal text stands for, in lower-case digits. */
    static std::string digestOfHex (const std::string& hex);

    explicit LoopbackCloudService (Transport transport = Transport::http);
    ~LoopbackCloudService();

    int port() const { return boundPort; }

    /** The API root on this service, ending in "/api/v1/". */
    juce::URL baseURL() const;

    /** The absolute address of a path (starting with '/') on this service. */
    juce::String address (const std::string& path) const;

    /** The bearer token the handshake grants. */
    std::string token() const { return grantedToken; }

    /** From now on the service knows its one client by these credentials instead. */
    void knowClient (std::string id, std::string secretHex);

    /** The JSON text served as the firmware list; "[]" until set. */
    void setFirmwareList (std::string json);

    /** Serves content at a path (starting with '/') to holders of the token. */
    void serveFile (const std::string& path, std::string content, Delivery delivery = Delivery::withLength);

    /** From now on the endpoint gives this answer instead of its own. */
    void answerWith (Endpoint endpoint, Answer answer);

    /** Lets a test alter each challenge after it is made and before it is sent. */
    void editChallenge (std::function<void (juce::var& challenge)> edit);

    /** Every request received so far, in order of arrival. */
    std::vector<Request> requests() const;

    /** From now on requests to the endpoint wait, unanswered, until releaseHeldAnswers()
        or the service's destruction. */
    void holdAnswers (Endpoint endpoint);

    /** Lets every waiting request have its answer, and holds no endpoint any more. */
    void releaseHeldAnswers();

    /** How many requests are waiting for their answer now. */
    int heldRequestCount() const;

private:
    struct ServedFile
    {
        std::string content;
        Delivery delivery;
    };

    void handle (const httplib::Request&, httplib::Response&);
    void answerChallenge (const httplib::Request&, httplib::Response&);
    void answerClientResponse (const std::string& challengeId, const httplib::Request&, httplib::Response&);
    bool holdsToken (const httplib::Request&) const;
    bool answerAsInjected (Endpoint, httplib::Response&);
    void waitWhileHeld (Endpoint);

    const std::string scheme;
    const std::string grantedToken;
    std::unique_ptr<httplib::Server> server;
    int boundPort = -1;
    std::thread listener;

    mutable std::mutex mutex;
    std::condition_variable stopping;
    bool stopped = false;
    std::vector<Request> received;
    std::map<Endpoint, Answer> injected;
    std::function<void (juce::var&)> challengeEdit;
    std::string knownClientId = clientId;
    std::string knownClientSecret = clientSecret();
    std::map<std::string, std::string> expectedResponses; // challenge id -> client response
    int challengesIssued = 0;
    std::string firmwareList = "[]";
    std::map<std::string, ServedFile> files;
    std::set<Endpoint> heldEndpoints;
    int heldRequests = 0;
};
