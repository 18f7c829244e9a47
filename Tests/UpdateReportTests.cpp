#include "Cloud/CloudStructs.h"
#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"
#include "Support/RawRequestRecorder.h"
#include "Support/ScopedThreadStartFailure.h"

#include <gtest/gtest.h>

namespace
{
    const std::string unauthorizedLine = "Received status code: Unauthorized while notifying server of update";
    const std::string noStreamLine = "Couldn't open stream to notify server of firmware update";

    struct Report
    {
        UuidData id { { 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF } };
        Cloud::SemanticVersion firmware { "2.1.0" };
        Cloud::SemanticVersion device { "1.6.3" };
        juce::Time start { 2026, 9, 14, 10, 30, 5, 250, false };
        juce::Time end { 2026, 9, 14, 10, 32, 41, 7, false };
        bool success = false;

        juce::String json() const
        {
            return Cloud::UpdateNotify (id, "harvellon", "kestrova", "kestrovalx", firmware, device, start, end, success).json;
        }
    };
}

class UpdateReport : public CloudInterfaceFixture
{
protected:
    void send (const Report& report)
    {
        interface->notifyServerOfFirmwareUpdate (report.id, "harvellon", "kestrova", "kestrovalx",
                                                 report.firmware, report.device, report.start, report.end, report.success);
    }

    /** Sends the requests that start from now on through the recorder; call it while
        no request is running, and keep the recorder until every request has ended. */
    void sendThrough (const RawRequestRecorder& recorder)
    {
        serviceAddress.reset();
        serviceAddress.emplace (recorder.baseURL());
    }

    std::vector<std::string> authorizationLinesSentTo (const RawRequestRecorder& recorder) const
    {
        return recorder.headerLines (updateReportPath, "Authorization");
    }

    /** Sends a report and gives what it wrote once its thread has ended. */
    std::string sendAndCapture (const Report& report = {})
    {
        CapturedStandardOutput output;
        send (report);
        EXPECT_TRUE (waitForWorkers());
        return output.take();
    }
};

TEST_F (UpdateReport, BeforeAnyAuthenticationItGoesOutAtOnceWithTheBearerAlone)
{
    const RawRequestRecorder recorder (service.baseURL().getPort());
    sendThrough (recorder);

    Report report;
    report.success = true;
    const auto written = sendAndCapture (report);

    EXPECT_EQ (challengeCount(), 0u) << "a report never authenticates";

    const auto reports = requestsTo (updateReportPath);
    ASSERT_EQ (reports.size(), 1u);
    EXPECT_EQ (reports[0].method, "POST");
    EXPECT_EQ (reports[0].target, updateReportPath);
    EXPECT_EQ (reports[0].body, report.json().toStdString());
    EXPECT_EQ (reports[0].headerCount ("Content-Type"), 1u);
    EXPECT_EQ (reports[0].header ("Content-Type"), "application/json");
    EXPECT_EQ (authorizationLinesSentTo (recorder), std::vector<std::string> { "Authorization: Bearer " });

    // The service refuses a report without its token; that is only written out.
    EXPECT_EQ (written, unauthorizedLine);
}

TEST_F (UpdateReport, CarriesTheTokenHeldAndWritesNothingWhenAccepted)
{
    ASSERT_TRUE (authenticateNow());

    const auto written = sendAndCapture();

    const auto reports = requestsTo (updateReportPath);
    ASSERT_EQ (reports.size(), 1u);
    EXPECT_EQ (reports[0].header ("Authorization"), "Bearer " + service.token());
    EXPECT_EQ (written, "");
}

TEST_F (UpdateReport, AnUnsuccessfulStatusIsWrittenWithItsReasonPhraseWithoutALineEnd)
{
    service.answerWith (Endpoint::updateReport, { 401, R"({"error": "expired"})" });
    EXPECT_EQ (sendAndCapture(), unauthorizedLine);

    // A status outside the status table has no reason phrase, and counts as unsuccessful.
    service.answerWith (Endpoint::updateReport, { 209, "{}" });
    EXPECT_EQ (sendAndCapture(), "Received status code:  while notifying server of update");
}

TEST_F (UpdateReport, AServiceThatCannotBeReachedIsWrittenOut)
{
    pointAtNoService();
    EXPECT_EQ (sendAndCapture(), noStreamLine);
}

TEST_F (UpdateReport, DoesNotWaitForAnAttemptInFlightAndCarriesTheTokenHeldThen)
{
    const RawRequestRecorder recorder (service.baseURL().getPort());
    sendThrough (recorder);

    service.holdAnswers (Endpoint::challenge);
    interface->authenticate ([] (bool) {});
    ASSERT_TRUE (waitWithoutMessages ([this] { return service.heldRequestCount() == 1; }));

    CapturedStandardOutput output;
    send ({});
    ASSERT_TRUE (waitWithoutMessages ([this] { return requestsTo (updateReportPath).size() == 1; }));
    EXPECT_EQ (authorizationLinesSentTo (recorder), std::vector<std::string> { "Authorization: Bearer " });

    service.releaseHeldAnswers();
    ASSERT_TRUE (waitForWorkers());
    EXPECT_EQ (output.take(), unauthorizedLine);
}

TEST_F (UpdateReport, TwoReportsRunSideBySide)
{
    service.answerWith (Endpoint::updateReport, { 503, "{}" });
    service.holdAnswers (Endpoint::updateReport);

    CapturedStandardOutput output;
    send ({});
    send ({});

    // Both are at the service, unanswered, at the same time.
    ASSERT_TRUE (waitWithoutMessages ([this] { return service.heldRequestCount() == 2; }));
    EXPECT_EQ (Inspector::countWorkers (*interface, "UpdateNotify Thread"), 2);
    EXPECT_EQ (Inspector::countRunningWorkers (*interface), 2);

    service.releaseHeldAnswers();
    ASSERT_TRUE (waitForWorkers());

    const std::string line = "Received status code: Service Unavailable while notifying server of update";
    EXPECT_EQ (output.take(), line + line);
}

TEST_F (UpdateReport, AReportWhoseThreadCannotStartIsWrittenOutAsUnsent)
{
    CapturedStandardOutput output;

    {
        const ScopedThreadStartFailure noThreads;
        send ({});
    }

    EXPECT_EQ (output.take(), noStreamLine);
    EXPECT_TRUE (Inspector::workers (*interface).empty());
    drainMessages();
    EXPECT_TRUE (service.requests().empty());
}
