#pragma once
// Evaluates a DWARF expression block of the task (held by a memory object) on a stack of at most
// 100 target-sized values, reading registers from a thread state and memory through bounded task
// reads. DZCRASH_ENOTSUP for an operation it does not support or a register without a mapping,
// DZCRASH_EINVAL for operands outside the block, a stack too short for a stack operation, a zero
// divisor, a branch out of the block or more than 10000 operations (a block that loops);
// DZCRASH_EINTERNAL for an overfull stack or too few values for arithmetic; DZCRASH_ENOTFOUND for a
// register the state does not hold. Async-signal-safe.
#include <cstddef>

#include "crash_reporter/async/dzcrash_async_mobject.h"
#include "crash_reporter/async/dzcrash_async_thread_state.h"

namespace dzcrash::async {

template <typename T, typename S>
dzcrash_error_t dzcrash_async_dwarf_expression_eval(const dzcrash_async_mobject_t* mobj, task_t task,
                                                    const dzcrash_async_thread_state* thread_state,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                                    dzcrash_vm_size_t length, const T* initial_stack,
                                                    size_t initial_count, T* result) noexcept;

}  // namespace dzcrash::async
