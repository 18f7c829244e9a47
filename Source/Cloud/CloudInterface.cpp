#include "CloudInterface.h"
#include "CloudServiceAddress.h"
#include "CloudStructs.h"
#include "CloudUtilities.h"
#include "ServiceKeys.h"
#include "Utilities/StandardOutput.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <optional>

namespace Cloud
{

const juce::URL Interface::baseURL { KESTROVA_CLOUD_URL };

std::atomic<const juce::URL*> Interface::serviceAddressOverride { nullptr };

const juce::URL& Interface::serviceAddress()
{
    if (auto* address = serviceAddressOverride.load())
        return *address;

    return baseURL;
}

namespace
{
    std::unique_ptr<juce::InputStream> openStream (const juce::URL& address, bool post, const juce::String& extraHeaders)
    {
        using Handling = juce::URL::ParameterHandling;

        return address.createInputStream (juce::URL::InputStreamOptions (post ? Handling::inPostData : Handling::inAddress)
                                              .withExtraHeaders (extraHeaders)
                                              .withConnectionTimeoutMs (Interface::requestTimeoutMs)
                                              .withNumRedirectsToFollow (5));
    }

    StatusCode statusOf (juce::InputStream& stream)
    {
        // Only a web address gives a web stream; anything else has no status to show.
        if (auto* web = dynamic_cast<juce::WebInputStream*> (&stream))
            return web->getStatusCode();

        return 0;
    }

    Result<ClientTokenGenerationChallenge, Error> requestChallenge (const juce::URL& service, const juce::String& clientId)
    {
        using ChallengeResult = Result<ClientTokenGenerationChallenge, Error>;

        const auto address = service.getChildURL ("auth/tokens").withPOSTData (Utilities::jsonFrom ("client", clientId));
        const auto stream = openStream (address, true, {});

        if (stream == nullptr)
            return ChallengeResult::withError (Error::withConnectionError());

        const auto status = statusOf (*stream);

        if (! status.successful())
            return ChallengeResult::withError (status);

        return ClientTokenGenerationChallenge::fromJson (Utilities::parseReplyBody (*stream));
    }

    /** A token goes into a header line as it is, so it must not be able to end that line
        or start another one. */
    bool holdsControlCharacter (const juce::String& token)
    {
        for (auto next = token.getCharPointer(); ! next.isEmpty();)
        {
            const auto character = next.getAndAdvance();

            if (character < 0x20 || character == 0x7f)
                return true;
        }

        return false;
    }
}

Result<juce::String, Error> Interface::authenticate (const juce::String& clientId, juce::String clientSecret)
{
    using TokenResult = Result<juce::String, Error>;

    const auto challengeAnswer = requestChallenge (serviceAddress(), clientId);

    if (! challengeAnswer.isOk())
        return TokenResult::withError (challengeAnswer.getError());

    const auto& challenge = challengeAnswer.getResult();

    // A service that cannot show it knows the secret never gets the client's response.
    if (! challenge.isValid (clientSecret))
        return TokenResult::withError (Error::withServerAuthentication());

    const auto clientResponse = Utilities::sha256OfHex (clientSecret + challenge.salt);
    const auto stream = openStream (challenge.responsePath.withPOSTData (Utilities::jsonFrom ("clientResponse", clientResponse)),
                                    true, {});

    if (stream == nullptr)
        return TokenResult::withError (Error::withConnectionError());

    // The status is not judged: the body alone says whether a token was granted.
    const auto token = Utilities::parseReplyBody (*stream)["token"];

    if (! token.isString() || holdsControlCharacter (token.toString()))
        return TokenResult::withError (Error::withParseError ("Couldn't parse token response"));

    return TokenResult::withResult (token.toString());
}

Result<std::vector<Remotefirmware>, Error> Interface::availableFirmwareList (const juce::String& token)
{
    using ListResult = Result<std::vector<Remotefirmware>, Error>;

    const auto address = serviceAddress().getChildURL (juce::String ("firmware/") + ServiceKeys::brand + "/"
                                                        + ServiceKeys::family + "/" + ServiceKeys::model);
    const auto stream = openStream (address, false, "Authorization: Bearer " + token);

    if (stream == nullptr)
        return ListResult::withError (Error::withConnectionError());

    const auto status = statusOf (*stream);

    if (! status.successful())
        return ListResult::withError (status);

    const auto json = Utilities::parseReplyBody (*stream);

    if (! json.isArray())
        return ListResult::withError (Error::withParseError ("Couldn't parse firmware list"));

    std::vector<Remotefirmware> records;

    for (const auto& element : *json.getArray())
    {
        const auto record = Remotefirmware::fromJson (element);

        if (record.isOk())
            records.push_back (record.getResult());
    }

    return ListResult::withResult (std::move (records));
}

//==============================================================================
namespace
{
    using ListResult = Result<std::vector<Remotefirmware>, Error>;

