#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

/** Collects, byte for byte, what any thread writes to standard output while it lives. */
class CapturedStandardOutput
{
public:
    CapturedStandardOutput()
    {
        std::fflush (stdout);
        ::testing::internal::CaptureStdout();
    }

    ~CapturedStandardOutput()
    {
        if (! taken)
            take();
    }

    /** Ends the capture and gives what was written; call it once the writers have ended. */
    std::string take()
    {
        taken = true;
        std::fflush (stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    CapturedStandardOutput (const CapturedStandardOutput&) = delete;
    CapturedStandardOutput& operator= (const CapturedStandardOutput&) = delete;

private:
    bool taken = false;
};
