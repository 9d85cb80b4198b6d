#include "crash_reporter/dzcrash_mach_exception.h"

#include <signal.h>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/dzcrash_crash_context.h"

namespace {

// Signal numbers of the report's table.
enum : int {
    kReportSIGILL = 4,
    kReportSIGTRAP = 5,
    kReportSIGABRT = 6,
    kReportSIGEMT = 7,
    kReportSIGFPE = 8,
    kReportSIGKILL = 9,
    kReportSIGBUS = 10,
    kReportSIGSEGV = 11,
    kReportSIGSYS = 12,
    kReportSIGPIPE = 13,
};

// The host's number of a report signal, for the siginfo the post-crash callback gets; the report's
// own where the host has no such signal.
int hostSignal(int report) {
    constexpr struct {
        int report;
        int host;
    } kHost[] = {{kReportSIGILL, SIGILL},   {kReportSIGTRAP, SIGTRAP}, {kReportSIGABRT, SIGABRT},
                 {kReportSIGFPE, SIGFPE},   {kReportSIGKILL, SIGKILL}, {kReportSIGBUS, SIGBUS},
                 {kReportSIGSEGV, SIGSEGV}, {kReportSIGSYS, SIGSYS},   {kReportSIGPIPE, SIGPIPE}};
    for (const auto& entry : kHost) {
        if (entry.report == report) return entry.host;
    }
    return report;
}

struct MachWrite {
    dzcrash_crash_context* crash;
    thread_t thread;
    const dzcrash_log_writer_signal* signal;
};

dzcrash_error_t writeFromServerThread(dzcrash_async_thread_state* state, void* context) {
    auto* write = static_cast<MachWrite*>(context);
    return dzcrash_write_report_file(&write->crash->writer, write->crash->report_path,
                                     dzcrash_shared_image_list(), write->thread, state, write->signal);
}

// The machine state the post-crash callback is handed on this road: there is none of the faulting
// thread's to give, so it is all zero.
constexpr size_t kMachineStateSize = 712;
alignas(16) uint8_t zeroMachineState[kMachineStateSize];

}  // namespace

exception_mask_t dzcrash_mach_exception_mask(const DZCrashHostInfo* host) noexcept {
    const exception_mask_t mask = EXC_MASK_BAD_ACCESS | EXC_MASK_BAD_INSTRUCTION | EXC_MASK_ARITHMETIC |
                                  EXC_MASK_SOFTWARE | EXC_MASK_BREAKPOINT;
    return host && host->darwinVersion().major >= 13 ? mask | EXC_MASK_GUARD : mask;
}

bool dzcrash_mach_exception_to_signal(exception_type_t type, const mach_exception_data_type_t* codes,
                                      mach_msg_type_number_t code_count, dzcrash_mach_signal* out) noexcept {
    if (code_count < 2 || type < EXC_BAD_ACCESS || type > EXC_BREAKPOINT) return false;
    int signal = 0;
    int code = 0;
    switch (type) {
        case EXC_BAD_ACCESS:
            signal = codes[0] == KERN_INVALID_ADDRESS ? kReportSIGSEGV : kReportSIGBUS;
            code = codes[0] == KERN_INVALID_ADDRESS ? 1 : 2;  // SEGV_MAPERR, BUS_ADRERR
            break;
        case EXC_BAD_INSTRUCTION:
            signal = kReportSIGILL;
            break;
        case EXC_ARITHMETIC:
            signal = kReportSIGFPE;
            break;
        case EXC_EMULATION:
            signal = kReportSIGEMT;
            break;
        case EXC_SOFTWARE:
            signal = codes[0] == 0x10000   ? kReportSIGSYS
                     : codes[0] == 0x10001 ? kReportSIGPIPE
                     : codes[0] == 0x10003 ? kReportSIGKILL
                                           : kReportSIGABRT;
            break;
        default:
            signal = kReportSIGTRAP;
            code = 1;  // TRAP_BRKPT
            break;
    }
    *out = {{signal, code, true}, static_cast<uint64_t>(codes[1])};
    return true;
}

