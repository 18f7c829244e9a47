#include "Cloud/CloudStructs.h"
#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"
#include "Support/RawRequestRecorder.h"
#include "Support/ScopedThreadStartFailure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace
{
    const std::string unauthorizedLine = "Received status code: Unauthorized while notifying server of update";
    const std::string noStreamLine = "Couldn't open stream to notify server of firmware update";

    /** A local time as the service reads it, written here without the framework's help:
        date, time to the millisecond, then "Z" or the signed offset from UTC. */
    std::string isoLocalTime (juce::Time time)
    {
        const auto milliseconds = time.toMilliseconds();
        const auto seconds = (std::time_t) (milliseconds / 1000);
        std::tm local {};
        localtime_r (&seconds, &local);

        char text[64];
        std::strftime (text, sizeof (text), "%Y-%m-%dT%H:%M:%S", &local);
        std::string written = text;

        std::snprintf (text, sizeof (text), ".%03d", (int) (milliseconds % 1000));
        written += text;

        const auto offsetMinutes = (long) local.tm_gmtoff / 60;

        if (offsetMinutes == 0)
            return written + "Z";

        const auto magnitude = std::labs (offsetMinutes);
        std::snprintf (text, sizeof (text), "%c%02ld:%02ld", offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
        return written + text;
    }

    struct Report
    {
        UuidData id { { 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF } };
        std::string firmware = "2.1.0";
        std::string device = "1.6.3";
        juce::Time start { 2026, 9, 14, 10, 30, 5, 250, false };
        juce::Time end { 2026, 9, 14, 10, 32, 41, 7, false };
        bool success = false;

        /** The body the service should receive, written out by hand. */
        std::string expectedBody() const
        {
            std::string hexId;

            for (const auto byte : id.bytes)
            {
                char digits[3];
                std::snprintf (digits, sizeof (digits), "%02X", (unsigned) byte);
                hexId += digits;
            }

            return "{\r\n"
                   "  \"brand\": \"harvellon\",\r\n"
                   "  \"device\": {\r\n"
                   "    \"id\": \"" + hexId + "\",\r\n"
                   "    \"version\": \"" + device + "\"\r\n"
                   "  },\r\n"
                   "  \"family\": \"kestrova\",\r\n"
                   "  \"model\": \"kestrovalx\",\r\n"
                   "  \"result\": \"" + (success ? "SUCCESS" : "ERROR") + "\",\r\n"
                   "  \"time\": {\r\n"
                   "    \"end\": \"" + isoLocalTime (end) + "\",\r\n"
                   "    \"start\": \"" + isoLocalTime (start) + "\"\r\n"
                   "  },\r\n"
                   "  \"version\": \"" + firmware + "\"\r\n"
                   "}";
        }
    };
}

class UpdateReport : public CloudInterfaceFixture
{
protected:
    void send (const Report& report)
    {
        interface->notifyServerOfFirmwareUpdate (report.id, "harvellon", "kestrova", "kestrovalx",
                                                 Cloud::SemanticVersion (juce::String (report.firmware)),
                                                 Cloud::SemanticVersion (juce::String (report.device)),
                                                 report.start, report.end, report.success);
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
    EXPECT_EQ (reports[0].body, report.expectedBody());
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
