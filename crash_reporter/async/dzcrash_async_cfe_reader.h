#pragma once
// The compact unwind information of an image's __TEXT,__unwind_info: a two-level index from function
// offsets (relative to the image header) to 32-bit encodings, and the decoding of an encoding into
// the rule that recovers the caller's registers. Every table access is checked against the section's
// memory object and task memory is read only through bounded reads. Async-signal-safe: no heap, no
// lock.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_mobject.h"
#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "platform/mach/machine.h"

struct dzcrash_async_cfe_reader_t {
    dzcrash_async_mobject_t* mobj;  // the whole section; not owned
    cpu_type_t cputype;
    // version, common-encodings offset and count, personality offset and count, index offset and count
    uint32_t header[7];
    const dzcrash_async_byteorder_t* byteorder;
};

// DZCRASH_ENOTSUP for a processor other than x86, x86-64 or arm64 and for a version other than 1;
// DZCRASH_EINVAL when the 28-byte header does not lie in `mobj`.
dzcrash_error_t dzcrash_async_cfe_reader_init(dzcrash_async_cfe_reader_t* reader,
                                              dzcrash_async_mobject_t* mobj, cpu_type_t cputype) noexcept;
// The function holding `pc` (relative to the image header): its start offset and encoding.
// DZCRASH_ENOTFOUND when no entry covers it, DZCRASH_EINVAL for tables that leave the section.
dzcrash_error_t dzcrash_async_cfe_reader_find_pc(const dzcrash_async_cfe_reader_t* reader, uint64_t pc,
                                                 uint32_t* function_offset, uint32_t* encoding) noexcept;
void dzcrash_async_cfe_reader_free(dzcrash_async_cfe_reader_t* reader) noexcept;

enum dzcrash_async_cfe_type_t : uint32_t {
    DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR = 1,
    DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD = 2,
    DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT = 3,
    DZCRASH_ASYNC_CFE_TYPE_DWARF = 4,
    DZCRASH_ASYNC_CFE_TYPE_NONE = 5,
};

// A slot of the saved-register list that holds no register, and the return address register of an
// entry whose return address is on the stack.
inline constexpr uint32_t DZCRASH_ASYNC_CFE_NO_REGISTER = 0x7fffffff;
inline constexpr uint32_t DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;

struct dzcrash_async_cfe_entry_t {
    dzcrash_async_cfe_type_t type;
    cpu_type_t cputype;
    // Frame: saved registers' offset from the frame pointer. Frameless immediate: stack size.
    // Frameless indirect: offset of the stack-size immediate inside the function. DWARF: FDE offset.
    int64_t stack_offset;
    uint32_t stack_adjust;  // frameless indirect: added to the immediate
    uint32_t return_address_register;
    uint32_t register_count;
    uint32_t register_list[DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];  // thread-state register numbers
};

// DZCRASH_ENOTSUP for an unknown processor or mode (and arm64's mode 1), DZCRASH_EINVAL for a
// register number outside the compact map or a permutation that names no registers.
dzcrash_error_t dzcrash_async_cfe_entry_init(dzcrash_async_cfe_entry_t* entry, cpu_type_t cputype,
                                             uint32_t encoding) noexcept;
dzcrash_async_cfe_type_t dzcrash_async_cfe_entry_type(const dzcrash_async_cfe_entry_t* entry) noexcept;
int64_t dzcrash_async_cfe_entry_stack_offset(const dzcrash_async_cfe_entry_t* entry) noexcept;
uint32_t dzcrash_async_cfe_entry_stack_adjust(const dzcrash_async_cfe_entry_t* entry) noexcept;
uint32_t dzcrash_async_cfe_entry_return_address_register(const dzcrash_async_cfe_entry_t* entry) noexcept;
uint32_t dzcrash_async_cfe_entry_register_count(const dzcrash_async_cfe_entry_t* entry) noexcept;
// Copies register_count slots.
void dzcrash_async_cfe_entry_register_list(const dzcrash_async_cfe_entry_t* entry,
                                           uint32_t* registers) noexcept;
void dzcrash_async_cfe_entry_free(dzcrash_async_cfe_entry_t* entry) noexcept;

// The frameless encodings' register permutation: `count` (0-6) distinct compact register numbers
// (1-6) in save order. Encode answers 0 for any other count; decode DZCRASH_EINVAL for a count
// above 6 or a permutation out of range.
uint32_t dzcrash_async_cfe_register_encode(const uint32_t* registers, uint32_t count) noexcept;
dzcrash_error_t dzcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count,
                                                  uint32_t* registers) noexcept;

// The caller's registers of the function at `function_address` that `entry` describes, from the
// callee-saved registers of `thread_state`. DZCRASH_ENOTSUP for DWARF and no-information entries,
// DZCRASH_ENOTFOUND when a register the rule needs is unknown, the read's error when the stack or
// the function cannot be read.
dzcrash_error_t dzcrash_async_cfe_entry_apply(task_t task, dzcrash_vm_address_t function_address,
                                              const dzcrash_async_thread_state* thread_state,
                                              const dzcrash_async_cfe_entry_t* entry,
                                              dzcrash_async_thread_state* new_thread_state) noexcept;
