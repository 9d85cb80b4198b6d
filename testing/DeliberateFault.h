#pragma once
// A fault a child process commits on purpose, to show what the code under test makes of it. The
// undefined-behaviour sanitizer's null check is left out here: it would end the process with its own
// report before the store ran, and the signal the test is about would never come. The address
// sanitizer needs no options for it: its fault handler is only the action the crash handlers
// replaced, and they end the process by the signal's default action, not through it.

// A store through a null pointer the compiler cannot see: SIGSEGV, SEGV_MAPERR at address 0.
[[gnu::noinline]] __attribute__((no_sanitize("null"))) inline void storeThroughNull() {
    volatile int* volatile target = nullptr;
    *target = 1;
}
