#pragma once

#include "CloudError.h"
#include "RemoteFirmware.h"
#include "Result.h"
#include "SynthId.h"
#include "TempFileDownloadTask.h"
#include "Utilities/LambdaThread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Cloud
{

/** The client of the firmware service.

    Every operation is called on the message thread and returns without waiting for the
    network: requests run on worker threads that the interface owns, and every answer comes
    back on the message thread, with no lock of the interface held, so an answer may call
    the interface again. Destroying the interface waits for the requests in flight; answers
    still waiting for an authentication are dropped, and nothing that the interface posted
    touches it once it has gone.
*/
class Interface final
{
public:
    using AuthenticationCallback = std::function<void (bool)>;
    using FirmwareListCallback = std::function<void (Result<std::vector<Remotefirmware>, Error>)>;

    /** The error is only valid during the call. */
    using DownloadProgressCallback = std::function<void (float, const Error*)>;

    /** No success flag: the download task's error flag and status code tell how it went. */
    using DownloadFinishedCallback = std::function<void (std::shared_ptr<juce::TemporaryFile>,
                                                         std::shared_ptr<juce::URL::DownloadTask>)>;

    /** Sends nothing yet. */
    Interface (const juce::String& clientId, const juce::String& clientSecret);
    ~Interface();

    /** Joins the authentication attempt in flight, or starts one; the callback later gets
        whether that attempt obtained a token. */
    void authenticate (AuthenticationCallback callback);

    /** Sends the report of one firmware update in the background, with whatever token is
        held now; its failures are only written to standard output. */
    void notifyServerOfFirmwareUpdate (UuidData deviceId,
                                       const juce::String& brand,
                                       const juce::String& family,
                                       const juce::String& model,
                                       const SemanticVersion& firmwareVersion,
                                       const SemanticVersion& deviceVersion,
                                       juce::Time start,
                                       juce::Time end,
                                       bool success);

    /** Fetches the releases, authenticating first when no token is held; the callback is
        called once with the list or the error. */
    void getAvailableFirmwareList (FirmwareListCallback callback);

    /** Downloads the record's file into a temporary file, authenticating first when no token
        is held. When the download cannot go ahead, only the progress callback hears of it,
        once, with an error; otherwise the completion is called once the download has ended,
        whether it succeeded or not. The record is not needed after the call. */
    void downloadFirmware (const Remotefirmware& record,
                           DownloadProgressCallback progress,
                           DownloadFinishedCallback completion);

    /** The connection time-out of the four service requests (handshake, list, report): one
        that cannot connect in this time, or that moves fewer than 100 bytes a second for this
        long (curl's measure, taken over its last few seconds), is given up and ends as a
        failed request. It is what the framework means by its default, which its curl back-end
        does not apply when asked for 0 (it then waits as long as a silent service likes). The
        download has none: juce::URL::downloadToFile takes no time-out. */
    static constexpr int requestTimeoutMs = 30000;

    /** The service's API root, compiled in; every endpoint but the token response and
        the download lies below it. */
    static const juce::URL baseURL;

    /** Runs the token handshake, blocking the calling thread: returns the bearer token,
        or the error of the first step that failed. Never call it on the message thread. */
    static Result<juce::String, Error> authenticate (const juce::String& clientId, juce::String clientSecret);

    /** Fetches the releases for the Kestrova LX, blocking the calling thread; elements
        that are not valid records are skipped. Never call it on the message thread. */
    static Result<std::vector<Remotefirmware>, Error> availableFirmwareList (const juce::String& token);

private:
    using Handshake = std::function<Result<juce::String, Error>()>;
    using Workers = std::vector<std::unique_ptr<LambdaThread>>;

    void joinAttempt (AuthenticationCallback callback, Handshake handshake);
    void runAttempt (const Handshake& handshake);
    void completeAuthentication();
    void removeFinishedThreads();
    void removeCompletedDownloads();

    /** Takes the ended workers out of the list; the caller holds the mutex and deletes them
        once it has let go of it. */
    Workers takeFinishedThreads();

    juce::String currentToken();
    void append (std::unique_ptr<LambdaThread> worker);

    /** baseURL, unless the test suite's loopback service, whose port is only known at
        run time, has put its own address in its place. */
    static const juce::URL& serviceAddress();

    const juce::String clientId;
    const juce::String clientSecret;
    Workers threads;
    std::vector<TempFileDownloadTask> downloads;
    juce::String token;
    std::mutex mutex;
    std::atomic<bool> authenticating { false };
    std::atomic<bool> authenticated { false };
    std::vector<AuthenticationCallback> authenticationCallbacks;

    // Lets the steps posted to the message thread find out that the interface has gone.
    juce::WeakReference<Interface>::Master masterReference;
    friend class juce::WeakReference<Interface>;

    static std::atomic<const juce::URL*> serviceAddressOverride;

    // Defined only in the test suite's support code: no other code can move the address.
    friend class ScopedServiceAddress;

    // Also defined only there: the tests' view of what the interface keeps to itself.
    friend class InterfaceInspector;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Interface)
};

} // namespace Cloud
