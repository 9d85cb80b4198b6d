#include "crash_reporter/async/dzcrash_async.h"

#include "platform/mach/mach_port.h"
#include "platform/mach/vm_map.h"

namespace {

uint16_t direct16(uint16_t value) {
    return value;
}
uint32_t direct32(uint32_t value) {
    return value;
}
uint64_t direct64(uint64_t value) {
    return value;
}
uint16_t swapped16(uint16_t value) {
    return __builtin_bswap16(value);
}
uint32_t swapped32(uint32_t value) {
    return __builtin_bswap32(value);
}
uint64_t swapped64(uint64_t value) {
    return __builtin_bswap64(value);
}

constexpr dzcrash_async_byteorder_t kDirect{direct16, direct32, direct64};
constexpr dzcrash_async_byteorder_t kSwapped{swapped16, swapped32, swapped64};

template <class Value, class Convert>
dzcrash_error_t readConverted(task_t task, dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                              Value* destination, Convert convert) {
    Value raw;
    const dzcrash_error_t error = dzcrash_safe_read(task, address, offset, &raw, sizeof raw);
    if (error == DZCRASH_ESUCCESS) *destination = convert(raw);
    return error;
}

// The lead byte's count of continuation bytes, or -1 when it leads no character.
int continuationCount(uint8_t lead) {
    if (lead < 0x80) return 0;
    if (lead >= 0xC0 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF7) return 3;
    return -1;
}

}  // namespace

const dzcrash_async_byteorder_t* dzcrash_byteorder_direct() noexcept {
    return &kDirect;
}

const dzcrash_async_byteorder_t* dzcrash_byteorder_swapped() noexcept {
    return &kSwapped;
}

dzcrash_error_t dzcrash_safe_read(task_t task, dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                  void* destination, dzcrash_vm_size_t length) noexcept {
    dzcrash_vm_address_t source;
    if (!dzcrash_add_checked(address, offset, &source)) return DZCRASH_ENOMEM;
    mach_vm_size_t read = 0;
    switch (
        vm_read_overwrite(task, source, length, reinterpret_cast<mach_vm_address_t>(destination), &read)) {
        case KERN_SUCCESS:
            return DZCRASH_ESUCCESS;
        case KERN_INVALID_ADDRESS:
            return DZCRASH_ENOTFOUND;
        case KERN_PROTECTION_FAILURE:
            return DZCRASH_EACCESS;
        default:
            return DZCRASH_EUNKNOWN;
    }
}

dzcrash_error_t dzcrash_safe_read_uint8(task_t task, dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                        uint8_t* destination) noexcept {
    return dzcrash_safe_read(task, address, offset, destination, sizeof *destination);
}

dzcrash_error_t dzcrash_safe_read_uint16(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint16_t* destination) noexcept {
    return readConverted(task, address, offset, destination, byteorder->swap16);
}

dzcrash_error_t dzcrash_safe_read_uint32(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint32_t* destination) noexcept {
    return readConverted(task, address, offset, destination, byteorder->swap32);
}

dzcrash_error_t dzcrash_safe_read_uint64(task_t task, const dzcrash_async_byteorder_t* byteorder,
                                         dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                         uint64_t* destination) noexcept {
    return readConverted(task, address, offset, destination, byteorder->swap64);
}

bool dzcrash_add_checked(dzcrash_vm_address_t base, dzcrash_vm_off_t offset,
                         dzcrash_vm_address_t* result) noexcept {
    dzcrash_vm_address_t sum;
    // The offset's magnitude as unsigned; -(INT64_MIN) has no signed form.
    const uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset) : static_cast<uint64_t>(offset);
    if (offset >= 0) {
        if (__builtin_add_overflow(base, magnitude, &sum)) return false;
    } else {
        if (magnitude > base) return false;
        sum = base - magnitude;
    }
    if (result) *result = sum;
    return true;
}

thread_t dzcrash_thread_self() noexcept {
    const thread_t self = mach_thread_self();
    mach_port_deallocate(mach_task_self(), self);
    return self;
}

int dzcrash_string_compare(const char* a, const char* b) noexcept {
    const auto* left = reinterpret_cast<const unsigned char*>(a);
    const auto* right = reinterpret_cast<const unsigned char*>(b);
    while (*left != 0 && *left == *right) {
        ++left;
        ++right;
    }
    return *left - *right;
}

int dzcrash_string_compare_n(const char* a, const char* b, size_t n) noexcept {
    const auto* left = reinterpret_cast<const unsigned char*>(a);
    const auto* right = reinterpret_cast<const unsigned char*>(b);
    for (size_t i = 0; i < n; ++i) {
        if (left[i] != right[i]) return left[i] - right[i];
        if (left[i] == 0) return 0;
    }
    return 0;
}

void dzcrash_copy_bytes(void* destination, const void* source, size_t n) noexcept {
    auto* to = static_cast<uint8_t*>(destination);
    const auto* from = static_cast<const uint8_t*>(source);
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

void dzcrash_fill_bytes(void* destination, uint8_t byte, size_t n) noexcept {
    auto* to = static_cast<uint8_t*>(destination);
    for (size_t i = 0; i < n; ++i) to[i] = byte;
}

size_t dzcrash_utf8_valid_prefix(const uint8_t* bytes, size_t length) noexcept {
    size_t valid = 0;
    if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) valid = 3;
    while (valid < length && bytes[valid] != 0) {
        const int continuations = continuationCount(bytes[valid]);
        if (continuations < 0 || static_cast<size_t>(continuations) >= length - valid) break;
        int i = 1;
        while (i <= continuations && (bytes[valid + i] & 0xC0) == 0x80) ++i;
        if (i <= continuations) break;
        valid += static_cast<size_t>(continuations) + 1;
    }
    return valid;
}
