#pragma once
// Between the emulated kernel and thread control: a thread that waits for the answer to its own
// fault publishes the state at the fault, and counts as suspended there for as long as it waits.
#include <sys/ucontext.h>

// For the calling thread; false when no slot is free (the thread then just is not shown stopped).
bool mach_fault_context_publish(const ucontext_t* context) noexcept;
// Waits until every suspension taken meanwhile has been resumed, then withdraws the state.
void mach_fault_context_withdraw() noexcept;
