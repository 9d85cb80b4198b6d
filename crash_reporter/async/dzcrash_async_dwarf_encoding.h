#pragma once
// Reading DWARF call-frame information out of a memory object: LEB128 numbers, the GNU pointer
// encodings of .eh_frame, and the CIE and FDE records of .eh_frame or debug-frame data. Every
// template exists for a 32-bit target (unsigned int) and a 64-bit one (unsigned long long); they
// differ in the width of target pointers. Nothing here allocates or faults on malformed bytes: each
// refusal is a result code. Async-signal-safe.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_mobject.h"

namespace dzcrash::async {

// Pointer encodings: the low four bits give the value's format, bits 4-6 what it is relative to,
// bit 7 that it is the address of the pointer; 0xff that it is absent.
enum : uint8_t {
    DW_EH_PE_absptr = 0x00,
    DW_EH_PE_uleb128 = 0x01,
    DW_EH_PE_udata2 = 0x02,
    DW_EH_PE_udata4 = 0x03,
    DW_EH_PE_udata8 = 0x04,
    DW_EH_PE_sleb128 = 0x09,
    DW_EH_PE_sdata2 = 0x0a,
    DW_EH_PE_sdata4 = 0x0b,
    DW_EH_PE_sdata8 = 0x0c,
    DW_EH_PE_pcrel = 0x10,
    DW_EH_PE_textrel = 0x20,
    DW_EH_PE_datarel = 0x30,
    DW_EH_PE_funcrel = 0x40,
    DW_EH_PE_aligned = 0x50,
    DW_EH_PE_indirect = 0x80,
    DW_EH_PE_omit = 0xff,
};

// The number at `location + offset` and the bytes it took. ULEB128 takes at most 10 bytes and
// SLEB128 64 bits (DZCRASH_ENOTSUP beyond); a byte outside the object is DZCRASH_EINVAL.
dzcrash_error_t read_uleb128(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                             dzcrash_vm_off_t offset, uint64_t* result, dzcrash_vm_size_t* size) noexcept;
dzcrash_error_t read_sleb128(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                             dzcrash_vm_off_t offset, int64_t* result, dzcrash_vm_size_t* size) noexcept;
// The same straight from task memory, through a mapping made for the one read.
dzcrash_error_t task_read_uleb128(task_t task, dzcrash_vm_address_t location, dzcrash_vm_off_t offset,
                                  uint64_t* result, dzcrash_vm_size_t* size) noexcept;
dzcrash_error_t task_read_sleb128(task_t task, dzcrash_vm_address_t location, dzcrash_vm_off_t offset,
                                  int64_t* result, dzcrash_vm_size_t* size) noexcept;

// Reads encoded pointers. Relative forms other than pc-relative need their base set; the unwinder
// sets none, so for it only absolute and pc-relative pointers resolve.
template <typename T>
class gnu_ehptr_reader {
  public:
    explicit gnu_ehptr_reader(const dzcrash_async_byteorder_t* byteorder) noexcept : byteorder_(byteorder) {}

    void set_frame_section_base(dzcrash_vm_address_t base, dzcrash_vm_address_t vm_address) noexcept;
    void set_text_base(dzcrash_vm_address_t base) noexcept;
    void set_data_base(dzcrash_vm_address_t base) noexcept;
    void set_func_base(dzcrash_vm_address_t base) noexcept;

    // The pointer at `location + offset` and the bytes it took (alignment padding included):
    // DZCRASH_ENOTFOUND for the omitted encoding, DZCRASH_ENOTSUP for a form it cannot resolve,
    // DZCRASH_EINVAL for bytes outside the object; an indirect read passes up its error.
    dzcrash_error_t read(const dzcrash_async_mobject_t* mobj, dzcrash_vm_address_t location,
                         dzcrash_vm_off_t offset, uint8_t encoding, T* result,
                         dzcrash_vm_size_t* size) const noexcept;

