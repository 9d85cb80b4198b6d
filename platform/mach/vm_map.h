#pragma once
// Virtual memory of the own task: anonymous pages, and copies out of the task's memory that never
// touch it directly, so an unmapped or unreadable address is an answer, never a signal. Every
// function here is async-signal-safe: no allocation, no lock, errno left as it was.
#include "platform/mach/mach_types.h"

// Zero-filled, readable and writable pages wherever the kernel finds room; `flags` must be
// VM_FLAGS_ANYWHERE. A size of 0 allocates nothing and answers address 0. Sizes are rounded up to
// whole pages, in both calls.
inline constexpr int VM_FLAGS_ANYWHERE = 0x1;
kern_return_t vm_allocate(task_t task, vm_address_t* address, vm_size_t size, int flags) noexcept;
kern_return_t vm_deallocate(task_t task, vm_address_t address, vm_size_t size) noexcept;

// Copies `size` bytes at `address` of the task into `data`. When the copy stops at a page that is
// not mapped (or the range wraps) the answer is KERN_INVALID_ADDRESS; at a mapped page that cannot
// be read, KERN_PROTECTION_FAILURE. `*outsize` gets the bytes copied, `size` only on KERN_SUCCESS.
//
// Reads go through process_vm_readv on the own pid. Where that call is refused (a seccomp filter,
// a kernel without it), they fall back to /proc/self/mem, which the kernel lets read a mapped
// PROT_NONE page as a debugger would: on that road such a page reads as its contents, not as a
// protection failure.
kern_return_t vm_read_overwrite(task_t task, mach_vm_address_t address, mach_vm_size_t size,
                                mach_vm_address_t data, mach_vm_size_t* outsize) noexcept;
