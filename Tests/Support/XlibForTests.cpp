#include "XlibForTests.h"

#include <dlfcn.h>

void prepareXlibForTests()
{
    // The framework unloads Xlib at shutdown while Xlib's own globals still hold
    // its allocations; kept loaded, the leak checker can still see them held.
    static auto* const xlib = dlopen ("libX11.so.6", RTLD_NOW | RTLD_NODELETE);

    // A test is no standalone application, so the framework leaves Xlib's default
    // error handler in place, which ends the process on any protocol error (such as
    // a query about a window that the window manager has just destroyed). The
    // application ignores them; so do the tests.
    using ErrorHandler = int (*) (void*, void*);
    using SetErrorHandler = ErrorHandler (*) (ErrorHandler);

    if (auto* setErrorHandler = xlib != nullptr ? (SetErrorHandler) dlsym (xlib, "XSetErrorHandler") : nullptr)
        setErrorHandler ([] (void*, void*) { return 0; });
}
