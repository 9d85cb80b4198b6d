#pragma once
// What crash-time code uses to look at memory and text: byte-order conversion, bounded reads of task
// memory that answer a result code instead of faulting, checked address arithmetic, and byte and
// string helpers that depend on nothing else. Every function here is async-signal-safe: no
// allocation, no lock, no exception.
#include <cstddef>
#include <cstdint>

#include "crash_reporter/async/dzcrash_error.h"
#include "platform/mach/mach_types.h"

using dzcrash_vm_address_t = uint64_t;
using dzcrash_vm_off_t = int64_t;
using dzcrash_vm_size_t = uint64_t;

// Converts values read from a file or image of one byte order to the host's.
struct dzcrash_async_byteorder_t {
    uint16_t (*swap16)(uint16_t value);
    uint32_t (*swap32)(uint32_t value);
    uint64_t (*swap64)(uint64_t value);
};
// Leaves values as they are.
const dzcrash_async_byteorder_t* dzcrash_byteorder_direct() noexcept;
// Reverses their bytes.
const dzcrash_async_byteorder_t* dzcrash_byteorder_swapped() noexcept;

// Copies `length` bytes at `address + offset` of `task` into `destination` without touching that
// memory: DZCRASH_ENOMEM when the sum leaves the address range, DZCRASH_ENOTFOUND for an unmapped
// page, DZCRASH_EACCESS for an unreadable one, DZCRASH_EUNKNOWN for any other refusal.
dzcrash_error_t dzcrash_safe_read(task_t task, dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                  void* destination, dzcrash_vm_size_t length) noexcept;
// One value, converted through `byteorder` (one byte needs none).
dzcrash_error_t dzcrash_safe_read_uint8(task_t task, dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                        uint8_t* destination) noexcept;
dzcrash_error_t dzcrash_safe_read_uint16(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint16_t* destination) noexcept;
dzcrash_error_t dzcrash_safe_read_uint32(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint32_t* destination) noexcept;
dzcrash_error_t dzcrash_safe_read_uint64(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint64_t* destination) noexcept;

// False when `base` plus the signed `offset` leaves 0 … 2^64-1; otherwise stores the sum in
// `result` (when given) and answers true.
bool dzcrash_add_checked(dzcrash_vm_address_t base, dzcrash_vm_off_t offset,
                         dzcrash_vm_address_t* result) noexcept;

// The calling thread's port name, with the reference that asking for it takes already released.
thread_t dzcrash_thread_self() noexcept;

// The difference of the first differing bytes (as unsigned), 0 when equal; the _n form looks at no
// more than `n` bytes.
int dzcrash_string_compare(const char* a, const char* b) noexcept;
int dzcrash_string_compare_n(const char* a, const char* b, size_t n) noexcept;
void dzcrash_copy_bytes(void* destination, const void* source, size_t n) noexcept;
void dzcrash_fill_bytes(void* destination, uint8_t byte, size_t n) noexcept;

// Length of the leading part of `bytes` that is UTF-8, ending at a NUL, at `length`, at a byte that
// leads no character, or before a character whose continuation bytes are missing or cut off. A
// leading byte-order mark counts as valid.
size_t dzcrash_utf8_valid_prefix(const uint8_t* bytes, size_t length) noexcept;
