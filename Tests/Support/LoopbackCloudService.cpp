#include "LoopbackCloudService.h"

#include "ServerListening.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace
{
    std::string toHex (const unsigned char* bytes, size_t size)
    {
        static constexpr char digits[] = "0123456789abcdef";
        std::string hex;

        for (size_t i = 0; i < size; ++i)
        {
            hex += digits[bytes[i] >> 4];
            hex += digits[bytes[i] & 0x0f];
        }

        return hex;
    }

    std::vector<unsigned char> fromHex (const std::string& hex)
    {
        const auto nibble = [] (char c) { return std::isdigit ((unsigned char) c) ? c - '0' : std::tolower ((unsigned char) c) - 'a' + 10; };
        std::vector<unsigned char> bytes;

        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back ((unsigned char) (nibble (hex[i]) * 16 + nibble (hex[i + 1])));

        return bytes;
    }

    std::string randomHex (size_t byteCount)
    {
        std::vector<unsigned char> bytes (byteCount);

        if (RAND_bytes (bytes.data(), (int) byteCount) != 1)
            throw std::runtime_error ("no random bytes");

        return toHex (bytes.data(), bytes.size());
    }

    std::string makeClientSecret()
    {
        std::vector<unsigned char> bytes (512);

        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = (unsigned char) (i * 37 + 11);

        return toHex (bytes.data(), bytes.size());
    }

    std::string toStd (const juce::String& text) { return text.toStdString(); }

    juce::String jsonText (const juce::var& value) { return juce::JSON::toString (value, true); }

    /** A throwaway key and a self-signed certificate for 127.0.0.1, valid for an hour. */
    std::unique_ptr<httplib::Server> makeTlsServer()
    {
        std::unique_ptr<EVP_PKEY, decltype (&EVP_PKEY_free)> key (EVP_EC_gen ("P-256"), &EVP_PKEY_free);
        std::unique_ptr<X509, decltype (&X509_free)> cert (X509_new(), &X509_free);

        if (key == nullptr || cert == nullptr)
            throw std::runtime_error ("cannot make a key or a certificate");

        X509_set_version (cert.get(), 2);
        ASN1_INTEGER_set (X509_get_serialNumber (cert.get()), 1);
        X509_gmtime_adj (X509_getm_notBefore (cert.get()), -3600);
        X509_gmtime_adj (X509_getm_notAfter (cert.get()), 3600);
        X509_set_pubkey (cert.get(), key.get());

        auto* name = X509_get_subject_name (cert.get());
        X509_NAME_add_entry_by_txt (name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*> ("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name (cert.get(), name);

        // The name matches, so that trust is the only thing a client can object to.
        X509V3_CTX context;
        X509V3_set_ctx_nodb (&context);
        X509V3_set_ctx (&context, cert.get(), cert.get(), nullptr, nullptr, 0);
        std::unique_ptr<X509_EXTENSION, decltype (&X509_EXTENSION_free)>
            altName (X509V3_EXT_conf_nid (nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1"), &X509_EXTENSION_free);

        if (altName == nullptr || X509_add_ext (cert.get(), altName.get(), -1) != 1
            || X509_sign (cert.get(), key.get(), EVP_sha256()) == 0)
            throw std::runtime_error ("cannot sign the certificate");

        // The server takes its own references to both.
        auto server = std::make_unique<httplib::SSLServer> (cert.get(), key.get());

        if (! server->is_valid())
            throw std::runtime_error ("cannot set up TLS");

        return server;
    }

    bool isPseudoHeader (const std::string& name)
    {
        return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
    }

    bool sameName (const std::string& a, const std::string& b)
    {
        return a.size() == b.size()
            && std::equal (a.begin(), a.end(), b.begin(),
                           [] (char x, char y) { return std::tolower ((unsigned char) x) == std::tolower ((unsigned char) y); });
    }

    const std::string apiRoot = "/api/v1/";

    /** The challenge number in a path of the form /api/v1/auth/tokens/<number>/response, or an empty text. */
    std::string challengeIdIn (const std::string& path)
    {
        const auto prefix = std::string (LoopbackCloudService::challengePath) + "/";
        const std::string suffix = "/response";

        if (path.size() <= prefix.size() + suffix.size() || path.compare (0, prefix.size(), prefix) != 0
            || path.compare (path.size() - suffix.size(), suffix.size(), suffix) != 0)
            return {};

        const auto id = path.substr (prefix.size(), path.size() - prefix.size() - suffix.size());
        return std::all_of (id.begin(), id.end(), [] (char c) { return std::isdigit ((unsigned char) c) != 0; }) ? id : std::string();
    }
}

const std::string& LoopbackCloudService::clientSecret()
{
    static const auto secret = makeClientSecret();
    return secret;
}

std::string LoopbackCloudService::digestOfHex (const std::string& hex)
{
    const auto bytes = fromHex (hex);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;

    if (EVP_Digest (bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error ("SHA-256 failed");

    return toHex (digest, size);
}

std::string LoopbackCloudService::Request::header (const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (sameName (key, name))
            return value;

    return {};
}

size_t LoopbackCloudService::Request::headerCount (const std::string& name) const
{
    return (size_t) std::count_if (headers.begin(), headers.end(), [&name] (const auto& h) { return sameName (h.first, name); });
}

LoopbackCloudService::LoopbackCloudService (Transport transport)
    : scheme (transport == Transport::https ? "https" : "http"),
      grantedToken ("loopback-" + randomHex (16)),
      server (transport == Transport::https ? makeTlsServer() : std::make_unique<httplib::Server>())
{
    server->set_keep_alive_timeout (1);
    server->Get (".*", [this] (const httplib::Request& request, httplib::Response& response) { handle (request, response); });
    server->Post (".*", [this] (const httplib::Request& request, httplib::Response& response) { handle (request, response); });

    boundPort = server->bind_to_any_port ("127.0.0.1");

    if (boundPort <= 0)
        throw std::runtime_error ("cannot bind a loopback port");

    // The server would start its pool's threads on the listening thread, after it counts as
    // running; started here, they are all up once the constructor returns, so that a test
    // may then keep new threads from starting.
    auto* pool = new httplib::ThreadPool (CPPHTTPLIB_THREAD_POOL_COUNT);
    server->new_task_queue = [pool] { return pool; };

    listener = listenInBackground (*server, "loopback service");
}

LoopbackCloudService::~LoopbackCloudService()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopped = true;
    }

    stopping.notify_all();
    server->stop();
    listener.join();
}

juce::URL LoopbackCloudService::baseURL() const
{
    return juce::URL (address (apiRoot));
}

juce::String LoopbackCloudService::address (const std::string& path) const
{
    return juce::String (scheme + "://127.0.0.1:" + std::to_string (boundPort) + path);
}

void LoopbackCloudService::knowClient (std::string id, std::string secretHex)
{
    const std::lock_guard<std::mutex> lock (mutex);
    knownClientId = std::move (id);
    knownClientSecret = std::move (secretHex);
}

void LoopbackCloudService::setFirmwareList (std::string json)
{
    const std::lock_guard<std::mutex> lock (mutex);
    firmwareList = std::move (json);
}

void LoopbackCloudService::serveFile (const std::string& path, std::string content, Delivery delivery)
{
    const std::lock_guard<std::mutex> lock (mutex);
    files[path] = { std::move (content), delivery };
}

void LoopbackCloudService::answerWith (Endpoint endpoint, Answer answer)
{
    const std::lock_guard<std::mutex> lock (mutex);
    injected[endpoint] = std::move (answer);
}

void LoopbackCloudService::editChallenge (std::function<void (juce::var&)> edit)
{
    const std::lock_guard<std::mutex> lock (mutex);
    challengeEdit = std::move (edit);
}

std::vector<LoopbackCloudService::Request> LoopbackCloudService::requests() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return received;
}

void LoopbackCloudService::holdAnswers (Endpoint endpoint)
{
    const std::lock_guard<std::mutex> lock (mutex);
    heldEndpoints.insert (endpoint);
}

void LoopbackCloudService::releaseHeldAnswers()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        heldEndpoints.clear();
    }

    // The same condition that the service's end is told by: waiting requests look again.
    stopping.notify_all();
}

int LoopbackCloudService::heldRequestCount() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return heldRequests;
}

