#include "crash_reporter/async/dzcrash_async_dwarf_encoding.h"

namespace dzcrash::async {

namespace {

// One LEB128 decoder for both sources of bytes; `next` answers false for a byte it cannot give.
template <class NextByte>
dzcrash_error_t decodeLeb128(NextByte next, bool is_signed, uint64_t* result,
                             dzcrash_vm_size_t* size) noexcept {
    uint64_t value = 0;
    unsigned shift = 0;
    dzcrash_vm_size_t count = 0;
    uint8_t byte;
    do {
        // Ten bytes carry 70 bits; one more continuation has no room left in 64.
        if (count == 10 || (is_signed && shift >= 64)) return DZCRASH_ENOTSUP;
        if (!next(count, &byte)) return DZCRASH_EINVAL;
        if (shift < 64) value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        shift += 7;
        ++count;
    } while (byte & 0x80);
    if (is_signed && shift < 64 && (byte & 0x40)) value |= ~uint64_t{0} << shift;
    *result = value;
    *size = count;
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t mobjectLeb128(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                              dzcrash_vm_off_t offset, bool is_signed, uint64_t* result,
                              dzcrash_vm_size_t* size) noexcept {
    return decodeLeb128(
        [&](dzcrash_vm_size_t index, uint8_t* byte) {
            dzcrash_vm_off_t at;
            if (__builtin_add_overflow(offset, static_cast<dzcrash_vm_off_t>(index), &at)) return false;
            return dzcrash_async_mobject_read_uint8(mobj, location, at, byte) == DZCRASH_ESUCCESS;
        },
        is_signed, result, size);
}

dzcrash_error_t taskLeb128(task_t task, dzcrash_vm_address_t location, dzcrash_vm_off_t offset,
                           bool is_signed, uint64_t* result, dzcrash_vm_size_t* size) noexcept {
    dzcrash_vm_address_t start;
    if (!dzcrash_add_checked(location, offset, &start)) return DZCRASH_EINVAL;
    dzcrash_async_mobject_t mobj;
    // Ten bytes are the longest number; whatever of them is readable is mapped.
    const dzcrash_error_t mapped = dzcrash_async_mobject_init(&mobj, task, start, 10, false);
    if (mapped != DZCRASH_ESUCCESS) return mapped;
    const dzcrash_error_t error = mobjectLeb128(&mobj, start, 0, is_signed, result, size);
    dzcrash_async_mobject_free(&mobj);
    return error;
}

}  // namespace

dzcrash_error_t read_uleb128(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                             dzcrash_vm_off_t offset, uint64_t* result, dzcrash_vm_size_t* size) noexcept {
    return mobjectLeb128(mobj, location, offset, false, result, size);
}

dzcrash_error_t read_sleb128(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                             dzcrash_vm_off_t offset, int64_t* result, dzcrash_vm_size_t* size) noexcept {
    return mobjectLeb128(mobj, location, offset, true, reinterpret_cast<uint64_t*>(result), size);
}

dzcrash_error_t task_read_uleb128(task_t task, dzcrash_vm_address_t location, dzcrash_vm_off_t offset,
                                  uint64_t* result, dzcrash_vm_size_t* size) noexcept {
    return taskLeb128(task, location, offset, false, result, size);
}

dzcrash_error_t task_read_sleb128(task_t task, dzcrash_vm_address_t location, dzcrash_vm_off_t offset,
                                  int64_t* result, dzcrash_vm_size_t* size) noexcept {
    return taskLeb128(task, location, offset, true, reinterpret_cast<uint64_t*>(result), size);
}

template <typename T>
void gnu_ehptr_reader<T>::set_frame_section_base(dzcrash_vm_address_t base,
                                                 dzcrash_vm_address_t vm_address) noexcept {
    frame_section_ = {true, base};
    frame_section_vm_address_ = vm_address;
}
template <typename T>
void gnu_ehptr_reader<T>::set_text_base(dzcrash_vm_address_t base) noexcept {
    text_ = {true, base};
}
template <typename T>
void gnu_ehptr_reader<T>::set_data_base(dzcrash_vm_address_t base) noexcept {
    data_ = {true, base};
}
template <typename T>
void gnu_ehptr_reader<T>::set_func_base(dzcrash_vm_address_t base) noexcept {
    func_ = {true, base};
}

template <typename T>
dzcrash_error_t gnu_ehptr_reader<T>::read(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                                          dzcrash_vm_off_t offset, uint8_t encoding, T* result,
                                          dzcrash_vm_size_t* size) const noexcept {
    if (encoding == DW_EH_PE_omit) return DZCRASH_ENOTFOUND;
    dzcrash_vm_address_t field;
    if (!dzcrash_add_checked(location, offset, &field)) return DZCRASH_EINVAL;
    T base = 0;
    dzcrash_vm_size_t padding = 0;
    switch (encoding & 0x70) {
        case DW_EH_PE_absptr:
            break;
        case DW_EH_PE_pcrel:
            base = static_cast<T>(field);
            break;
        case DW_EH_PE_textrel:
            if (!text_.valid) return DZCRASH_ENOTSUP;
            base = static_cast<T>(text_.address);
            break;
        case DW_EH_PE_datarel:
            if (!data_.valid) return DZCRASH_ENOTSUP;
            base = static_cast<T>(data_.address);
            break;
        case DW_EH_PE_funcrel:
            if (!func_.valid) return DZCRASH_ENOTSUP;
            base = static_cast<T>(func_.address);
            break;
        case DW_EH_PE_aligned: {
            if (!frame_section_.valid) return DZCRASH_ENOTSUP;
            // Aligned as the section will be once loaded at its vm address.
            const uint64_t position = field + frame_section_vm_address_ - frame_section_.address;
            padding = (8 - (position & 7)) & 7;
            field += padding;
            break;
        }
        default:
            return DZCRASH_ENOTSUP;
    }

    uint64_t value = 0;
    dzcrash_vm_size_t length = 0;
    dzcrash_error_t error = DZCRASH_ESUCCESS;
    switch (encoding & 0x0f) {
        case DW_EH_PE_absptr:
            if (sizeof(T) == 8) {
                error = dzcrash_async_mobject_read_uint64(mobj, byteorder_, field, 0, &value);
            } else {
                uint32_t word = 0;
                error = dzcrash_async_mobject_read_uint32(mobj, byteorder_, field, 0, &word);
                value = word;
            }
            length = sizeof(T);
            break;
        case DW_EH_PE_uleb128:
            error = read_uleb128(mobj, field, 0, &value, &length);
            break;
        case DW_EH_PE_udata2:
        case DW_EH_PE_sdata2: {
            uint16_t half = 0;
            error = dzcrash_async_mobject_read_uint16(mobj, byteorder_, field, 0, &half);
            value = (encoding & 0x0f) == DW_EH_PE_sdata2
                        ? static_cast<uint64_t>(int64_t{static_cast<int16_t>(half)})
                        : half;
            length = 2;
            break;
        }
        case DW_EH_PE_udata4:
        case DW_EH_PE_sdata4: {
            uint32_t word = 0;
            error = dzcrash_async_mobject_read_uint32(mobj, byteorder_, field, 0, &word);
            value = (encoding & 0x0f) == DW_EH_PE_sdata4
                        ? static_cast<uint64_t>(int64_t{static_cast<int32_t>(word)})
                        : word;
            length = 4;
            break;
        }
        case DW_EH_PE_udata8:
        case DW_EH_PE_sdata8:
            error = dzcrash_async_mobject_read_uint64(mobj, byteorder_, field, 0, &value);
            length = 8;
            break;
        case DW_EH_PE_sleb128:
            error = read_sleb128(mobj, field, 0, reinterpret_cast<int64_t*>(&value), &length);
            break;
        default:
            return DZCRASH_ENOTSUP;
    }
    if (error != DZCRASH_ESUCCESS) return error;

    T address = static_cast<T>(base + static_cast<T>(value));
    if (encoding & DW_EH_PE_indirect) {
        // The pointer lives in the task (a GOT entry), not in the section.
        T target = 0;
        error = dzcrash_safe_read(dzcrash_async_mobject_task(mobj), address, 0, &target, sizeof target);
        if (error != DZCRASH_ESUCCESS) return error;
        address = target;
    }
    *result = address;
    *size = padding + length;
    return DZCRASH_ESUCCESS;
}

namespace {

// The length field at `address`: the header's size (4, or 12 for the 64-bit form) and the
// entry's end; false when unreadable or when the end wraps.
bool readEntryLength(const dzcrash_async_mobject_t* mobj, const dzcrash_async_byteorder_t* byteorder,
                     dzcrash_vm_address_t address, uint64_t* length, uint64_t* header,
                     uint64_t* end) noexcept {
    uint32_t short_length;
    if (dzcrash_async_mobject_read_uint32(mobj, byteorder, address, 0, &short_length) != DZCRASH_ESUCCESS)
        return false;
    if (short_length == 0xffffffff) {
        if (dzcrash_async_mobject_read_uint64(mobj, byteorder, address, 4, length) != DZCRASH_ESUCCESS)
            return false;
        *header = 12;
    } else {
        *length = short_length;
        *header = 4;
    }
    return !__builtin_add_overflow(address + *header, *length, end) && address + *header > address;
}

// Reads an id or CIE pointer as wide as the length form says.
bool readIdField(const dzcrash_async_mobject_t* mobj, const dzcrash_async_byteorder_t* byteorder,
                 dzcrash_vm_address_t address, bool wide, uint64_t* value) noexcept {
    if (wide)
        return dzcrash_async_mobject_read_uint64(mobj, byteorder, address, 0, value) == DZCRASH_ESUCCESS;
    uint32_t word;
    if (dzcrash_async_mobject_read_uint32(mobj, byteorder, address, 0, &word) != DZCRASH_ESUCCESS)
        return false;
    *value = word;
    return true;
}

// Steps through an entry's fields, refusing any that would run past its end.
struct FieldCursor {
    const dzcrash_async_mobject_t* mobj;
    dzcrash_vm_address_t position;
    dzcrash_vm_address_t end;

