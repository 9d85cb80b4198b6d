#include "crash_reporter/async/dzcrash_async_dwarf_cfa_state.h"

#include "crash_reporter/async/dzcrash_async_dwarf_expression.h"

namespace dzcrash::async {

template <typename T, typename S>
dwarf_cfa_state<T, S>::dwarf_cfa_state() noexcept {
    for (uint8_t index = 0; index < kPoolSize; ++index) {
        pool_[index].next = index + 1 < kPoolSize ? index + 1 : kNone;
    }
    free_list_ = 0;
    for (uint8_t level = 0; level < kLevels; ++level) {
        for (uint8_t bucket = 0; bucket < kBuckets; ++bucket) table_[level][bucket] = kNone;
        count_[level] = 0;
        cfa_[level] = {};
    }
}

template <typename T, typename S>
bool dwarf_cfa_state<T, S>::set_register(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t rule,
                                         T value) noexcept {
    uint8_t* link = &table_[level_][regnum % kBuckets];
    while (*link != kNone) {
        entry& existing = pool_[*link];
        if (existing.regnum == regnum) {
            existing.rule = rule;
            existing.value = value;
            return true;
        }
        link = &existing.next;
    }
    if (free_list_ == kNone) return false;
    const uint8_t index = free_list_;
    free_list_ = pool_[index].next;
    pool_[index] = {value, regnum, rule, kNone};
    *link = index;
    ++count_[level_];
    return true;
}

template <typename T, typename S>
bool dwarf_cfa_state<T, S>::get_register_rule(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t* rule,
                                              T* value) const noexcept {
    for (uint8_t index = table_[level_][regnum % kBuckets]; index != kNone; index = pool_[index].next) {
        if (pool_[index].regnum == regnum) {
            *rule = pool_[index].rule;
            *value = pool_[index].value;
            return true;
        }
    }
    return false;
}

template <typename T, typename S>
void dwarf_cfa_state<T, S>::remove_register(uint32_t regnum) noexcept {
    uint8_t* link = &table_[level_][regnum % kBuckets];
    while (*link != kNone) {
        const uint8_t index = *link;
        if (pool_[index].regnum == regnum) {
            *link = pool_[index].next;
            pool_[index].next = free_list_;
            free_list_ = index;
            --count_[level_];
            return;
        }
        link = &pool_[index].next;
    }
}

template <typename T, typename S>
uint8_t dwarf_cfa_state<T, S>::get_register_count() const noexcept {
    return count_[level_];
}

template <typename T, typename S>
void dwarf_cfa_state<T, S>::set_cfa_register(uint32_t regnum, T offset) noexcept {
    cfa_[level_] = {dwarf_cfa_rule<T, S>::REGISTER, regnum, offset, 0, 0};
}

template <typename T, typename S>
void dwarf_cfa_state<T, S>::set_cfa_register_signed(uint32_t regnum, S offset) noexcept {
    cfa_[level_] = {dwarf_cfa_rule<T, S>::REGISTER_SIGNED, regnum, static_cast<T>(offset), 0, 0};
}

template <typename T, typename S>
void dwarf_cfa_state<T, S>::set_cfa_expression(T address, T length) noexcept {
    cfa_[level_] = {dwarf_cfa_rule<T, S>::EXPRESSION, 0, 0, address, length};
}

template <typename T, typename S>
dwarf_cfa_rule<T, S> dwarf_cfa_state<T, S>::get_cfa_rule() const noexcept {
    return cfa_[level_];
}

template <typename T, typename S>
void dwarf_cfa_state<T, S>::release_level() noexcept {
    for (uint8_t bucket = 0; bucket < kBuckets; ++bucket) {
        uint8_t index = table_[level_][bucket];
        while (index != kNone) {
            const uint8_t next = pool_[index].next;
            pool_[index].next = free_list_;
            free_list_ = index;
            index = next;
        }
        table_[level_][bucket] = kNone;
    }
    count_[level_] = 0;
    cfa_[level_] = {};
}

template <typename T, typename S>
bool dwarf_cfa_state<T, S>::push_state() noexcept {
    if (level_ + 1 >= kLevels) return false;
    const uint8_t from = level_;
    ++level_;
    cfa_[level_] = cfa_[from];
    for (uint8_t bucket = 0; bucket < kBuckets; ++bucket) {
        for (uint8_t index = table_[from][bucket]; index != kNone; index = pool_[index].next) {
            if (!set_register(pool_[index].regnum, pool_[index].rule, pool_[index].value)) {
                release_level();
                --level_;
                return false;
            }
        }
    }
    return true;
}

template <typename T, typename S>
bool dwarf_cfa_state<T, S>::pop_state() noexcept {
    if (level_ == 0) return false;
    // The level's rules go back to the pool, or a few remember/restore pairs would exhaust it.
    release_level();
    --level_;
    return true;
}

template <typename T, typename S>
bool dwarf_cfa_state<T, S>::iterator::next(uint32_t* regnum, dzcrash_dwarf_cfa_reg_rule_t* rule,
                                           T* value) noexcept {
    if (started_ && entry_ != kNone) entry_ = state_->pool_[entry_].next;
    started_ = true;
    while (entry_ == kNone) {
        if (bucket_ >= kBuckets) return false;
        entry_ = state_->table_[state_->level_][bucket_++];
    }
    const entry& found = state_->pool_[entry_];
    *regnum = found.regnum;
    *rule = found.rule;
    *value = found.value;
    return true;
}

namespace {

#define DZCRASH_TRY(expression)                        \
    do {                                               \
        const dzcrash_error_t tried_ = (expression);   \
        if (tried_ != DZCRASH_ESUCCESS) return tried_; \
    } while (0)

// Reads the operands of one instruction; each must lie inside the instruction range.
struct OperandReader {
    const dzcrash_async_mobject_t* mobj;
    const dzcrash_async_byteorder_t* byteorder;
    dzcrash_vm_address_t position;
    dzcrash_vm_address_t end;