void LoopbackCloudService::waitWhileHeld (Endpoint endpoint)
{
    std::unique_lock<std::mutex> lock (mutex);

    if (heldEndpoints.count (endpoint) == 0)
        return;

    ++heldRequests;
    stopping.wait (lock, [this, endpoint] { return stopped || heldEndpoints.count (endpoint) == 0; });
    --heldRequests;
}

void LoopbackCloudService::handle (const httplib::Request& request, httplib::Response& response)
{
    {
        Request record { request.method, request.path, request.target, request.body, {} };

        for (const auto& [name, value] : request.headers)
            if (! isPseudoHeader (name))
                record.headers.emplace_back (name, value);

        const std::lock_guard<std::mutex> lock (mutex);
        received.push_back (std::move (record));
    }

    const auto challengeId = challengeIdIn (request.path);

    if (request.method == "POST" && request.path == challengePath)
    {
        waitWhileHeld (Endpoint::challenge);

        if (! answerAsInjected (Endpoint::challenge, response))
            answerChallenge (request, response);
    }
    else if (request.method == "POST" && ! challengeId.empty())
    {
        waitWhileHeld (Endpoint::clientResponse);

        if (! answerAsInjected (Endpoint::clientResponse, response))
            answerClientResponse (challengeId, request, response);
    }
    else if (request.method == "GET" && request.path == firmwareListPath)
    {
        waitWhileHeld (Endpoint::firmwareList);

        if (answerAsInjected (Endpoint::firmwareList, response))
            return;

        if (! holdsToken (request))
        {
            response.status = 401;
            response.set_content (R"({"error": "unknown token"})", "application/json");
            return;
        }

        const std::lock_guard<std::mutex> lock (mutex);
        response.set_content (firmwareList, "application/json");
    }
    else if (request.method == "POST" && request.path == updateReportPath)
    {
        waitWhileHeld (Endpoint::updateReport);

        if (answerAsInjected (Endpoint::updateReport, response))
            return;

        response.status = holdsToken (request) ? 200 : 401;
        response.set_content ("{}", "application/json");
    }
    else if (request.method == "GET")
    {
        ServedFile file;

        {
            const std::lock_guard<std::mutex> lock (mutex);
            const auto found = files.find (request.path);

            if (found == files.end())
            {
                response.status = 404;
                response.set_content ("no such file", "text/plain");
                return;
            }

            file = found->second;
        }

        if (! holdsToken (request))
        {
            response.status = 401;
            response.set_content ("unknown token", "text/plain");
            return;
        }

        const auto content = std::make_shared<std::string> (std::move (file.content));

        switch (file.delivery)
        {
            case Delivery::withLength:
                response.set_content (*content, "application/octet-stream");
                break;

            case Delivery::withoutLength:
                response.set_chunked_content_provider ("application/octet-stream",
                                                       [content] (size_t offset, httplib::DataSink& sink)
                                                       {
                                                           const auto size = std::min<size_t> (4096, content->size() - offset);

                                                           if (size > 0)
                                                               sink.write (content->data() + offset, size);

                                                           if (offset + size == content->size())
                                                               sink.done();

                                                           return true;
                                                       });
                break;

            case Delivery::cutShort:
                // Announces the whole length, sends half, then gives up on the connection.
                response.set_content_provider (content->size(), "application/octet-stream",
                                               [content] (size_t offset, size_t, httplib::DataSink& sink)
                                               {
                                                   if (offset >= content->size() / 2)
                                                       return false;

                                                   sink.write (content->data() + offset, content->size() / 2 - offset);
                                                   return true;
                                               });
                break;

            case Delivery::stalled:
                response.set_content_provider (content->size(), "application/octet-stream",
                                               [this, content] (size_t offset, size_t, httplib::DataSink& sink)
                                               {
                                                   if (offset == 0)
                                                   {
                                                       sink.write (content->data(), content->size() / 2);
                                                       return true;
                                                   }

                                                   std::unique_lock<std::mutex> lock (mutex);
                                                   stopping.wait (lock, [this] { return stopped; });
                                                   return false;
                                               });
                break;
        }
    }
    else
    {
        response.status = 404;
        response.set_content ("no such endpoint", "text/plain");
    }
}

