#pragma once
// The rule table of one unwinding step: how to find the CFA and each saved register, with five
// remembered levels, all in fixed storage (a pool of 100 rules shared by the levels). It runs the
// call-frame programs of a CIE and an FDE up to a pc and applies the rules to a thread state.
// Async-signal-safe; lives on the stack for one step.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async_dwarf_encoding.h"
#include "crash_reporter/async/dzcrash_async_thread_state.h"

namespace dzcrash::async {

enum dzcrash_dwarf_cfa_reg_rule_t : uint8_t {
    DZCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,          // saved at CFA + N
    DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,      // is CFA + N
    DZCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,        // in register N
    DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,      // saved at what the expression at N yields
    DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,  // is what the expression at N yields
    DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
};

template <typename T, typename S>
struct dwarf_cfa_rule {
    enum type_t : uint8_t {
        UNDEFINED = 0,
        EXPRESSION = 1,       // `address` and `length` of the expression in the task
        REGISTER = 2,         // register + unsigned offset
        REGISTER_SIGNED = 3,  // register + signed offset
    };
    type_t type;
    uint32_t reg;
    T offset;  // read as S for REGISTER_SIGNED
    T address;
    T length;
};

template <typename T, typename S>
class dwarf_cfa_state {
  public:
    static constexpr uint8_t kLevels = 6;
    static constexpr uint8_t kBuckets = 14;
    static constexpr uint8_t kPoolSize = 100;
    static constexpr uint8_t kNone = 0xff;

    dwarf_cfa_state() noexcept;

    // False when the pool is exhausted.
    bool set_register(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t rule, T value) noexcept;
    bool get_register_rule(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t* rule, T* value) const noexcept;
    void remove_register(uint32_t regnum) noexcept;
    uint8_t get_register_count() const noexcept;

    void set_cfa_register(uint32_t regnum, T offset) noexcept;
    void set_cfa_register_signed(uint32_t regnum, S offset) noexcept;
    void set_cfa_expression(T address, T length) noexcept;
    dwarf_cfa_rule<T, S> get_cfa_rule() const noexcept;

    // Remembers the current level and goes on with a copy of its rules, as the standard keeps them
    // in effect; false when five levels are remembered or the copy finds the pool full.
    bool push_state() noexcept;
    // Returns to the remembered level, releasing the rules of the level left; false at level 0.
    bool pop_state() noexcept;

    // Runs the instructions at `address + offset` (`length` bytes) from `initial_location` until the
    // location passes `pc` (0: to the end). DZCRASH_EINVAL for a range outside the mapping, an
    // operand outside the range, a restore at level 0 or a CFA change without a register rule;
    // DZCRASH_ENOTSUP for an unknown opcode or a register number beyond 32 bits; DZCRASH_EINTERNAL
    // when the rules do not fit (a sixth remember, a full pool).
    dzcrash_error_t eval_program(const dzcrash_async_mobject_t* mobj, T pc, T initial_location,
                                 const dzcrash_async_dwarf_cie_info_t* cie, const gnu_ehptr_reader<T>* reader,
                                 const dzcrash_async_byteorder_t* byteorder, dzcrash_vm_address_t address,
                                 dzcrash_vm_off_t offset, dzcrash_vm_size_t length) noexcept;

    // The caller's registers from `thread_state` and the rules: DZCRASH_EINVAL without a CFA rule or
    // for a register without a mapping (the return-address column stands for the instruction
    // pointer), DZCRASH_ENOTFOUND for a register the state lacks; task reads pass their error up.
    dzcrash_error_t apply_state(task_t task, const dzcrash_async_dwarf_cie_info_t* cie,
                                const dzcrash_async_thread_state* thread_state,
                                const dzcrash_async_byteorder_t* byteorder,
                                dzcrash_async_thread_state* new_thread_state) noexcept;

    // Visits the current level's rules, bucket by bucket, each chain in order; false when done.
    class iterator {
      public:
        explicit iterator(const dwarf_cfa_state* state) noexcept : state_(state) {}
        bool next(uint32_t* regnum, dzcrash_dwarf_cfa_reg_rule_t* rule, T* value) noexcept;

      private:
        const dwarf_cfa_state* state_;
        uint8_t bucket_ = 0;
        uint8_t entry_ = kNone;
        bool started_ = false;
    };

  private:
    struct entry {
        T value;
        uint32_t regnum;
        dzcrash_dwarf_cfa_reg_rule_t rule;
        uint8_t next;
    };
    void release_level() noexcept;

    entry pool_[kPoolSize];
    uint8_t free_list_;
    uint8_t level_ = 0;
    uint8_t table_[kLevels][kBuckets];
    uint8_t count_[kLevels];
    dwarf_cfa_rule<T, S> cfa_[kLevels];
};

}  // namespace dzcrash::async
