#pragma once
// A private, bounds-checked copy of a range of a task's memory. The copy lives in pages of the own
// task that hold what the bounded reads found there, so nothing read through it can fault, whatever
// happens to the original meanwhile. Every function is async-signal-safe: no heap, no lock.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async.h"

struct dzcrash_async_mobject_t {
    task_t task;        // one send-right reference held while mapped
    uintptr_t address;  // local address of the requested task address
    dzcrash_vm_address_t task_address;
    dzcrash_vm_size_t length;  // usable bytes from `address`
    int64_t vm_slide;          // task address minus local address
    uintptr_t vm_address;      // the whole page-aligned local copy
    dzcrash_vm_size_t vm_length;
};

// Copies `length` bytes at `task_address`, widened to whole pages. With `require_full` false only
// the readable leading pages are copied and `length` shrinks to match; with it true any unreadable
// page fails the call. DZCRASH_ENOMEM when nothing (or, required full, not everything) could be
// read, DZCRASH_EINVAL for a range that wraps, DZCRASH_EINTERNAL when no pages are left.
dzcrash_error_t dzcrash_async_mobject_init(dzcrash_async_mobject_t* mobj, task_t task,
                                           dzcrash_vm_address_t task_address, dzcrash_vm_size_t length,
                                           bool require_full) noexcept;
// A view of `owner`'s copy, for as long as `owner` keeps it: freeing the view releases only the
// task reference it takes, never the pages.
void dzcrash_async_mobject_share(const dzcrash_async_mobject_t* owner,
                                 dzcrash_async_mobject_t* view) noexcept;
dzcrash_vm_address_t dzcrash_async_mobject_base_address(const dzcrash_async_mobject_t* mobj) noexcept;
dzcrash_vm_size_t dzcrash_async_mobject_length(const dzcrash_async_mobject_t* mobj) noexcept;
task_t dzcrash_async_mobject_task(const dzcrash_async_mobject_t* mobj) noexcept;

// True when `local + offset … + length` neither wraps nor leaves the object's usable bytes.
bool dzcrash_async_mobject_verify_local_pointer(const dzcrash_async_mobject_t* mobj, uintptr_t local,
                                                dzcrash_vm_off_t offset, dzcrash_vm_size_t length) noexcept;
// The local address of `task_address + offset` when `length` bytes from there lie in the object;
// null otherwise.
void* dzcrash_async_mobject_remap_address(const dzcrash_async_mobject_t* mobj,
                                          dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                          dzcrash_vm_size_t length) noexcept;

// One value at `task_address + offset`, converted through `byteorder`; DZCRASH_EINVAL outside.
dzcrash_error_t dzcrash_async_mobject_read_uint8(const dzcrash_async_mobject_t* mobj,
                                                 dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                 uint8_t* result) noexcept;
dzcrash_error_t dzcrash_async_mobject_read_uint16(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint16_t* result) noexcept;
dzcrash_error_t dzcrash_async_mobject_read_uint32(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint32_t* result) noexcept;
dzcrash_error_t dzcrash_async_mobject_read_uint64(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint64_t* result) noexcept;

// Releases the copy and the task reference.
void dzcrash_async_mobject_free(dzcrash_async_mobject_t* mobj) noexcept;
