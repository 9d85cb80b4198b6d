#include "crash_reporter/async/dzcrash_async_mobject.h"

#include <unistd.h>

#include "platform/mach/mach_port.h"
#include "platform/mach/vm_map.h"

namespace {

// getpagesize answers from what the loader was told at start: no system call, no lock.
uint64_t pageMask() noexcept {
    return static_cast<uint64_t>(getpagesize()) - 1;
}

// Copies as much of the range as can be read, in one pass; answers the whole pages copied.
dzcrash_vm_size_t copyReadablePages(task_t task, dzcrash_vm_address_t start, dzcrash_vm_size_t total,
                                    uintptr_t destination) noexcept {
    mach_vm_size_t copied = 0;
    if (vm_read_overwrite(task, start, total, destination, &copied) == KERN_SUCCESS) return total;
    return copied & ~pageMask();
}

}  // namespace

dzcrash_error_t dzcrash_async_mobject_init(dzcrash_async_mobject_t* mobj, task_t task,
                                           dzcrash_vm_address_t task_address, dzcrash_vm_size_t length,
                                           bool require_full) noexcept {
    const uint64_t mask = pageMask();
    const dzcrash_vm_address_t start = task_address & ~mask;
    dzcrash_vm_address_t end;
    if (!dzcrash_add_checked(task_address, static_cast<dzcrash_vm_off_t>(length), &end) ||
        static_cast<dzcrash_vm_off_t>(length) < 0 || end > UINT64_MAX - mask) {
        return DZCRASH_EINVAL;
    }
    dzcrash_vm_size_t total = ((end + mask) & ~mask) - start;
    if (total == 0) return DZCRASH_ENOMEM;

    vm_address_t pages = 0;
    if (vm_allocate(mach_task_self(), &pages, total, VM_FLAGS_ANYWHERE) != KERN_SUCCESS)
        return DZCRASH_EINTERNAL;
    const dzcrash_vm_size_t readable = copyReadablePages(task, start, total, pages);
    if (readable == 0 || (require_full && readable < total)) {
        vm_deallocate(mach_task_self(), pages, total);
        return DZCRASH_ENOMEM;
    }
    // Only the readable prefix is kept, so the object never holds pages that stand for nothing.
    if (readable < total) vm_deallocate(mach_task_self(), pages + readable, total - readable);
    total = readable;

    mobj->task = task;
    mobj->vm_address = pages;
    mobj->vm_length = total;
    mobj->address = pages + (task_address - start);
    mobj->task_address = task_address;
    const dzcrash_vm_size_t held = total - (task_address - start);
    mobj->length = length < held ? length : held;
    mobj->vm_slide = static_cast<int64_t>(task_address - mobj->address);
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    return DZCRASH_ESUCCESS;
}

void dzcrash_async_mobject_share(const dzcrash_async_mobject_t* owner,
                                 dzcrash_async_mobject_t* view) noexcept {
    *view = *owner;
    view->vm_address = 0;
    view->vm_length = 0;
    mach_port_mod_refs(mach_task_self(), view->task, MACH_PORT_RIGHT_SEND, 1);
}

dzcrash_vm_address_t dzcrash_async_mobject_base_address(const dzcrash_async_mobject_t* mobj) noexcept {
    return mobj->task_address;
}

dzcrash_vm_size_t dzcrash_async_mobject_length(const dzcrash_async_mobject_t* mobj) noexcept {
    return mobj->length;
}

task_t dzcrash_async_mobject_task(const dzcrash_async_mobject_t* mobj) noexcept {
    return mobj->task;
}

bool dzcrash_async_mobject_verify_local_pointer(const dzcrash_async_mobject_t* mobj, uintptr_t local,
                                                dzcrash_vm_off_t offset, dzcrash_vm_size_t length) noexcept {
    dzcrash_vm_address_t start;
    dzcrash_vm_address_t end;
    if (!dzcrash_add_checked(local, offset, &start)) return false;
    if (start + length < start) return false;
    end = start + length;
    return start >= mobj->address && end <= mobj->address + mobj->length;
}

void* dzcrash_async_mobject_remap_address(const dzcrash_async_mobject_t* mobj,
                                          dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                          dzcrash_vm_size_t length) noexcept {
    const uintptr_t local = static_cast<uintptr_t>(task_address - static_cast<uint64_t>(mobj->vm_slide));
    if (!dzcrash_async_mobject_verify_local_pointer(mobj, local, offset, length)) return nullptr;
    return reinterpret_cast<void*>(local + static_cast<uint64_t>(offset));
}

namespace {

template <class Value>
dzcrash_error_t readValue(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t task_address,
                          dzcrash_vm_off_t offset, Value* result) noexcept {
    const void* local = dzcrash_async_mobject_remap_address(mobj, task_address, offset, sizeof(Value));
    if (!local) return DZCRASH_EINVAL;
    // The copy may sit at any alignment within its pages.
    dzcrash_copy_bytes(result, local, sizeof(Value));
    return DZCRASH_ESUCCESS;
}

}  // namespace

dzcrash_error_t dzcrash_async_mobject_read_uint8(const dzcrash_async_mobject_t* mobj,
                                                 dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                 uint8_t* result) noexcept {
    return readValue(mobj, task_address, offset, result);
}

dzcrash_error_t dzcrash_async_mobject_read_uint16(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint16_t* result) noexcept {
    const dzcrash_error_t error = readValue(mobj, task_address, offset, result);
    if (error == DZCRASH_ESUCCESS) *result = byteorder->swap16(*result);
    return error;
}

dzcrash_error_t dzcrash_async_mobject_read_uint32(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint32_t* result) noexcept {
    const dzcrash_error_t error = readValue(mobj, task_address, offset, result);
    if (error == DZCRASH_ESUCCESS) *result = byteorder->swap32(*result);
    return error;
}

dzcrash_error_t dzcrash_async_mobject_read_uint64(const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t task_address, dzcrash_vm_off_t offset,
                                                  uint64_t* result) noexcept {
    const dzcrash_error_t error = readValue(mobj, task_address, offset, result);
    if (error == DZCRASH_ESUCCESS) *result = byteorder->swap64(*result);
    return error;
}

void dzcrash_async_mobject_free(dzcrash_async_mobject_t* mobj) noexcept {
    if (mobj->vm_length != 0) vm_deallocate(mach_task_self(), mobj->vm_address, mobj->vm_length);
    mobj->vm_length = 0;
    mach_port_deallocate(mach_task_self(), mobj->task);
}
