#pragma once

#include <pthread.h>

/** For as long as it lives, no new thread of this process can start: the stack that a new
    thread gets by default is made larger than the address space, so creating one fails
    as it does when the system has no room for another thread. Keep it to the one call
    whose failure is wanted, and create no thread of your own meanwhile. */
class ScopedThreadStartFailure
{
public:
    ScopedThreadStartFailure()
    {
        pthread_getattr_default_np (&previous);

        pthread_attr_t impossible;
        pthread_attr_init (&impossible);
        pthread_attr_setstacksize (&impossible, (size_t) 1 << 50);
        pthread_setattr_default_np (&impossible);
        pthread_attr_destroy (&impossible);
    }

    ~ScopedThreadStartFailure()
    {
        pthread_setattr_default_np (&previous);
        pthread_attr_destroy (&previous);
    }

    ScopedThreadStartFailure (const ScopedThreadStartFailure&) = delete;
    ScopedThreadStartFailure& operator= (const ScopedThreadStartFailure&) = delete;

private:
    pthread_attr_t previous;
};