void LoopbackCloudService::answerChallenge (const httplib::Request& request, httplib::Response& response)
{
    std::string knownId, secret;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        knownId = knownClientId;
        secret = knownClientSecret;
    }

    if (toStd (juce::JSON::parse (juce::String (request.body))["client"].toString()) != knownId)
    {
        response.status = 401;
        response.set_content (R"({"error": "unknown client"})", "application/json");
        return;
    }

    const auto proofSalt = randomHex (16);
    const auto salt = randomHex (16);

    juce::DynamicObject::Ptr client = new juce::DynamicObject();
    client->setProperty ("proof", juce::String (digestOfHex (secret + proofSalt)));
    client->setProperty ("proofSalt", juce::String (proofSalt));
    client->setProperty ("salt", juce::String (salt));

    juce::DynamicObject::Ptr challenge = new juce::DynamicObject();
    juce::var json (challenge.get());

    {
        // The edit runs under the lock, so that a test may read what it captured
        // once it has taken the record.
        const std::lock_guard<std::mutex> lock (mutex);
        const auto id = std::to_string (++challengesIssued);
        expectedResponses[id] = digestOfHex (secret + salt);
        challenge->setProperty ("responsePath", address (challengePath + ("/" + id) + "/response"));
        challenge->setProperty ("client", client.get());

        if (challengeEdit)
            challengeEdit (json);
    }

    response.status = 201;
    response.set_content (toStd (jsonText (json)), "application/json");
}

void LoopbackCloudService::answerClientResponse (const std::string& challengeId, const httplib::Request& request, httplib::Response& response)
{
    const auto clientResponse = toStd (juce::JSON::parse (juce::String (request.body))["clientResponse"].toString());
    bool accepted = false;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        const auto expected = expectedResponses.find (challengeId);
        accepted = expected != expectedResponses.end() && expected->second == clientResponse;
    }

    if (! accepted)
    {
        response.status = 401;
        response.set_content (R"({"error": "wrong client response"})", "application/json");
        return;
    }

    juce::DynamicObject::Ptr answer = new juce::DynamicObject();
    answer->setProperty ("token", juce::String (grantedToken));
    response.set_content (toStd (jsonText (juce::var (answer.get()))), "application/json");
}

bool LoopbackCloudService::holdsToken (const httplib::Request& request) const
{
    return request.get_header_value_count ("Authorization") == 1
        && request.get_header_value ("Authorization") == "Bearer " + grantedToken;
}

bool LoopbackCloudService::answerAsInjected (Endpoint endpoint, httplib::Response& response)
{
    const std::lock_guard<std::mutex> lock (mutex);
    const auto found = injected.find (endpoint);

    if (found == injected.end())
        return false;

    response.status = found->second.status;
    response.set_content (found->second.body, found->second.contentType);
    return true;
}
