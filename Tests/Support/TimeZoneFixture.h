#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

/** Lets a test choose the process's time zone before it makes local times; the zone of the
    test's start is put back afterwards. */
class TimeZoneFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const auto* zone = std::getenv ("TZ"))
            zoneBefore = zone;
    }

    void TearDown() override
    {
        if (zoneBefore.has_value())
            setenv ("TZ", zoneBefore->c_str(), 1);
        else
            unsetenv ("TZ");

        tzset();
    }

    /** A POSIX TZ text: the offset is the one to add to local time to get UTC. */
    static void useZone (const char* zone)
    {
        setenv ("TZ", zone, 1);
        tzset();
    }

private:
    std::optional<std::string> zoneBefore;
};
