#include "crash_reporter/async/dzcrash_async_dwarf_expression.h"

#include "crash_reporter/async/dzcrash_async_dwarf_encoding.h"

namespace dzcrash::async {

namespace {

#define DZCRASH_TRY(expression)                        \
    do {                                               \
        const dzcrash_error_t tried_ = (expression);   \
        if (tried_ != DZCRASH_ESUCCESS) return tried_; \
    } while (0)

constexpr size_t kStackSize = 100;
// A branch may jump backwards; a block that loops would hold the crashed process for good.
constexpr size_t kMaxOperations = 10000;

template <typename T>
struct ValueStack {
    T values[kStackSize];
    size_t count = 0;

    dzcrash_error_t push(T value) noexcept {
        if (count == kStackSize) return DZCRASH_EINTERNAL;
        values[count++] = value;
        return DZCRASH_ESUCCESS;
    }
    T pop() noexcept { return values[--count]; }
    // The value `depth` places below the top.
    T& at(size_t depth) noexcept { return values[count - 1 - depth]; }
};

template <typename T>
dzcrash_error_t dereference(task_t task, T address, size_t size, T* value) noexcept {
    uint64_t raw = 0;
    DZCRASH_TRY(dzcrash_safe_read(task, address, 0, &raw, size));
    *value = static_cast<T>(raw);
    return DZCRASH_ESUCCESS;
}

}  // namespace

template <typename T, typename S>
dzcrash_error_t dzcrash_async_dwarf_expression_eval(const dzcrash_async_mobject_t* mobj, task_t task,
                                                    const dzcrash_async_thread_state* thread_state,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    dzcrash_vm_address_t address, dzcrash_vm_off_t offset,
                                                    dzcrash_vm_size_t length, const T* initial_stack,
                                                    size_t initial_count, T* result) noexcept {
    constexpr unsigned kBits = sizeof(T) * 8;
    ValueStack<T> stack;
    if (initial_count > kStackSize) return DZCRASH_EINTERNAL;
    for (size_t index = 0; index < initial_count; ++index) stack.push(initial_stack[index]);

    dzcrash_vm_address_t start;
    if (!dzcrash_add_checked(address, offset, &start) || start + length < start) return DZCRASH_EINVAL;
    const dzcrash_vm_address_t end = start + length;
    dzcrash_vm_address_t position = start;

    // Operand readers, each refusing bytes past the block.
    const auto fixed = [&](size_t size, uint64_t* value) -> dzcrash_error_t {
        if (size > end - position) return DZCRASH_EINVAL;
        dzcrash_error_t error;
        if (size == 1) {
            uint8_t v = 0;
            error = dzcrash_async_mobject_read_uint8(mobj, position, 0, &v);
            *value = v;
        } else if (size == 2) {
            uint16_t v = 0;
            error = dzcrash_async_mobject_read_uint16(mobj, byteorder, position, 0, &v);
            *value = v;
        } else if (size == 4) {
            uint32_t v = 0;
            error = dzcrash_async_mobject_read_uint32(mobj, byteorder, position, 0, &v);
            *value = v;
        } else {
            error = dzcrash_async_mobject_read_uint64(mobj, byteorder, position, 0, value);
        }
        if (error != DZCRASH_ESUCCESS) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    };
    const auto uleb = [&](uint64_t* value) -> dzcrash_error_t {
        dzcrash_vm_size_t size;
        DZCRASH_TRY(read_uleb128(mobj, position, 0, value, &size));
        if (size > end - position) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    };
    const auto sleb = [&](int64_t* value) -> dzcrash_error_t {
        dzcrash_vm_size_t size;
        DZCRASH_TRY(read_sleb128(mobj, position, 0, value, &size));
        if (size > end - position) return DZCRASH_EINVAL;
        position += size;
        return DZCRASH_ESUCCESS;
    };
    const auto registerValue = [&](uint64_t dwarf_reg, T* value) -> dzcrash_error_t {
        dzcrash_regnum_t reg;
        if (!dzcrash_async_thread_state_map_dwarf_to_reg(thread_state, dwarf_reg, &reg))
            return DZCRASH_ENOTSUP;
        if (!dzcrash_async_thread_state_has_reg(thread_state, reg)) return DZCRASH_ENOTFOUND;
        *value = static_cast<T>(dzcrash_async_thread_state_get_reg(thread_state, reg));
        return DZCRASH_ESUCCESS;
    };
    // Too few values: a stack operation finds the block malformed, arithmetic an internal fault.
    const auto need = [&](size_t count, dzcrash_error_t error) {
        return stack.count >= count ? DZCRASH_ESUCCESS : error;
    };

    size_t operations = 0;
    while (position < end) {
        if (++operations > kMaxOperations) return DZCRASH_EINVAL;
        uint64_t opcode;
        DZCRASH_TRY(fixed(1, &opcode));
        uint64_t operand = 0;
        int64_t signed_operand = 0;
        if (opcode >= 0x30 && opcode <= 0x4f) {  // DW_OP_lit0 … lit31
            DZCRASH_TRY(stack.push(static_cast<T>(opcode - 0x30)));
            continue;
        }
        if (opcode >= 0x70 && opcode <= 0x8f) {  // DW_OP_breg0 … breg31
            DZCRASH_TRY(sleb(&signed_operand));
            T value;
            DZCRASH_TRY(registerValue(opcode - 0x70, &value));
            DZCRASH_TRY(stack.push(static_cast<T>(value + static_cast<T>(signed_operand))));
            continue;
        }
        switch (opcode) {
            case 0x06: {  // DW_OP_deref
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                T value;
                DZCRASH_TRY(dereference(task, stack.at(0), sizeof(T), &value));
                stack.at(0) = value;
                break;
            }
            case 0x08:  // DW_OP_const1u, 1s, 2u, 2s, 4u, 4s, 8u, 8s
            case 0x09:
            case 0x0a:
            case 0x0b:
            case 0x0c:
            case 0x0d:
            case 0x0e:
            case 0x0f: {
                const size_t size = size_t{1} << ((opcode - 0x08) / 2);
                DZCRASH_TRY(fixed(size, &operand));
                const bool is_signed = (opcode & 1) != 0;
                if (is_signed && size < 8) {
                    const unsigned unused = 64 - static_cast<unsigned>(size) * 8;
                    operand = static_cast<uint64_t>(static_cast<int64_t>(operand << unused) >> unused);
                }
                DZCRASH_TRY(stack.push(static_cast<T>(operand)));
                break;
            }
            case 0x10:  // DW_OP_constu
                DZCRASH_TRY(uleb(&operand));
                DZCRASH_TRY(stack.push(static_cast<T>(operand)));
                break;
            case 0x11:  // DW_OP_consts
                DZCRASH_TRY(sleb(&signed_operand));
                DZCRASH_TRY(stack.push(static_cast<T>(signed_operand)));
                break;
            case 0x12:  // DW_OP_dup
                DZCRASH_TRY(need(1, DZCRASH_EINVAL));
                DZCRASH_TRY(stack.push(stack.at(0)));
                break;
            case 0x13:  // DW_OP_drop
                DZCRASH_TRY(need(1, DZCRASH_EINVAL));
                stack.pop();
                break;
            case 0x14:  // DW_OP_over
                DZCRASH_TRY(need(2, DZCRASH_EINVAL));
                DZCRASH_TRY(stack.push(stack.at(1)));
                break;
            case 0x15:  // DW_OP_pick
                DZCRASH_TRY(fixed(1, &operand));
                DZCRASH_TRY(need(operand + 1, DZCRASH_EINVAL));
                DZCRASH_TRY(stack.push(stack.at(operand)));
                break;
            case 0x16: {  // DW_OP_swap
                DZCRASH_TRY(need(2, DZCRASH_EINVAL));
                const T top = stack.at(0);
                stack.at(0) = stack.at(1);
                stack.at(1) = top;
                break;
            }
            case 0x17: {  // DW_OP_rot
                DZCRASH_TRY(need(3, DZCRASH_EINVAL));
                const T top = stack.at(0);
                stack.at(0) = stack.at(1);
                stack.at(1) = stack.at(2);
                stack.at(2) = top;
                break;
            }
            case 0x18:    // DW_OP_xderef
            case 0x95: {  // DW_OP_xderef_size
                size_t size = sizeof(T);
                if (opcode == 0x95) {
                    DZCRASH_TRY(fixed(1, &operand));
                    size = operand;
                }
                DZCRASH_TRY(need(2, DZCRASH_EINVAL));
                const T target = stack.pop();
                stack.pop();  // one address space here
                if (size != 1 && size != 2 && size != 4 && size != 8) return DZCRASH_EINVAL;
                if (size > sizeof(T)) return DZCRASH_EINVAL;
                T value;
                DZCRASH_TRY(dereference(task, target, size, &value));
                DZCRASH_TRY(stack.push(value));
                break;
            }
            case 0x94: {  // DW_OP_deref_size
                DZCRASH_TRY(fixed(1, &operand));
                if ((operand != 1 && operand != 2 && operand != 4 && operand != 8) || operand > sizeof(T))
                    return DZCRASH_EINVAL;
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                T value;
                DZCRASH_TRY(dereference(task, stack.at(0), operand, &value));
                stack.at(0) = value;
                break;
            }
            case 0x19:  // DW_OP_abs
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                if (static_cast<S>(stack.at(0)) < 0) stack.at(0) = static_cast<T>(T{0} - stack.at(0));
                break;
            case 0x1f:  // DW_OP_neg
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                stack.at(0) = static_cast<T>(T{0} - stack.at(0));
                break;
            case 0x20:  // DW_OP_not
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                stack.at(0) = static_cast<T>(~stack.at(0));
                break;
            case 0x23:  // DW_OP_plus_uconst
                DZCRASH_TRY(uleb(&operand));
                DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                stack.at(0) = static_cast<T>(stack.at(0) + static_cast<T>(operand));
                break;
            case 0x1a:    // DW_OP_and
            case 0x1b:    // DW_OP_div
            case 0x1c:    // DW_OP_minus
            case 0x1d:    // DW_OP_mod
            case 0x1e:    // DW_OP_mul
            case 0x21:    // DW_OP_or
            case 0x22:    // DW_OP_plus
            case 0x24:    // DW_OP_shl
            case 0x25:    // DW_OP_shr
            case 0x26:    // DW_OP_shra
            case 0x27:    // DW_OP_xor
            case 0x29:    // DW_OP_eq
            case 0x2a:    // DW_OP_ge
            case 0x2b:    // DW_OP_gt
            case 0x2c:    // DW_OP_le
            case 0x2d:    // DW_OP_lt
            case 0x2e: {  // DW_OP_ne
                DZCRASH_TRY(need(2, DZCRASH_EINTERNAL));
                const T b = stack.pop();
                const T a = stack.pop();
                const S sa = static_cast<S>(a);
                const S sb = static_cast<S>(b);
                T value = 0;
                switch (opcode) {
                    case 0x1a:
                        value = a & b;
                        break;
                    case 0x1b:
                        if (b == 0) return DZCRASH_EINVAL;
                        // The one quotient that does not fit wraps, as the hardware's would.
                        value = (sb == -1) ? static_cast<T>(T{0} - a) : static_cast<T>(sa / sb);
                        break;
                    case 0x1c:
                        value = static_cast<T>(a - b);
                        break;
                    case 0x1d:
                        if (b == 0) return DZCRASH_EINVAL;
                        value = a % b;
                        break;
                    case 0x1e:
                        value = static_cast<T>(a * b);
                        break;
                    case 0x21:
                        value = a | b;
                        break;
                    case 0x22:
                        value = static_cast<T>(a + b);
                        break;
                    // Shifts by the width or more are defined here as the bits running out.
                    case 0x24:
                        value = b >= kBits ? 0 : static_cast<T>(a << b);
                        break;
                    case 0x25:
                        value = b >= kBits ? 0 : static_cast<T>(a >> b);
                        break;
                    case 0x26:
                        value =
                            static_cast<T>(b >= kBits ? (sa < 0 ? S{-1} : S{0}) : static_cast<S>(sa >> b));
                        break;
                    case 0x27:
                        value = a ^ b;
                        break;
                    case 0x29:
                        value = sa == sb;
                        break;
                    case 0x2a:
                        value = sa >= sb;
                        break;
                    case 0x2b:
                        value = sa > sb;
                        break;
                    case 0x2c:
                        value = sa <= sb;
                        break;
                    case 0x2d:
                        value = sa < sb;
                        break;
                    case 0x2e:
                        value = sa != sb;
                        break;
                }
                stack.push(value);
                break;
            }
            case 0x28:    // DW_OP_bra
            case 0x2f: {  // DW_OP_skip
                DZCRASH_TRY(fixed(2, &operand));
                const int16_t jump = static_cast<int16_t>(operand);
                bool taken = true;
                if (opcode == 0x28) {
                    DZCRASH_TRY(need(1, DZCRASH_EINTERNAL));
                    taken = stack.pop() != 0;
                }
                if (!taken) break;
                const dzcrash_vm_address_t target = position + static_cast<uint64_t>(int64_t{jump});
                if (jump < 0 ? target < start || target > position : target > end) return DZCRASH_EINVAL;
                position = target;
                break;
            }
            case 0x92: {  // DW_OP_bregx
                DZCRASH_TRY(uleb(&operand));
                DZCRASH_TRY(sleb(&signed_operand));
                T value;
                DZCRASH_TRY(registerValue(operand, &value));
                DZCRASH_TRY(stack.push(static_cast<T>(value + static_cast<T>(signed_operand))));
                break;
            }
            case 0x96:  // DW_OP_nop
                break;
            default:
                return DZCRASH_ENOTSUP;
        }
    }
    if (stack.count == 0) return DZCRASH_EINVAL;
    *result = stack.at(0);
    return DZCRASH_ESUCCESS;
}

template dzcrash_error_t dzcrash_async_dwarf_expression_eval<unsigned int, int>(
    const dzcrash_async_mobject_t*, task_t, const dzcrash_async_thread_state*,
    const dzcrash_async_byteorder_t*, dzcrash_vm_address_t, dzcrash_vm_off_t, dzcrash_vm_size_t,
    const unsigned int*, size_t, unsigned int*) noexcept;
template dzcrash_error_t dzcrash_async_dwarf_expression_eval<unsigned long long, long long>(
    const dzcrash_async_mobject_t*, task_t, const dzcrash_async_thread_state*,
    const dzcrash_async_byteorder_t*, dzcrash_vm_address_t, dzcrash_vm_off_t, dzcrash_vm_size_t,
    const unsigned long long*, size_t, unsigned long long*) noexcept;

}  // namespace dzcrash::async