  private:
    struct base {
        bool valid = false;
        dzcrash_vm_address_t address = 0;
    };
    const dzcrash_async_byteorder_t* byteorder_;
    base frame_section_;
    dzcrash_vm_address_t frame_section_vm_address_ = 0;
    base text_;
    base data_;
    base func_;
};

// A Common Information Entry. Offsets count from the start of the section (the memory object's
// base address).
struct dzcrash_async_dwarf_cie_info_t {
    uint64_t cie_offset;  // of the body, after the length
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    uint8_t address_size;  // version 4 only
    uint8_t segment_size;  // version 4 only
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    struct {
        bool data_present;  // 'z'
        bool lsda_encoding_present;
        uint8_t lsda_encoding;
        bool personality_address_present;
        uint8_t personality_encoding;
        uint64_t personality_address;
        bool pointer_encoding_present;
        uint8_t pointer_encoding;
        bool signal_frame;
    } eh_augmentation;
    uint64_t initial_instructions_offset;
    uint64_t initial_instructions_length;
};

// A Frame Description Entry; pc_end is one past the last covered address.
struct dzcrash_async_dwarf_fde_info_t {
    uint64_t fde_offset;  // of the body, after the length
    uint64_t fde_length;
    uint64_t cie_offset;  // of the CIE's length field
    uint64_t pc_start;
    uint64_t pc_end;
    uint64_t fde_instruction_offset;
    uint64_t fde_instruction_length;
};

// Parses the CIE whose length field is at `address`: DZCRASH_EINVAL for malformed or truncated
// records and versions other than 1, 3 and 4; DZCRASH_ENOTSUP for an augmentation not led by 'z'.
template <typename T>
dzcrash_error_t dzcrash_async_dwarf_cie_info_init(dzcrash_async_dwarf_cie_info_t* info,
                                                  const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  const gnu_ehptr_reader<T>* reader,
                                                  dzcrash_vm_address_t address) noexcept;
void dzcrash_async_dwarf_cie_info_free(dzcrash_async_dwarf_cie_info_t* info) noexcept;

// Parses the FDE whose length field is at `address`, and its CIE for the pointer encoding.
template <typename T>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init(dzcrash_async_dwarf_fde_info_t* info,
                                                  const dzcrash_async_mobject_t* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  dzcrash_vm_address_t address, bool debug_frame) noexcept;
void dzcrash_async_dwarf_fde_info_free(dzcrash_async_dwarf_fde_info_t* info) noexcept;

// A frame section (.eh_frame, or debug-frame data) held by a memory object, and optionally a table
// of its FDEs sorted by the start of their functions.
struct dwarf_frame_reader {
    const dzcrash_async_mobject_t* mobj;
    const dzcrash_async_byteorder_t* byteorder;
    bool m64;
    bool debug_frame;
    const dzcrash_async_mobject_t* table;
    uint64_t table_count;
    dzcrash_vm_address_t table_base;
};
void dwarf_frame_reader_init(dwarf_frame_reader* reader, const dzcrash_async_mobject_t* mobj,
                             const dzcrash_async_byteorder_t* byteorder, bool m64, bool debug_frame) noexcept;
// `count` entries from the start of `table`: pairs of signed 4-byte offsets from `base`, a function's
// start and its FDE's length field, sorted by the start (the form of an ELF frame header's table).
void dwarf_frame_reader_use_search_table(dwarf_frame_reader* reader, const dzcrash_async_mobject_t* table,
                                         uint64_t count, dzcrash_vm_address_t base) noexcept;
// The first FDE from `offset` with pc_start <= pc < pc_end. With a search table, the FDE the table
// gives for `pc` is taken when it lies there and covers `pc`; otherwise the entries are walked from
// `offset`: DZCRASH_ENOTFOUND at the section's end or a zero length, DZCRASH_EINVAL for an unreadable
// header or an entry that wraps or leaves the section; an FDE that does not parse answers its error.
dzcrash_error_t dwarf_frame_reader_find_fde(const dwarf_frame_reader* reader, dzcrash_vm_off_t offset,
                                            uint64_t pc, dzcrash_async_dwarf_fde_info_t* fde) noexcept;

}  // namespace dzcrash::async
