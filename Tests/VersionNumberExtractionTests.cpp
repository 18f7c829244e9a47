#include "UpdateThread.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace
{
    using Numbers = std::tuple<int, int, int>;

    std::optional<Numbers> extract (const std::string& text)
    {
        int major = -1, minor = -1, patch = -1;

        if (! UpdateThreadTask::extractVersionNumber (text, major, minor, patch))
            return std::nullopt;

        return Numbers { major, minor, patch };
    }

    struct Case
    {
        std::string text;
        std::optional<Numbers> expected;
    };

    const Case cases[] = {
        { "1.0.6",                      Numbers { 1, 0, 6 } },
        { "Version 1.2.3 (build 45)",   Numbers { 1, 2, 3 } },
        { "V2.10.0-beta",               Numbers { 2, 10, 0 } },
        { "1.0.",                       Numbers { 1, 0, 0 } },
        { "0.0.0 1.2.3",                Numbers { 1, 2, 3 } },
        { "v. 10.20.30",                Numbers { 0, 20, 30 } },
        { "1.0.6-beta",                 Numbers { 1, 0, 6 } },
        { "1.0.6 (build 7)",            Numbers { 1, 0, 6 } },
        { "x1.2.3",                     Numbers { 1, 2, 3 } },
        { "1.2.300",                    Numbers { 1, 2, 300 } },
        { "1.2",                        std::nullopt },
        { "1.2.3.4",                    std::nullopt },
        { "Ver. 1.2.3",                 std::nullopt },
        { "0.0.0",                      std::nullopt },
        { "1..6",                       std::nullopt },
        { "",                           std::nullopt },
        { "no digits at all",           std::nullopt },
        { "1.",                         std::nullopt },
        { "1.a.2",                      std::nullopt },
    };
}

TEST (VersionNumberExtraction, FindsTheFirstCandidateThatHoldsUp)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE ("'" + c.text + "'");
        EXPECT_EQ (extract (c.text), c.expected);
    }
}

TEST (VersionNumberExtraction, NumbersTooLongForAnIntStopAtTheLargest)
{
    EXPECT_EQ (extract ("1.0.99999999999"), (Numbers { 1, 0, 2147483647 }));
    EXPECT_EQ (extract ("2147483648.1.0"), (Numbers { 2147483647, 1, 0 }));
    EXPECT_EQ (extract ("2147483647.1.0"), (Numbers { 2147483647, 1, 0 }));
}
