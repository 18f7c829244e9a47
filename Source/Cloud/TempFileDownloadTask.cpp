#include "TempFileDownloadTask.h"

#include <juce_events/juce_events.h>

#include <mutex>

class TempFileDownloadTask::Pimpl : private juce::URL::DownloadTask::Listener
{
public:
    Pimpl (juce::URL url, const juce::String& extraHeaders, FinishedCallback finishedCallback, ProgressCallback progressCallback)
        : tempFile (std::make_shared<juce::TemporaryFile>()),
          onFinished (std::move (finishedCallback)),
          onProgress (std::move (progressCallback))
    {
        {
            // The framework starts the download thread before it hands the task back:
            // finished() waits here so that the completion always carries the task.
            const std::lock_guard<std::mutex> lock (listenerMutex);
            task = url.downloadToFile (tempFile->getFile(),
                                       juce::URL::DownloadTaskOptions().withExtraHeaders (extraHeaders)
                                                                       .withListener (this));

            // The framework also hands back a task when no answer came at all (a refused
            // connection, an untrusted certificate): that download never started. Its status
            // was set on this thread, before the task's own thread began.
            if (task != nullptr && task->statusCode() <= 0)
                detached = true;
        }

        if (detached)
            task.reset();

        if (task == nullptr)
        {
            auto error = Cloud::Error::withConnectionError();
            onProgress (0.0f, &error);
        }
    }

    ~Pimpl() override
    {
        {
            // A finished() that comes after this posts nothing and touches nothing else;
            // one that came before has ended, and its completion holds its own references.
            const std::lock_guard<std::mutex> lock (listenerMutex);
            detached = true;
        }

        // When this holds the last reference, the framework stops its thread and waits for it.
        task.reset();
    }

    std::atomic<bool> completed { false };
    std::shared_ptr<juce::TemporaryFile> tempFile;
    std::shared_ptr<juce::URL::DownloadTask> task;
    FinishedCallback onFinished;
    ProgressCallback onProgress;

private:
    void finished (juce::URL::DownloadTask*, bool) override
    {
        const std::lock_guard<std::mutex> lock (listenerMutex);

        if (detached)
            return;

        // The receiver judges the outcome from the task: its error flag and status code.
        if (onFinished)
            juce::MessageManager::callAsync ([callback = onFinished, file = tempFile, download = task]
                                             {
                                                 callback (file, download);
                                             });

        completed.exchange (true);
    }

    void progress (juce::URL::DownloadTask*, juce::int64 downloaded, juce::int64 total) override
    {
        if (! onProgress)
            return;

        // The continuation keeps its own copy of the callback, so it may outlive this download.
        juce::MessageManager::callAsync ([callback = onProgress, downloaded, total]
                                         {
                                             callback ((float) downloaded / (float) total, nullptr);
                                         });
    }

    std::mutex listenerMutex;
    bool detached = false; // finished() is no longer wanted
};

TempFileDownloadTask::TempFileDownloadTask (juce::URL url, juce::String extraHeaders, FinishedCallback onFinished, ProgressCallback onProgress)
    : pimpl (std::make_unique<Pimpl> (std::move (url), extraHeaders, std::move (onFinished), std::move (onProgress)))
{
}

TempFileDownloadTask::TempFileDownloadTask (TempFileDownloadTask&&) noexcept = default;

TempFileDownloadTask& TempFileDownloadTask::operator= (TempFileDownloadTask&& other) noexcept
{
    if (this != &other)
    {
        pimpl.reset();
        pimpl = std::move (other.pimpl);
    }

    return *this;
}

TempFileDownloadTask::~TempFileDownloadTask() = default;

bool TempFileDownloadTask::isCompleted() const
{
    return pimpl->completed.load();
}
