#include "LambdaThread.h"

LambdaThread::LambdaThread (const juce::String& name, Function bodyToRun, Function afterToRun, unsigned long stackSize)
    : juce::Thread (name, stackSize),
      body (std::move (bodyToRun)),
      after (std::move (afterToRun))
{
}

LambdaThread::~LambdaThread()
{
    // The functions never look at the exit request: this waits for a running request to end.
    stopThread (-1);
}

void LambdaThread::run()
{
    body (*this);
    after (*this);
}
