#pragma once

#include "CloudError.h"

#include <functional>
#include <memory>

/** Downloads one URL into a fresh temporary file and reports back on the message thread.

    Progress reports and, at the end, the temporary file together with the framework's
    finished download task are posted to the message thread; the task's error flag and
    status code tell how it went. A download that cannot start (the temporary file cannot
    be written, or the address gives no answer at all) is reported to the progress callback,
    with a connection error, before the constructor returns; it never completes.

    Construct, move and destroy it on the message thread only. Destroying a handle whose
    download is still running stops the download.
*/
class TempFileDownloadTask final
{
public:
    using FinishedCallback = std::function<void (std::shared_ptr<juce::TemporaryFile>,
                                                 std::shared_ptr<juce::URL::DownloadTask>)>;

    /** The error pointer is only valid during the call. */
    using ProgressCallback = std::function<void (float, Cloud::Error*)>;

    /** Starts the download; extraHeaders holds whole header lines. */
    TempFileDownloadTask (juce::URL url, juce::String extraHeaders, FinishedCallback onFinished, ProgressCallback onProgress);

    TempFileDownloadTask (TempFileDownloadTask&&) noexcept;
    TempFileDownloadTask& operator= (TempFileDownloadTask&&) noexcept;
    ~TempFileDownloadTask();

    /** True once the download has finished and its completion has been posted. */
    bool isCompleted() const;

private:
    class Pimpl;
    std::unique_ptr<Pimpl> pimpl;
};