    bool advance(dzcrash_vm_size_t size) noexcept {
        if (size > end - position) return false;
        position += size;
        return true;
    }
    dzcrash_error_t byte(uint8_t* value) noexcept {
        if (position >= end || dzcrash_async_mobject_read_uint8(mobj, position, 0, value) != DZCRASH_ESUCCESS)
            return DZCRASH_EINVAL;
        ++position;
        return DZCRASH_ESUCCESS;
    }
    dzcrash_error_t uleb(uint64_t* value) noexcept {
        dzcrash_vm_size_t size;
        const dzcrash_error_t error = read_uleb128(mobj, position, 0, value, &size);
        if (error != DZCRASH_ESUCCESS) return error;
        return advance(size) ? DZCRASH_ESUCCESS : DZCRASH_EINVAL;
    }
    dzcrash_error_t sleb(int64_t* value) noexcept {
        dzcrash_vm_size_t size;
        const dzcrash_error_t error = read_sleb128(mobj, position, 0, value, &size);
        if (error != DZCRASH_ESUCCESS) return error;
        return advance(size) ? DZCRASH_ESUCCESS : DZCRASH_EINVAL;
    }
    template <typename T>
    dzcrash_error_t pointer(const gnu_ehptr_reader<T>* reader, uint8_t encoding, uint64_t* value) noexcept {
        T pointer = 0;
        dzcrash_vm_size_t size;
        const dzcrash_error_t error = reader->read(mobj, position, 0, encoding, &pointer, &size);
        if (error != DZCRASH_ESUCCESS) return error;
        *value = pointer;
        return advance(size) ? DZCRASH_ESUCCESS : DZCRASH_EINVAL;
    }
};

#define DZCRASH_TRY(expression)                        \
    do {                                               \
        const dzcrash_error_t tried_ = (expression);   \
        if (tried_ != DZCRASH_ESUCCESS) return tried_; \
    } while (0)

}  // namespace

template <typename T>
dzcrash_error_t dzcrash_async_dwarf_cie_info_init(dzcrash_async_dwarf_cie_info_t* info,
                                                  const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  const gnu_ehptr_reader<T>* reader,
                                                  dzcrash_vm_address_t address) noexcept {
    *info = {};
    const dzcrash_vm_address_t section = dzcrash_async_mobject_base_address(mobj);
    uint64_t length, header, end;
    if (address < section || !readEntryLength(mobj, byteorder, address, &length, &header, &end))
        return DZCRASH_EINVAL;
    info->cie_offset = address + header - section;
    info->cie_length = length;
    FieldCursor fields{mobj, address + header, end};
    const bool wide = header == 12;
    if (!readIdField(mobj, byteorder, fields.position, wide, &info->cie_id) || !fields.advance(wide ? 8 : 4))
        return DZCRASH_EINVAL;
    if (info->cie_id != 0 && info->cie_id != (wide ? UINT64_MAX : UINT32_MAX)) return DZCRASH_EINVAL;

    DZCRASH_TRY(fields.byte(&info->cie_version));
    if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) return DZCRASH_EINVAL;