kern_return_t dzcrash_mach_exception_forward(task_t task, thread_t thread, exception_type_t type,
                                             const mach_exception_data_type_t* codes,
                                             mach_msg_type_number_t code_count,
                                             const dzcrash_mach_exception_port_set* previous) noexcept {
    if (type < 0 || type >= EXC_TYPES_COUNT || code_count > 2) return KERN_FAILURE;
    const uint32_t bit = 1u << type;
    uint32_t found = previous->count;
    for (uint32_t i = 0; i < previous->count && i < EXC_TYPES_COUNT; ++i) {
        if (MACH_PORT_VALID(previous->ports[i]) && (previous->masks[i] & bit) != 0) {
            found = i;
            break;
        }
    }
    if (found >= previous->count || found >= EXC_TYPES_COUNT) return KERN_FAILURE;
    const mach_port_t port = previous->ports[found];
    const bool wide = (previous->behaviors[found] & MACH_EXCEPTION_CODES) != 0;
    const exception_behavior_t behavior = previous->behaviors[found] & ~MACH_EXCEPTION_CODES;
    int flavor = previous->flavors[found];

    natural_t state[THREAD_STATE_MAX];
    mach_msg_type_number_t stateCount = THREAD_STATE_MAX;
    if (behavior != EXCEPTION_DEFAULT) {
        const kern_return_t read = thread_get_state(thread, flavor, state, &stateCount);
        if (read != KERN_SUCCESS) return read;
    }
    mach_exception_data_type_t wideCodes[2] = {};
    exception_data_type_t narrowCodes[2] = {};
    for (mach_msg_type_number_t i = 0; i < code_count; ++i) {
        wideCodes[i] = codes[i];
        narrowCodes[i] = static_cast<exception_data_type_t>(codes[i]);
    }
    mach_msg_type_number_t newCount = THREAD_STATE_MAX;
    switch (behavior) {
        case EXCEPTION_DEFAULT:
            return wide ? mach_exception_raise(port, thread, task, type, wideCodes, code_count)
                        : exception_raise(port, thread, task, type, narrowCodes, code_count);
        case EXCEPTION_STATE:
            return wide ? mach_exception_raise_state(port, type, wideCodes, code_count, &flavor, state,
                                                     stateCount, state, &newCount)
                        : exception_raise_state(port, type, narrowCodes, code_count, &flavor, state,
                                                stateCount, state, &newCount);
        case EXCEPTION_STATE_IDENTITY:
            return wide ? mach_exception_raise_state_identity(port, thread, task, type, wideCodes, code_count,
                                                              &flavor, state, stateCount, state, &newCount)
                        : exception_raise_state_identity(port, thread, task, type, narrowCodes, code_count,
                                                         &flavor, state, stateCount, state, &newCount);
        default:
            return KERN_FAILURE;
    }
}

kern_return_t dzcrash_mach_exception_callback(task_t task, thread_t thread, exception_type_t type,
                                              mach_exception_data_t codes, mach_msg_type_number_t code_count,
                                              void* context) noexcept {
    auto* crash = static_cast<dzcrash_crash_context*>(context);
    if (dzcrash_mach_exception_forward(task, thread, type, codes, code_count, &crash->previous_mach_ports) ==
        KERN_SUCCESS) {
        return KERN_SUCCESS;
    }
    dzcrash_mach_signal mapped;
    if (!dzcrash_mach_exception_to_signal(type, codes, code_count, &mapped)) return KERN_FAILURE;

    const dzcrash_log_writer_mach_exception exception{static_cast<uint64_t>(type), codes, code_count};
    const dzcrash_log_writer_signal record{mapped.signal, mapped.address, &exception};
    MachWrite write{crash, thread, &record};
    if (dzcrash_async_thread_state_capture_current(writeFromServerThread, &write) != DZCRASH_ESUCCESS) {
        return KERN_FAILURE;
    }
    siginfo_t info{};
    info.si_signo = hostSignal(mapped.signal.signal);
    info.si_code = mapped.signal.code;
    info.si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(mapped.address));
    ucontext_t uap{};
    uap.uc_mcontext.fpregs = reinterpret_cast<fpregset_t>(zeroMachineState);
    dzcrash_run_post_crash_callback(&info, &uap);
    return KERN_FAILURE;
}