    /** Runs a step of the interface on the message thread, unless the interface has gone by then. */
    void postStep (juce::WeakReference<Interface> interface, void (Interface::*step)())
    {
        juce::MessageManager::callAsync ([interface, step]
                                         {
                                             if (auto* alive = interface.get())
                                                 (alive->*step)();
                                         });
    }

    void sendReport (const juce::URL& address, const juce::String& headers)
    {
        const auto stream = openStream (address, true, headers);

        if (stream == nullptr)
        {
            writeToStandardOutput ("Couldn't open stream to notify server of firmware update");
            return;
        }

        const auto status = statusOf (*stream);

        // The answer is read, as far as the limit of a reply, and dropped.
        if (status.successful())
            Utilities::readReplyBody (*stream);
        else
            writeToStandardOutput ("Received status code: " + status.description() + " while notifying server of update");
    }
}

Interface::Interface (const juce::String& id, const juce::String& secret)
    : clientId (id),
      clientSecret (secret)
{
}

Interface::~Interface()
{
    // The steps that the workers posted, or post while this waits for them, find no interface.
    masterReference.clear();

    Workers workers;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        workers.swap (threads);
    }

    // Each waits, without a time limit, for its request to end; the lock is free meanwhile,
    // so an attempt that ends now still stores its token.
    for (auto& worker : workers)
        worker.reset();
}

void Interface::authenticate (AuthenticationCallback callback)
{
    joinAttempt (std::move (callback), [this] { return authenticate (clientId, clientSecret); });
}

void Interface::joinAttempt (AuthenticationCallback callback, Handshake handshake)
{
    std::unique_ptr<LambdaThread> unstarted;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (! authenticating)
        {
            authenticating = true;

            auto attempt = std::make_unique<LambdaThread> ("AuthenticationThread",
                                                           [this, handshake = std::move (handshake)] (juce::Thread&) { runAttempt (handshake); },
                                                           [self = juce::WeakReference<Interface> (this)] (juce::Thread&)
                                                           {
                                                               postStep (self, &Interface::completeAuthentication);
                                                           },
                                                           0);

            if (attempt->startThread())
                threads.push_back (std::move (attempt));
            else
                unstarted = std::move (attempt);
        }

        authenticationCallbacks.push_back (std::move (callback));
    }

    if (unstarted != nullptr)
    {
        // Without its thread the attempt ends as failed, rather than leaving this caller,
        // and every later one, queued for ever.
        authenticated = false;
        postStep (this, &Interface::completeAuthentication);
    }
}

void Interface::runAttempt (const Handshake& handshake)
{
    std::optional<juce::String> obtained;

    try
    {
        const auto result = handshake();

        if (result.isOk())
            obtained = result.getResult();
    }
    catch (...)
    {
        // Ends as failed: the callers waiting for it still get their answer.
    }

    authenticated = obtained.has_value();

    if (obtained.has_value())
    {
        const std::lock_guard<std::mutex> lock (mutex);
        token = *obtained;
    }
}

void Interface::completeAuthentication()
{
    std::vector<AuthenticationCallback> waiting;
    Workers ended;
    bool succeeded = false;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        waiting.swap (authenticationCallbacks);
        succeeded = authenticated;
        authenticating = false;
        ended = takeFinishedThreads();
    }

    // Deleted without the lock, as what their functions held may call back into the interface.
    ended.clear();

    // The state is reset first, so an answer may start a new attempt with a queue of its own.
    for (auto& callback : waiting)
        callback (succeeded);
}

void Interface::removeFinishedThreads()
{
    Workers ended;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        ended = takeFinishedThreads();
    }

    // The ended workers are deleted here, once the lock is free.
}

Interface::Workers Interface::takeFinishedThreads()
{
    Workers running, ended;

    for (auto& worker : threads)
        (worker->isThreadRunning() ? running : ended).push_back (std::move (worker));

    threads = std::move (running);
    return ended;
}

juce::String Interface::currentToken()
{
    const std::lock_guard<std::mutex> lock (mutex);
    return token;
}

void Interface::append (std::unique_ptr<LambdaThread> worker)
{
    const std::lock_guard<std::mutex> lock (mutex);
    threads.push_back (std::move (worker));
}

