#include "Cloud/CloudStructs.h"
#include "Support/TimeZoneFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
    struct Case
    {
        const char* zone;          // a POSIX TZ text: the offset is the one to add to local time to get UTC
        juce::int64 startMillis;   // since 1970 in UTC
        juce::int64 endMillis;
        const char* start;         // as the report must write them
        const char* end;
    };

    // 2026-09-14T10:30:05.250Z and 2026-09-14T10:32:41.007Z; 2025-12-31T23:50:00.000Z and 2026-01-01T00:10:00.000Z.
    constexpr juce::int64 septemberStart = 1789381805250, septemberEnd = 1789381961007;
    constexpr juce::int64 newYearStart = 1767225000000, newYearEnd = 1767226200000;

    const Case cases[] = {
        { "XYZ+0:30", septemberStart, septemberEnd, "2026-09-14T10:00:05.250-00:30", "2026-09-14T10:02:41.007-00:30" },
        { "UTC0", septemberStart, septemberEnd, "2026-09-14T10:30:05.250Z", "2026-09-14T10:32:41.007Z" },
        { "IST-5:30", septemberStart, septemberEnd, "2026-09-14T16:00:05.250+05:30", "2026-09-14T16:02:41.007+05:30" },
        { "XYZ+5:30", septemberStart, septemberEnd, "2026-09-14T05:00:05.250-05:30", "2026-09-14T05:02:41.007-05:30" },
        { "XYZ+0:01", septemberStart, septemberEnd, "2026-09-14T10:29:05.250-00:01", "2026-09-14T10:31:41.007-00:01" },
        { "XYZ-0:45", newYearStart, newYearEnd, "2026-01-01T00:35:00.000+00:45", "2026-01-01T00:55:00.000+00:45" },
        { "XYZ+0:30", newYearStart, newYearEnd, "2025-12-31T23:20:00.000-00:30", "2025-12-31T23:40:00.000-00:30" },
    };
}

/** Each case sets the process's time zone before its times are made. */
class ReportTimeOffset : public TimeZoneFixture
{
protected:
    static std::string reportJson (juce::Time start, juce::Time end)
    {
        return Cloud::UpdateNotify ({}, "harvellon", "kestrova", "kestrovalx", { 2, 1, 0 }, { 1, 6, 3 }, start, end, true)
            .json.toStdString();
    }
};

TEST_F (ReportTimeOffset, TimesCarryTheLocalOffsetWithItsOwnSignOrZ)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.zone);
        useZone (c.zone);

        const auto json = reportJson (juce::Time (c.startMillis), juce::Time (c.endMillis));

        EXPECT_NE (json.find ("\"end\": \"" + std::string (c.end) + "\""), std::string::npos) << json;
        EXPECT_NE (json.find ("\"start\": \"" + std::string (c.start) + "\""), std::string::npos) << json;
    }
}