    const dzcrash_vm_address_t augmentation = fields.position;
    uint8_t letter;
    do {
        DZCRASH_TRY(fields.byte(&letter));
    } while (letter != 0);
    uint8_t first = 0;
    dzcrash_async_mobject_read_uint8(mobj, augmentation, 0, &first);
    if (first != 0 && first != 'z') return DZCRASH_ENOTSUP;
    info->eh_augmentation.data_present = first == 'z';

    if (info->cie_version == 4) {
        DZCRASH_TRY(fields.byte(&info->address_size));
        DZCRASH_TRY(fields.byte(&info->segment_size));
    }
    DZCRASH_TRY(fields.uleb(&info->code_alignment_factor));
    DZCRASH_TRY(fields.sleb(&info->data_alignment_factor));
    DZCRASH_TRY(fields.uleb(&info->return_address_register));

    if (info->eh_augmentation.data_present) {
        uint64_t data_length;
        DZCRASH_TRY(fields.uleb(&data_length));
        const dzcrash_vm_address_t data_start = fields.position;
        if (data_length > end - data_start) return DZCRASH_EINVAL;
        // The data is bounded by its own length: a letter's field never reads past it.
        FieldCursor data{mobj, data_start, data_start + data_length};
        bool interpreting = true;
        for (dzcrash_vm_address_t at = augmentation + 1; interpreting; ++at) {
            DZCRASH_TRY(dzcrash_async_mobject_read_uint8(mobj, at, 0, &letter) == DZCRASH_ESUCCESS
                            ? DZCRASH_ESUCCESS
                            : DZCRASH_EINVAL);
            auto& aug = info->eh_augmentation;
            switch (letter) {
                case 'L':
                    DZCRASH_TRY(data.byte(&aug.lsda_encoding));
                    aug.lsda_encoding_present = true;
                    break;
                case 'P':
                    DZCRASH_TRY(data.byte(&aug.personality_encoding));
                    DZCRASH_TRY(data.pointer(reader, aug.personality_encoding, &aug.personality_address));
                    aug.personality_address_present = true;
                    break;
                case 'R':
                    DZCRASH_TRY(data.byte(&aug.pointer_encoding));
                    aug.pointer_encoding_present = true;
                    break;
                case 'S':
                    aug.signal_frame = true;
                    break;
                default:  // the string's end, or a letter this reader does not know
                    interpreting = false;
                    break;
            }
        }
        fields.position = data_start + data_length;
    }
    info->initial_instructions_offset = fields.position - section;
    info->initial_instructions_length = end - fields.position;
    return DZCRASH_ESUCCESS;
}

void dzcrash_async_dwarf_cie_info_free(dzcrash_async_dwarf_cie_info_t*) noexcept {}

template <typename T>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init(dzcrash_async_dwarf_fde_info_t* info,
                                                  const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t address, bool debug_frame) noexcept {
    *info = {};
    const dzcrash_vm_address_t section = dzcrash_async_mobject_base_address(mobj);
    uint64_t length, header, end;
    if (address < section || !readEntryLength(mobj, byteorder, address, &length, &header, &end))
        return DZCRASH_EINVAL;
    info->fde_offset = address + header - section;
    info->fde_length = length;
    const bool wide = header == 12;
    FieldCursor fields{mobj, address + header, end};
    uint64_t pointer;
    if (!readIdField(mobj, byteorder, fields.position, wide, &pointer)) return DZCRASH_EINVAL;
    dzcrash_vm_address_t cie_address;
    if (debug_frame) {
        if (static_cast<int64_t>(pointer) < 0 || __builtin_add_overflow(section, pointer, &cie_address))
            return DZCRASH_EINVAL;
    } else {
        if (pointer > fields.position) return DZCRASH_EINVAL;
        cie_address = fields.position - pointer;
    }
    if (!fields.advance(wide ? 8 : 4) || cie_address < section) return DZCRASH_EINVAL;
    info->cie_offset = cie_address - section;

    const gnu_ehptr_reader<T> reader(byteorder);
    dzcrash_async_dwarf_cie_info_t cie;
    DZCRASH_TRY(dzcrash_async_dwarf_cie_info_init<T>(&cie, mobj, byteorder, &reader, cie_address));
    const uint8_t encoding = cie.eh_augmentation.data_present && cie.eh_augmentation.pointer_encoding_present
                                 ? cie.eh_augmentation.pointer_encoding
                                 : uint8_t{DW_EH_PE_absptr};
    DZCRASH_TRY(fields.pointer(&reader, encoding, &info->pc_start));
    uint64_t range;
    DZCRASH_TRY(fields.pointer(&reader, encoding & 0x0f, &range));
    const T start = static_cast<T>(info->pc_start);
    const T range_value = static_cast<T>(range);
    if (static_cast<T>(start + range_value) < start) return DZCRASH_EINVAL;
    info->pc_end = static_cast<T>(start + range_value);

    if (cie.eh_augmentation.data_present) {
        uint64_t data_length;
        DZCRASH_TRY(fields.uleb(&data_length));
        if (!fields.advance(data_length)) return DZCRASH_EINVAL;
    }
    info->fde_instruction_offset = fields.position - section;
    info->fde_instruction_length = end - fields.position;
    return DZCRASH_ESUCCESS;
}

void dzcrash_async_dwarf_fde_info_free(dzcrash_async_dwarf_fde_info_t*) noexcept {}

void dwarf_frame_reader_init(dwarf_frame_reader* reader, const dzcrash_async_mobject_t* mobj,
                             const dzcrash_async_byteorder_t* byteorder, bool m64,
                             bool debug_frame) noexcept {
    *reader = {mobj, byteorder, m64, debug_frame, nullptr, 0, 0};
}

void dwarf_frame_reader_use_search_table(dwarf_frame_reader* reader, const dzcrash_async_mobject_t* table,
                                         uint64_t count, dzcrash_vm_address_t base) noexcept {
    reader->table = table;
    reader->table_count = count;
    reader->table_base = base;
}

namespace {

// Field `field` (0 the function's start, 1 the FDE) of table entry `index`, as a task address.
bool readTableAddress(const dwarf_frame_reader* reader, uint64_t index, int field,
                      dzcrash_vm_address_t* address) noexcept {
    uint32_t offset;
    if (dzcrash_async_mobject_read_uint32(
            reader->table, reader->byteorder, dzcrash_async_mobject_base_address(reader->table),
            static_cast<dzcrash_vm_off_t>(index * 8 + uint64_t(field) * 4), &offset) != DZCRASH_ESUCCESS) {
        return false;
    }
    *address = reader->table_base + static_cast<uint64_t>(int64_t{static_cast<int32_t>(offset)});
    return true;
}

dzcrash_error_t parseFde(const dwarf_frame_reader* reader, dzcrash_vm_address_t position,
                         dzcrash_async_dwarf_fde_info_t* fde) noexcept {
    return reader->m64 ? dzcrash_async_dwarf_fde_info_init<unsigned long long>(
                             fde, reader->mobj, reader->byteorder, position, reader->debug_frame)
                       : dzcrash_async_dwarf_fde_info_init<unsigned int>(fde, reader->mobj, reader->byteorder,
                                                                         position, reader->debug_frame);
}

// The FDE the search table gives for `pc`, when it lies in [start, end) and covers `pc`: a halving
// search instead of a walk over every entry before it.
bool findThroughTable(const dwarf_frame_reader* reader, dzcrash_vm_address_t start, dzcrash_vm_address_t end,
                      uint64_t pc, dzcrash_async_dwarf_fde_info_t* fde) noexcept {
    // The last entry whose function starts at or below `pc`.
    uint64_t low = 0;
    uint64_t high = reader->table_count;
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        dzcrash_vm_address_t function;
        if (!readTableAddress(reader, middle, 0, &function)) return false;
        if (function <= pc) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    dzcrash_vm_address_t position;
    if (low == 0 || !readTableAddress(reader, low - 1, 1, &position)) return false;
    if (position < start || position >= end) return false;
    return parseFde(reader, position, fde) == DZCRASH_ESUCCESS && fde->pc_start <= pc && pc < fde->pc_end;
}

}  // namespace

dzcrash_error_t dwarf_frame_reader_find_fde(const dwarf_frame_reader* reader, dzcrash_vm_off_t offset,
                                            uint64_t pc, dzcrash_async_dwarf_fde_info_t* fde) noexcept {
    const dzcrash_async_mobject_t* mobj = reader->mobj;
    const dzcrash_vm_address_t section = dzcrash_async_mobject_base_address(mobj);
    const dzcrash_vm_address_t section_end = section + dzcrash_async_mobject_length(mobj);
    dzcrash_vm_address_t position;
    if (!dzcrash_add_checked(section, offset, &position)) return DZCRASH_EINVAL;
    if (reader->table_count != 0 && findThroughTable(reader, position, section_end, pc, fde))
        return DZCRASH_ESUCCESS;
    while (position < section_end) {
        uint64_t length, header, end;
        if (!readEntryLength(mobj, reader->byteorder, position, &length, &header, &end))
            return DZCRASH_EINVAL;
        if (length == 0) return DZCRASH_ENOTFOUND;
        if (end > section_end) return DZCRASH_EINVAL;
        const bool wide = header == 12;
        uint64_t id;
        if (!readIdField(mobj, reader->byteorder, position + header, wide, &id)) return DZCRASH_EINVAL;
        const bool is_cie = reader->debug_frame ? id == (wide ? UINT64_MAX : UINT32_MAX) : id == 0;
        if (!is_cie) {
            DZCRASH_TRY(parseFde(reader, position, fde));
            if (fde->pc_start <= pc && pc < fde->pc_end) return DZCRASH_ESUCCESS;
        }
        position = end;
    }
    return DZCRASH_ENOTFOUND;
}

template class gnu_ehptr_reader<unsigned int>;
template class gnu_ehptr_reader<unsigned long long>;
template dzcrash_error_t dzcrash_async_dwarf_cie_info_init<unsigned int>(
    dzcrash_async_dwarf_cie_info_t*, const dzcrash_async_mobject_t*, const dzcrash_async_byteorder_t*,
    const gnu_ehptr_reader<unsigned int>*, dzcrash_vm_address_t) noexcept;
template dzcrash_error_t dzcrash_async_dwarf_cie_info_init<unsigned long long>(
    dzcrash_async_dwarf_cie_info_t*, const dzcrash_async_mobject_t*, const dzcrash_async_byteorder_t*,
    const gnu_ehptr_reader<unsigned long long>*, dzcrash_vm_address_t) noexcept;
template dzcrash_error_t dzcrash_async_dwarf_fde_info_init<unsigned int>(dzcrash_async_dwarf_fde_info_t*,
                                                                         const dzcrash_async_mobject_t*,
                                                                         const dzcrash_async_byteorder_t*,
                                                                         dzcrash_vm_address_t, bool) noexcept;
template dzcrash_error_t dzcrash_async_dwarf_fde_info_init<unsigned long long>(
    dzcrash_async_dwarf_fde_info_t*, const dzcrash_async_mobject_t*, const dzcrash_async_byteorder_t*,
    dzcrash_vm_address_t, bool) noexcept;

}  // namespace dzcrash::async