    bool fits(dzcrash_vm_size_t size) const noexcept { return size <= end - position; }
    dzcrash_error_t fixed(dzcrash_vm_size_t size, uint64_t* value) noexcept {
        if (!fits(size)) return DZCRASH_EINVAL;
        dzcrash_error_t error;
        if (size == 1) {
            uint8_t byte = 0;
            error = dzcrash_async_mobject_read_uint8(mobj, position, 0, &byte);
            *value = byte;
        } else if (size == 2) {
            uint16_t half = 0;
            error = dzcrash_async_mobject_read_uint16(mobj, byteorder, position, 0, &half);
            *value = half;
        } else {
            uint32_t word = 0;
            error = dzcrash_async_mobject_read_uint32(mobj, byteorder, position, 0, &word);
            *value = word;
        }
        if (error != DZCRASH_ESUCCESS) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    }
    dzcrash_error_t uleb(uint64_t* value) noexcept {
        dzcrash_vm_size_t size;
        DZCRASH_TRY(read_uleb128(mobj, position, 0, value, &size));
        if (!fits(size)) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    }
    dzcrash_error_t sleb(int64_t* value) noexcept {
        dzcrash_vm_size_t size;
        DZCRASH_TRY(read_sleb128(mobj, position, 0, value, &size));
        if (!fits(size)) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    }
    dzcrash_error_t regnum(uint32_t* value) noexcept {
        uint64_t wide;
        DZCRASH_TRY(uleb(&wide));
        if (wide > UINT32_MAX) return DZCRASH_ENOTSUP;
        *value = static_cast<uint32_t>(wide);
        return DZCRASH_ESUCCESS;
    }
    // A ULEB128 length and the block it counts, which must end inside the range.
    dzcrash_error_t block(dzcrash_vm_size_t* length) noexcept {
        uint64_t size;
        DZCRASH_TRY(uleb(&size));
        if (!fits(size)) return DZCRASH_EINVAL;
        position += size;
        *length = size;
        return DZCRASH_ESUCCESS;
    }
};

}  // namespace

template <typename T, typename S>
dzcrash_error_t dwarf_cfa_state<T, S>::eval_program(
    const dzcrash_async_mobject_t* mobj, T pc, T initial_location, const dzcrash_async_dwarf_cie_info_t* cie,
    const gnu_ehptr_reader<T>* reader, const dzcrash_async_byteorder_t* byteorder,
    dzcrash_vm_address_t address, dzcrash_vm_off_t offset, dzcrash_vm_size_t length) noexcept {
    // The restore instructions go back to the rules in force when the program began.
    dwarf_cfa_state initial;
    {
        iterator rules(this);
        uint32_t regnum;
        dzcrash_dwarf_cfa_reg_rule_t rule;
        T value;
        while (rules.next(&regnum, &rule, &value)) {
            if (!initial.set_register(regnum, rule, value)) return DZCRASH_EINTERNAL;
        }
    }

    if (static_cast<dzcrash_vm_off_t>(length) < 0) return DZCRASH_EINVAL;
    dzcrash_vm_address_t start;
    if (!dzcrash_add_checked(address, offset, &start) || start + length < start ||
        (length != 0 && !dzcrash_async_mobject_remap_address(mobj, start, 0, length))) {
        return DZCRASH_EINVAL;
    }
    if (pc != 0 && pc < initial_location) return DZCRASH_ESUCCESS;

    const S data_alignment = static_cast<S>(cie->data_alignment_factor);
    const T code_alignment = static_cast<T>(cie->code_alignment_factor);
    OperandReader operands{mobj, byteorder, start, start + length};
    T location = initial_location;
    while (operands.position < operands.end) {
        uint64_t opcode;
        DZCRASH_TRY(operands.fixed(1, &opcode));
        uint32_t regnum = static_cast<uint32_t>(opcode & 0x3f);
        uint64_t unsigned_operand = 0;
        int64_t signed_operand = 0;
        bool stored = true;
        switch (opcode & 0xc0) {
            case 0x40:  // DW_CFA_advance_loc
                location += static_cast<T>((opcode & 0x3f) * code_alignment);
                break;
            case 0x80:  // DW_CFA_offset
                DZCRASH_TRY(operands.uleb(&unsigned_operand));
                stored = set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                      static_cast<T>(static_cast<S>(unsigned_operand) * data_alignment));
                break;
            case 0xc0: {  // DW_CFA_restore
                dzcrash_dwarf_cfa_reg_rule_t rule;
                T value;
                if (initial.get_register_rule(regnum, &rule, &value)) {
                    stored = set_register(regnum, rule, value);
                } else {
                    remove_register(regnum);
                }
                break;
            }
            default:
                switch (opcode) {
                    case 0x00:  // DW_CFA_nop
                        break;
                    case 0x01: {  // DW_CFA_set_loc
                        if (cie->segment_size != 0) return DZCRASH_ENOTSUP;
                        const uint8_t encoding = cie->eh_augmentation.pointer_encoding_present
                                                     ? cie->eh_augmentation.pointer_encoding
                                                     : uint8_t{DW_EH_PE_absptr};
                        T value;
                        dzcrash_vm_size_t size;
                        DZCRASH_TRY(reader->read(mobj, operands.position, 0, encoding, &value, &size));
                        if (!operands.fits(size)) return DZCRASH_EINVAL;
                        operands.position += size;
                        location = value;
                        break;
                    }
                    case 0x02:  // DW_CFA_advance_loc1, 2 and 4
                    case 0x03:
                    case 0x04:
                        DZCRASH_TRY(operands.fixed(opcode == 0x02   ? 1
                                                   : opcode == 0x03 ? 2
                                                                    : 4,
                                                   &unsigned_operand));
                        location += static_cast<T>(unsigned_operand * code_alignment);
                        break;
                    case 0x05:  // DW_CFA_offset_extended
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.uleb(&unsigned_operand));
                        stored =
                            set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                         static_cast<T>(static_cast<S>(unsigned_operand) * data_alignment));
                        break;
                    case 0x06: {  // DW_CFA_restore_extended
                        DZCRASH_TRY(operands.regnum(&regnum));
                        dzcrash_dwarf_cfa_reg_rule_t rule;
                        T value;
                        if (initial.get_register_rule(regnum, &rule, &value)) {
                            stored = set_register(regnum, rule, value);
                        } else {
                            remove_register(regnum);
                        }
                        break;
                    }
                    case 0x07:  // DW_CFA_undefined
                        DZCRASH_TRY(operands.regnum(&regnum));
                        remove_register(regnum);
                        break;
                    case 0x08:  // DW_CFA_same_value
                        DZCRASH_TRY(operands.regnum(&regnum));
                        stored = set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0);
                        break;
                    case 0x09: {  // DW_CFA_register
                        uint32_t other;
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.regnum(&other));
                        stored = set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_REGISTER, other);
                        break;
                    }
                    case 0x0a:  // DW_CFA_remember_state
                        if (!push_state()) return DZCRASH_EINTERNAL;
                        break;
                    case 0x0b:  // DW_CFA_restore_state
                        if (!pop_state()) return DZCRASH_EINVAL;
                        break;
                    case 0x0c:  // DW_CFA_def_cfa
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.uleb(&unsigned_operand));
                        set_cfa_register(regnum, static_cast<T>(unsigned_operand));
                        break;
                    case 0x0d: {  // DW_CFA_def_cfa_register
                        DZCRASH_TRY(operands.regnum(&regnum));
                        dwarf_cfa_rule<T, S>& cfa = cfa_[level_];
                        if (cfa.type != dwarf_cfa_rule<T, S>::REGISTER &&
                            cfa.type != dwarf_cfa_rule<T, S>::REGISTER_SIGNED) {
                            return DZCRASH_EINVAL;
                        }
                        cfa.reg = regnum;
                        break;
                    }
                    case 0x0e:    // DW_CFA_def_cfa_offset
                    case 0x13: {  // DW_CFA_def_cfa_offset_sf
                        const dwarf_cfa_rule<T, S> cfa = cfa_[level_];
                        if (opcode == 0x0e) {
                            DZCRASH_TRY(operands.uleb(&unsigned_operand));
                        } else {
                            DZCRASH_TRY(operands.sleb(&signed_operand));
                        }
                        if (cfa.type != dwarf_cfa_rule<T, S>::REGISTER &&
                            cfa.type != dwarf_cfa_rule<T, S>::REGISTER_SIGNED) {
                            return DZCRASH_EINVAL;
                        }
                        if (opcode == 0x0e) {
                            set_cfa_register(cfa.reg, static_cast<T>(unsigned_operand));
                        } else {
                            set_cfa_register_signed(cfa.reg, static_cast<S>(signed_operand) * data_alignment);
                        }
                        break;
                    }
                    case 0x0f: {  // DW_CFA_def_cfa_expression
                        dzcrash_vm_size_t size;
                        DZCRASH_TRY(operands.block(&size));
                        set_cfa_expression(static_cast<T>(operands.position - size), static_cast<T>(size));
                        break;
                    }
                    case 0x10:    // DW_CFA_expression
                    case 0x16: {  // DW_CFA_val_expression
                        DZCRASH_TRY(operands.regnum(&regnum));
                        const dzcrash_vm_address_t block = operands.position;
                        dzcrash_vm_size_t size;
                        DZCRASH_TRY(operands.block(&size));
                        stored = set_register(regnum,
                                              opcode == 0x10 ? DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION
                                                             : DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION,
                                              static_cast<T>(block));
                        break;
                    }
                    case 0x11:  // DW_CFA_offset_extended_sf
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.sleb(&signed_operand));
                        stored =
                            set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                         static_cast<T>(static_cast<S>(signed_operand) * data_alignment));
                        break;
                    case 0x12:  // DW_CFA_def_cfa_sf
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.sleb(&signed_operand));
                        set_cfa_register_signed(regnum, static_cast<S>(signed_operand) * data_alignment);
                        break;
                    case 0x14:  // DW_CFA_val_offset
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.uleb(&unsigned_operand));
                        stored =
                            set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                         static_cast<T>(static_cast<S>(unsigned_operand) * data_alignment));
                        break;
                    case 0x15:  // DW_CFA_val_offset_sf
                        DZCRASH_TRY(operands.regnum(&regnum));
                        DZCRASH_TRY(operands.sleb(&signed_operand));
                        stored =
                            set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                         static_cast<T>(static_cast<S>(signed_operand) * data_alignment));
                        break;
                    default:  // vendor and later opcodes, DW_CFA_GNU_args_size among them
                        return DZCRASH_ENOTSUP;
                }
        }
        if (!stored) return DZCRASH_EINTERNAL;
        if (pc != 0 && location > pc) break;
    }
    return DZCRASH_ESUCCESS;
}

