#pragma once

/** Makes Xlib behave in a test process as it does in the application. Call it
    before the first window is made. */
void prepareXlibForTests();
