#include "crash_reporter/async/dzcrash_async_cfe_reader.h"

namespace {

enum HeaderField {
    kVersion = 0,
    kCommonEncodingsOffset = 1,
    kCommonEncodingsCount = 2,
    kIndexOffset = 5,
    kIndexCount = 6,
};
constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kFirstLevelEntrySize = 12;
constexpr uint32_t kRegularEntrySize = 8;
constexpr uint32_t kPageKindRegular = 2;
constexpr uint32_t kPageKindCompressed = 3;

uint32_t bits(uint32_t value, unsigned shift, uint32_t mask) {
    return (value >> shift) & mask;
}

// Reads the 32-bit word at `offset` from the section start; false outside it.
bool word(const dzcrash_async_cfe_reader_t* reader, uint64_t offset, uint32_t* value) {
    return dzcrash_async_mobject_read_uint32(
               reader->mobj, reader->byteorder, dzcrash_async_mobject_base_address(reader->mobj),
               static_cast<dzcrash_vm_off_t>(offset), value) == DZCRASH_ESUCCESS;
}
bool half(const dzcrash_async_cfe_reader_t* reader, uint64_t offset, uint16_t* value) {
    return dzcrash_async_mobject_read_uint16(
               reader->mobj, reader->byteorder, dzcrash_async_mobject_base_address(reader->mobj),
               static_cast<dzcrash_vm_off_t>(offset), value) == DZCRASH_ESUCCESS;
}
bool holds(const dzcrash_async_cfe_reader_t* reader, uint64_t offset, uint64_t length) {
    return dzcrash_async_mobject_remap_address(reader->mobj, dzcrash_async_mobject_base_address(reader->mobj),
                                               static_cast<dzcrash_vm_off_t>(offset), length) != nullptr;
}

// The last of `count` ascending keys at or below `pc`: an equal key is taken at once. The caller has
// checked that every key can be read. False when `pc` lies below them all.
template <typename KeyAt>
bool search(uint32_t count, uint64_t pc, KeyAt key_at, uint32_t* found) {
    uint32_t low = 0;
    uint32_t high = count;
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        const uint64_t key = key_at(mid);
        if (key < pc) {
            if (mid == count - 1 || key_at(mid + 1) > pc) {
                *found = mid;
                return true;
            }
            low = mid + 1;
        } else if (key > pc) {
            high = mid;
        } else {
            *found = mid;
            return true;
        }
    }
    return false;
}

uint32_t word_at(const dzcrash_async_cfe_reader_t* reader, uint64_t offset) {
    uint32_t value = 0;
    word(reader, offset, &value);
    return value;
}

