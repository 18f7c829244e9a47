#include <gtest/gtest.h>

#if defined (__SANITIZE_THREAD__)
// The progress window's bar reads the progress value that the worker thread writes,
// without a lock, by the framework's own design.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:juce::ThreadWithProgressWindow::setProgress\n";
}
#endif

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