void Interface::notifyServerOfFirmwareUpdate (UuidData deviceId,
                                              const juce::String& brand,
                                              const juce::String& family,
                                              const juce::String& model,
                                              const SemanticVersion& firmwareVersion,
                                              const SemanticVersion& deviceVersion,
                                              juce::Time start,
                                              juce::Time end,
                                              bool success)
{
    const UpdateNotify report (deviceId, brand, family, model, firmwareVersion, deviceVersion, start, end, success);
    const auto address = serviceAddress().getChildURL ("firmware/notify").withPOSTData (report.json);
    const auto headers = "content-type: application/json\nAuthorization: Bearer " + currentToken();

    auto worker = std::make_unique<LambdaThread> ("UpdateNotify Thread",
                                                  [address, headers] (juce::Thread&) { sendReport (address, headers); },
                                                  [self = juce::WeakReference<Interface> (this)] (juce::Thread&)
                                                  {
                                                      postStep (self, &Interface::removeFinishedThreads);
                                                  },
                                                  0);

    if (! worker->startThread())
    {
        // Without its thread the report cannot go out, which is told as for a lost connection.
        writeToStandardOutput ("Couldn't open stream to notify server of firmware update");
        return;
    }

    append (std::move (worker));
}

void Interface::getAvailableFirmwareList (FirmwareListCallback callback)
{
    if (currentToken().isEmpty())
    {
        authenticate ([self = juce::WeakReference<Interface> (this), callback] (bool succeeded)
                      {
                          auto* interface = self.get();

                          if (interface == nullptr)
                              return;

                          // A service that grants an empty token would otherwise send this round for ever.
                          if (succeeded && interface->currentToken().isNotEmpty())
                              interface->getAvailableFirmwareList (callback);
                          else
                              callback (ListResult::withError (Error::withServerAuthentication()));
                      });
        return;
    }

    auto worker = std::make_unique<LambdaThread> ("CheckAvailableFirmware",
                                                  [this, callback] (juce::Thread&)
                                                  {
                                                      auto result = availableFirmwareList (currentToken());
                                                      juce::MessageManager::callAsync ([callback, result = std::move (result)] { callback (result); });
                                                  },
                                                  [self = juce::WeakReference<Interface> (this)] (juce::Thread&)
                                                  {
                                                      postStep (self, &Interface::removeFinishedThreads);
                                                  },
                                                  0);

    if (! worker->startThread())
    {
        // Without its thread the request cannot go out; the caller still gets an answer.
        juce::MessageManager::callAsync ([callback] { callback (ListResult::withError (Error::withConnectionError())); });
        return;
    }

    append (std::move (worker));
}

void Interface::downloadFirmware (const Remotefirmware& record,
                                  DownloadProgressCallback progress,
                                  DownloadFinishedCallback completion)
{
    const auto bearer = currentToken();

    if (bearer.isEmpty())
    {
        authenticate ([progress, self = juce::WeakReference<Interface> (this), record, completion] (bool succeeded)
                      {
                          auto* interface = self.get();

                          if (interface == nullptr)
                              return;

                          // A service that grants an empty token would otherwise send this round for ever.
                          if (succeeded && interface->currentToken().isNotEmpty())
                          {
                              interface->downloadFirmware (record, progress, completion);
                              return;
                          }

                          juce::MessageManager::callAsync ([progress]
                                                           {
                                                               const auto error = Error::withServerAuthentication();
                                                               progress (0.0f, &error);
                                                           });
                      });
        return;
    }

    auto wrapper = [completion, self = juce::WeakReference<Interface> (this)] (std::shared_ptr<juce::TemporaryFile> file,
                                                                              std::shared_ptr<juce::URL::DownloadTask> task)
    {
        completion (file, task);

        // Not before: the completion may run a modal loop in which other downloads end.
        if (auto* interface = self.get())
            interface->removeCompletedDownloads();
    };

    TempFileDownloadTask::ProgressCallback adapter;

    if (progress)
        adapter = [progress] (float fraction, Error* error) { progress (fraction, error); };

    // A download that cannot start has told the progress callback so by now, and stays listed.
    TempFileDownloadTask download (record.binary, "Authorization: Bearer " + bearer, std::move (wrapper), std::move (adapter));
    downloads.push_back (std::move (download));
}

void Interface::removeCompletedDownloads()
{
    downloads.erase (std::remove_if (downloads.begin(), downloads.end(),
                                     [] (const TempFileDownloadTask& download) { return download.isCompleted(); }),
                     downloads.end());
}

} // namespace Cloud