dzcrash_error_t find_in_regular_page(const dzcrash_async_cfe_reader_t* reader, uint64_t page, uint64_t pc,
                                     uint32_t* function_offset, uint32_t* encoding) {
    uint16_t entries_offset = 0;
    uint16_t entry_count = 0;
    if (!half(reader, page + 4, &entries_offset) || !half(reader, page + 6, &entry_count))
        return DZCRASH_EINVAL;
    const uint64_t entries = page + entries_offset;
    if (!holds(reader, entries, uint64_t{entry_count} * kRegularEntrySize)) return DZCRASH_EINVAL;
    if (entry_count == 0) return DZCRASH_ENOTFOUND;
    uint32_t index = 0;
    const auto key_at = [&](uint32_t i) -> uint64_t {
        return word_at(reader, entries + i * kRegularEntrySize);
    };
    if (!search(entry_count, pc, key_at, &index)) return DZCRASH_ENOTFOUND;
    *function_offset = word_at(reader, entries + index * kRegularEntrySize);
    *encoding = word_at(reader, entries + index * kRegularEntrySize + 4);
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t find_in_compressed_page(const dzcrash_async_cfe_reader_t* reader, uint64_t page,
                                        uint32_t base_offset, uint64_t pc, uint32_t* function_offset,
                                        uint32_t* encoding) {
    uint16_t entries_offset = 0;
    uint16_t entry_count = 0;
    uint16_t encodings_offset = 0;
    uint16_t encodings_count = 0;
    if (!half(reader, page + 4, &entries_offset) || !half(reader, page + 6, &entry_count) ||
        !half(reader, page + 8, &encodings_offset) || !half(reader, page + 10, &encodings_count)) {
        return DZCRASH_EINVAL;
    }
    const uint64_t entries = page + entries_offset;
    if (!holds(reader, entries, uint64_t{entry_count} * 4)) return DZCRASH_EINVAL;
    if (entry_count == 0) return DZCRASH_ENOTFOUND;
    const auto key_at = [&](uint32_t i) -> uint64_t {
        return uint64_t{base_offset} + (word_at(reader, entries + i * 4) & 0xffffff);
    };
    uint32_t index = 0;
    if (!search(entry_count, pc, key_at, &index)) return DZCRASH_ENOTFOUND;
    const uint32_t entry = word_at(reader, entries + index * 4);
    const uint32_t encoding_index = entry >> 24;
    const uint32_t common_count = reader->header[kCommonEncodingsCount];
    if (encoding_index < common_count) {
        *encoding = word_at(reader, uint64_t{reader->header[kCommonEncodingsOffset]} + encoding_index * 4);
    } else {
        const uint64_t page_encodings = page + encodings_offset;
        if (!holds(reader, page_encodings, uint64_t{encodings_count} * 4)) return DZCRASH_EINVAL;
        const uint32_t page_index = encoding_index - common_count;
        if (page_index >= encodings_count) return DZCRASH_EINVAL;
        *encoding = word_at(reader, page_encodings + page_index * 4);
    }
    *function_offset = static_cast<uint32_t>(key_at(index));
    return DZCRASH_ESUCCESS;
}

// Compact register numbers 1-6 of the x86 layouts, as thread-state register numbers.
dzcrash_error_t map_register(cpu_type_t cputype, uint32_t compact, uint32_t* reg) {
    static constexpr uint32_t kX86_64[] = {DZCRASH_X86_64_RBX, DZCRASH_X86_64_R12, DZCRASH_X86_64_R13,
                                           DZCRASH_X86_64_R14, DZCRASH_X86_64_R15, DZCRASH_X86_64_RBP};
    static constexpr uint32_t kX86[] = {DZCRASH_X86_EBX, DZCRASH_X86_ECX, DZCRASH_X86_EDX,
                                        DZCRASH_X86_EDI, DZCRASH_X86_ESI, DZCRASH_X86_EBP};
    if (cputype != CPU_TYPE_X86_64 && cputype != CPU_TYPE_X86) return DZCRASH_ENOTSUP;
    if (compact == 0) {
        *reg = DZCRASH_ASYNC_CFE_NO_REGISTER;
        return DZCRASH_ESUCCESS;
    }
    if (compact > 6) return DZCRASH_EINVAL;
    *reg = (cputype == CPU_TYPE_X86_64 ? kX86_64 : kX86)[compact - 1];
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t decode_frameless_registers(dzcrash_async_cfe_entry_t* entry, uint32_t encoding) {
    const uint32_t count = bits(encoding, 10, 0x7);
    uint32_t compact[6];
    if (count > 6) return DZCRASH_EINVAL;
    const dzcrash_error_t error = dzcrash_async_cfe_register_decode(bits(encoding, 0, 0x3ff), count, compact);
    if (error != DZCRASH_ESUCCESS) return error;
    for (uint32_t i = 0; i < count; ++i) {
        const dzcrash_error_t mapped = map_register(entry->cputype, compact[i], &entry->register_list[i]);
        if (mapped != DZCRASH_ESUCCESS) return mapped;
    }
    entry->register_count = count;
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t decode_x86(dzcrash_async_cfe_entry_t* entry, uint32_t encoding) {
    const int64_t scale = entry->cputype == CPU_TYPE_X86_64 ? 8 : 4;
    switch (bits(encoding, 24, 0xf)) {
        case 0:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_NONE;
            return DZCRASH_ESUCCESS;
        case 1: {
            entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
            entry->stack_offset = -static_cast<int64_t>(bits(encoding, 16, 0xff)) * scale;
            // Slots are taken while any remain, so an empty slot between two used ones still counts.
            uint32_t slots = bits(encoding, 0, 0x7fff);
            for (uint32_t i = 0; slots != 0 && i < 5; ++i, slots >>= 3) {
                const dzcrash_error_t error =
                    map_register(entry->cputype, slots & 0x7, &entry->register_list[i]);
                if (error != DZCRASH_ESUCCESS) return error;
                entry->register_count = i + 1;
            }
            return DZCRASH_ESUCCESS;
        }
        case 2:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
            entry->stack_offset = static_cast<int64_t>(bits(encoding, 16, 0xff)) * scale;
            return decode_frameless_registers(entry, encoding);
        case 3:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT;
            entry->stack_offset = bits(encoding, 16, 0xff);
            entry->stack_adjust = bits(encoding, 13, 0x7) * static_cast<uint32_t>(scale);
            return decode_frameless_registers(entry, encoding);
        case 4:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = bits(encoding, 0, 0xffffff);
            return DZCRASH_ESUCCESS;
        default:
            return DZCRASH_ENOTSUP;
    }
}

// Decoded for completeness of the format; this system has no arm64 register set to apply it to.
dzcrash_error_t decode_arm64(dzcrash_async_cfe_entry_t* entry, uint32_t encoding) {
    const uint32_t mode = bits(encoding, 24, 0xf);
    switch (mode) {
        case 0:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_NONE;
            return DZCRASH_ESUCCESS;
        case 3:
            entry->type = DZCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = bits(encoding, 0, 0xffffff);
            return DZCRASH_ESUCCESS;
        case 2:
        case 4: {
            entry->type =
                mode == 4 ? DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR : DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
            entry->stack_offset = static_cast<int64_t>(bits(encoding, 12, 0xfff)) * 16;
            entry->return_address_register = 32;
            static constexpr uint32_t kFlags[] = {0x10, 0x8, 0x4, 0x2, 0x1};
            uint32_t pair = 31;
            for (uint32_t flag : kFlags) {
                if (encoding & flag) {
                    entry->register_list[entry->register_count++] = pair;
                    entry->register_list[entry->register_count++] = pair - 1;
                }
                pair -= 2;
            }
            if (mode == 4) entry->stack_offset = -8 * static_cast<int64_t>(entry->register_count);
            return DZCRASH_ESUCCESS;
        }
        default:
            return DZCRASH_ENOTSUP;
    }
}

dzcrash_error_t read_word(task_t task, dzcrash_vm_address_t address, size_t width, uint64_t* value) {
    if (width == 8) return dzcrash_safe_read_uint64(task, dzcrash_byteorder_direct(), address, 0, value);
    uint32_t narrow = 0;
    const dzcrash_error_t error =
        dzcrash_safe_read_uint32(task, dzcrash_byteorder_direct(), address, 0, &narrow);
    *value = narrow;
    return error;
}

}  // namespace

dzcrash_error_t dzcrash_async_cfe_reader_init(dzcrash_async_cfe_reader_t* reader,
                                              dzcrash_async_mobject_t* mobj, cpu_type_t cputype) noexcept {
    if (cputype != CPU_TYPE_X86 && cputype != CPU_TYPE_X86_64 && cputype != CPU_TYPE_ARM64)
        return DZCRASH_ENOTSUP;
    reader->mobj = mobj;
    reader->cputype = cputype;
    // The section is produced for the machine that runs it, so it is in the reporter's byte order.
    reader->byteorder = dzcrash_byteorder_direct();
    const void* header =
        dzcrash_async_mobject_remap_address(mobj, dzcrash_async_mobject_base_address(mobj), 0, kHeaderSize);
    if (header == nullptr) return DZCRASH_EINVAL;
    dzcrash_copy_bytes(reader->header, header, kHeaderSize);
    if (reader->header[kVersion] != 1) return DZCRASH_ENOTSUP;
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t dzcrash_async_cfe_reader_find_pc(const dzcrash_async_cfe_reader_t* reader, uint64_t pc,
                                                 uint32_t* function_offset, uint32_t* encoding) noexcept {
    if (!holds(reader, reader->header[kCommonEncodingsOffset],
               uint64_t{reader->header[kCommonEncodingsCount]} * 4)) {
        return DZCRASH_EINVAL;
    }
    const uint32_t index_count = reader->header[kIndexCount];
    if (index_count == 0) return DZCRASH_ENOTFOUND;
    // The last first-level entry only marks where the covered range ends.
    const uint32_t searched = index_count - 1;
    const uint64_t index = reader->header[kIndexOffset];
    if (!holds(reader, index, uint64_t{searched} * kFirstLevelEntrySize)) return DZCRASH_EINVAL;
    if (searched == 0) return DZCRASH_ENOTFOUND;

    uint32_t found = 0;
    const auto key_at = [&](uint32_t i) -> uint64_t {
        return word_at(reader, index + i * kFirstLevelEntrySize);
    };
    if (!search(searched, pc, key_at, &found)) return DZCRASH_ENOTFOUND;
    const uint32_t base_offset = word_at(reader, index + found * kFirstLevelEntrySize);
    const uint64_t page = word_at(reader, index + found * kFirstLevelEntrySize + 4);

    uint32_t kind = 0;
    if (!word(reader, page, &kind)) return DZCRASH_EINVAL;
    if (kind == kPageKindRegular) return find_in_regular_page(reader, page, pc, function_offset, encoding);
    if (kind == kPageKindCompressed) {
        return find_in_compressed_page(reader, page, base_offset, pc, function_offset, encoding);
    }
    return DZCRASH_EINVAL;
}

void dzcrash_async_cfe_reader_free(dzcrash_async_cfe_reader_t*) noexcept {}

dzcrash_error_t dzcrash_async_cfe_entry_init(dzcrash_async_cfe_entry_t* entry, cpu_type_t cputype,
                                             uint32_t encoding) noexcept {
    dzcrash_fill_bytes(entry, 0, sizeof *entry);
    entry->cputype = cputype;
    entry->return_address_register = DZCRASH_ASYNC_CFE_NO_REGISTER;
    if (cputype == CPU_TYPE_X86 || cputype == CPU_TYPE_X86_64) return decode_x86(entry, encoding);
    if (cputype == CPU_TYPE_ARM64) return decode_arm64(entry, encoding);
    return DZCRASH_ENOTSUP;
}

dzcrash_async_cfe_type_t dzcrash_async_cfe_entry_type(const dzcrash_async_cfe_entry_t* entry) noexcept {
    return entry->type;
}
int64_t dzcrash_async_cfe_entry_stack_offset(const dzcrash_async_cfe_entry_t* entry) noexcept {
    return entry->stack_offset;
}
uint32_t dzcrash_async_cfe_entry_stack_adjust(const dzcrash_async_cfe_entry_t* entry) noexcept {
    return entry->stack_adjust;
}
uint32_t dzcrash_async_cfe_entry_return_address_register(const dzcrash_async_cfe_entry_t* entry) noexcept {
    return entry->return_address_register;
}
uint32_t dzcrash_async_cfe_entry_register_count(const dzcrash_async_cfe_entry_t* entry) noexcept {
    return entry->register_count;
}
void dzcrash_async_cfe_entry_register_list(const dzcrash_async_cfe_entry_t* entry,
                                           uint32_t* registers) noexcept {
    dzcrash_copy_bytes(registers, entry->register_list, entry->register_count * sizeof(uint32_t));
}
void dzcrash_async_cfe_entry_free(dzcrash_async_cfe_entry_t*) noexcept {}

uint32_t dzcrash_async_cfe_register_encode(const uint32_t* registers, uint32_t count) noexcept {
    static constexpr uint32_t kWeights[7][5] = {
        {0, 0, 0, 0, 0},   {1, 0, 0, 0, 0},    {5, 1, 0, 0, 0},    {20, 4, 1, 0, 0},
        {60, 12, 3, 1, 0}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1},
    };
    if (count == 0 || count > 6) return 0;
    uint32_t permutation = 0;
    // Each register becomes its rank among the numbers that earlier registers left unused.
    for (uint32_t i = 0; i < count && i < 5; ++i) {
        uint32_t smaller = 0;
        for (uint32_t j = 0; j < i; ++j) {
            if (registers[j] < registers[i]) ++smaller;
        }
        permutation += (registers[i] - 1 - smaller) * kWeights[count][i];
    }
    return permutation;
}

dzcrash_error_t dzcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count,
                                                  uint32_t* registers) noexcept {
    static constexpr uint32_t kRadix[7][6] = {
        {0, 0, 0, 0, 0, 0},   {1, 0, 0, 0, 0, 0},    {5, 1, 0, 0, 0, 0},    {20, 4, 1, 0, 0, 0},
        {60, 12, 3, 1, 0, 0}, {120, 24, 6, 2, 1, 0}, {120, 24, 6, 2, 1, 0},
    };
    if (count > 6) return DZCRASH_EINVAL;
    bool used[7] = {};
    uint32_t rest = permutation;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t digit = 0;
        if (kRadix[count][i] != 0) {
            digit = rest / kRadix[count][i];
            rest %= kRadix[count][i];
        }
        // The digit picks among the numbers still unused; one beyond them names no register.
        uint32_t chosen = 0;
        for (uint32_t candidate = 1, rank = 0; candidate <= 6 && chosen == 0; ++candidate) {
            if (used[candidate]) continue;
            if (rank++ == digit) chosen = candidate;
        }
        if (chosen == 0) return DZCRASH_EINVAL;
        used[chosen] = true;
        registers[i] = chosen;
    }
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t dzcrash_async_cfe_entry_apply(task_t task, dzcrash_vm_address_t function_address,
                                              const dzcrash_async_thread_state* thread_state,
                                              const dzcrash_async_cfe_entry_t* entry,
                                              dzcrash_async_thread_state* new_thread_state) noexcept {
    // arm64 entries name registers of a set this system does not have.
    if (entry->cputype != CPU_TYPE_X86 && entry->cputype != CPU_TYPE_X86_64) return DZCRASH_ENOTSUP;
    const size_t w = dzcrash_async_thread_state_get_greg_size(thread_state);
    dzcrash_async_thread_state next;
    dzcrash_async_thread_state_copy(&next, thread_state);
    dzcrash_async_thread_state_clear_volatile_regs(&next);

    dzcrash_vm_address_t saved_base = 0;
    dzcrash_error_t error = DZCRASH_ESUCCESS;
    switch (entry->type) {
        case DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR: {
            if (!dzcrash_async_thread_state_has_reg(thread_state, DZCRASH_REG_FP)) return DZCRASH_ENOTFOUND;
            const uint64_t fp = dzcrash_async_thread_state_get_reg(thread_state, DZCRASH_REG_FP);
            dzcrash_vm_address_t new_sp = 0;
            if (!dzcrash_add_checked(fp, static_cast<dzcrash_vm_off_t>(2 * w), &new_sp))
                return DZCRASH_EINVAL;
            uint64_t caller_fp = 0;
            uint64_t return_address = 0;
            if ((error = read_word(task, fp, w, &caller_fp)) != DZCRASH_ESUCCESS) return error;
            if ((error = read_word(task, fp + w, w, &return_address)) != DZCRASH_ESUCCESS) return error;
            if (!dzcrash_add_checked(fp, entry->stack_offset, &saved_base)) return DZCRASH_EINVAL;
            dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_FP, caller_fp);
            dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_IP, return_address);
            dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_SP, new_sp);
            break;
        }
        case DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD:
        case DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT: {
            if (!dzcrash_async_thread_state_has_reg(thread_state, DZCRASH_REG_SP)) return DZCRASH_ENOTFOUND;
            const uint64_t sp = dzcrash_async_thread_state_get_reg(thread_state, DZCRASH_REG_SP);
            uint64_t stack_size = static_cast<uint64_t>(entry->stack_offset);
            if (entry->type == DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT) {
                // The size is the immediate of the function's own stack adjustment.
                uint32_t immediate = 0;
                error = dzcrash_safe_read_uint32(task, dzcrash_byteorder_direct(), function_address,
                                                 entry->stack_offset, &immediate);
                if (error != DZCRASH_ESUCCESS) return error;
                stack_size = uint64_t{immediate} + entry->stack_adjust;
            }
            const uint64_t new_sp = sp + stack_size;
            const uint64_t slots = uint64_t{entry->register_count} * w;
            if (entry->return_address_register == DZCRASH_ASYNC_CFE_NO_REGISTER) {
                uint64_t return_address = 0;
                if ((error = read_word(task, new_sp - w, w, &return_address)) != DZCRASH_ESUCCESS)
                    return error;
                dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_IP, return_address);
                saved_base = new_sp - w - slots;
            } else {
                const uint32_t reg = entry->return_address_register;
                if (!dzcrash_async_thread_state_has_reg(thread_state, reg)) return DZCRASH_ENOTFOUND;
                dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_IP,
                                                   dzcrash_async_thread_state_get_reg(thread_state, reg));
                saved_base = new_sp - slots;
            }
            dzcrash_async_thread_state_set_reg(&next, DZCRASH_REG_SP, new_sp);
            break;
        }
        default:
            return DZCRASH_ENOTSUP;
    }

    // Every slot takes one word, an empty one too.
    for (uint32_t i = 0; i < entry->register_count; ++i) {
        const uint32_t reg = entry->register_list[i];
        if (reg == DZCRASH_ASYNC_CFE_NO_REGISTER) continue;
        uint64_t value = 0;
        if ((error = read_word(task, saved_base + i * w, w, &value)) != DZCRASH_ESUCCESS) return error;
        dzcrash_async_thread_state_set_reg(&next, reg, value);
    }
    dzcrash_async_thread_state_copy(new_thread_state, &next);
    return DZCRASH_ESUCCESS;
}