namespace {

// Evaluates the expression block at `block` (`length` bytes) of the task.
template <typename T, typename S>
dzcrash_error_t evaluateBlock(task_t task, const dzcrash_async_thread_state* state,
                              const dzcrash_async_byteorder_t* byteorder, dzcrash_vm_address_t block,
                              dzcrash_vm_size_t length, const T* stack, size_t count, T* result) noexcept {
    dzcrash_async_mobject_t mobj;
    DZCRASH_TRY(dzcrash_async_mobject_init(&mobj, task, block, length, true));
    const dzcrash_error_t error = dzcrash_async_dwarf_expression_eval<T, S>(
        &mobj, task, state, byteorder, block, 0, length, stack, count, result);
    dzcrash_async_mobject_free(&mobj);
    return error;
}

// A register-wide word of the task at `address`.
dzcrash_error_t loadWord(task_t task, dzcrash_vm_address_t address, size_t width, uint64_t* value) noexcept {
    if (width == 8) return dzcrash_safe_read(task, address, 0, value, 8);
    uint32_t narrow = 0;
    const dzcrash_error_t error = dzcrash_safe_read(task, address, 0, &narrow, 4);
    *value = narrow;
    return error;
}

}  // namespace

template <typename T, typename S>
dzcrash_error_t dwarf_cfa_state<T, S>::apply_state(task_t task, const dzcrash_async_dwarf_cie_info_t* cie,
                                                   const dzcrash_async_thread_state* thread_state,
                                                   const dzcrash_async_byteorder_t* byteorder,
                                                   dzcrash_async_thread_state* new_thread_state) noexcept {
    const size_t width = dzcrash_async_thread_state_get_greg_size(thread_state);
    dzcrash_async_thread_state_copy(new_thread_state, thread_state);
    dzcrash_async_thread_state_clear_volatile_regs(new_thread_state);

    const dwarf_cfa_rule<T, S> cfa_rule = cfa_[level_];
    T cfa = 0;
    switch (cfa_rule.type) {
        case dwarf_cfa_rule<T, S>::REGISTER:
        case dwarf_cfa_rule<T, S>::REGISTER_SIGNED: {
            dzcrash_regnum_t reg;
            if (!dzcrash_async_thread_state_map_dwarf_to_reg(thread_state, cfa_rule.reg, &reg))
                return DZCRASH_ENOTSUP;
            if (!dzcrash_async_thread_state_has_reg(thread_state, reg)) return DZCRASH_ENOTFOUND;
            cfa = static_cast<T>(dzcrash_async_thread_state_get_reg(thread_state, reg) + cfa_rule.offset);
            break;
        }
        case dwarf_cfa_rule<T, S>::EXPRESSION:
            DZCRASH_TRY((evaluateBlock<T, S>(task, thread_state, byteorder, cfa_rule.address, cfa_rule.length,
                                             nullptr, 0, &cfa)));
            break;
        default:
            return DZCRASH_EINVAL;
    }
    dzcrash_async_thread_state_set_reg(new_thread_state, DZCRASH_REG_SP, cfa);

    iterator rules(this);
    uint32_t dwarf_reg;
    dzcrash_dwarf_cfa_reg_rule_t rule;
    T value;
    while (rules.next(&dwarf_reg, &rule, &value)) {
        const bool is_return_address = dwarf_reg == cie->return_address_register;
        dzcrash_regnum_t reg;
        if (!dzcrash_async_thread_state_map_dwarf_to_reg(thread_state, dwarf_reg, &reg)) {
            if (!is_return_address) return DZCRASH_EINVAL;
            reg = DZCRASH_REG_IP;
        }
        uint64_t result = 0;
        switch (rule) {
            case DZCRASH_DWARF_CFA_REG_RULE_OFFSET:
                DZCRASH_TRY(loadWord(task, static_cast<T>(cfa + value), width, &result));
                break;
            case DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
                result = static_cast<T>(cfa + value);
                break;
            case DZCRASH_DWARF_CFA_REG_RULE_REGISTER: {
                dzcrash_regnum_t source;
                if (!dzcrash_async_thread_state_map_dwarf_to_reg(thread_state, value, &source))
                    return DZCRASH_EINVAL;
                if (!dzcrash_async_thread_state_has_reg(thread_state, source)) return DZCRASH_ENOTFOUND;
                result = dzcrash_async_thread_state_get_reg(thread_state, source);
                break;
            }
            case DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
                if (!dzcrash_async_thread_state_has_reg(thread_state, reg)) return DZCRASH_ENOTFOUND;
                result = dzcrash_async_thread_state_get_reg(thread_state, reg);
                break;
            case DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
            case DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
                uint64_t length;
                dzcrash_vm_size_t size;
                DZCRASH_TRY(task_read_uleb128(task, value, 0, &length, &size));
                T address;
                const T initial[1] = {cfa};
                DZCRASH_TRY((evaluateBlock<T, S>(task, thread_state, byteorder, static_cast<T>(value + size),
                                                 length, initial, 1, &address)));
                if (rule == DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION) {
                    DZCRASH_TRY(loadWord(task, address, width, &result));
                } else {
                    result = address;
                }
                break;
            }
        }
        dzcrash_async_thread_state_set_reg(new_thread_state, reg, result);
        if (is_return_address && reg != DZCRASH_REG_IP)
            dzcrash_async_thread_state_set_reg(new_thread_state, DZCRASH_REG_IP, result);
    }

    if (!dzcrash_async_thread_state_has_reg(new_thread_state, DZCRASH_REG_IP)) {
        dzcrash_regnum_t reg;
        if (!dzcrash_async_thread_state_map_dwarf_to_reg(thread_state, cie->return_address_register, &reg) ||
            !dzcrash_async_thread_state_has_reg(thread_state, reg)) {
            return DZCRASH_EINVAL;
        }
        dzcrash_async_thread_state_set_reg(new_thread_state, DZCRASH_REG_IP,
                                           dzcrash_async_thread_state_get_reg(thread_state, reg));
    }
    return DZCRASH_ESUCCESS;
}

template class dwarf_cfa_state<unsigned int, int>;
template class dwarf_cfa_state<unsigned long long, long long>;

}  // namespace dzcrash::async
