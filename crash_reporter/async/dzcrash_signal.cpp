#include "crash_reporter/async/dzcrash_signal.h"

#include <signal.h>

#include <iterator>

namespace {

struct SignalName {
    int signal;
    const char* name;
};

// Searched in order; SIGIOT shares 6 with SIGABRT and is never found.
constexpr SignalName kSignalNames[] = {
    {1, "SIGHUP"},   {2, "SIGINT"},   {3, "SIGQUIT"},    {4, "SIGILL"},   {5, "SIGTRAP"},   {6, "SIGABRT"},
    {6, "SIGIOT"},   {7, "SIGEMT"},   {8, "SIGFPE"},     {9, "SIGKILL"},  {10, "SIGBUS"},   {11, "SIGSEGV"},
    {12, "SIGSYS"},  {13, "SIGPIPE"}, {14, "SIGALRM"},   {15, "SIGTERM"}, {16, "SIGURG"},   {17, "SIGSTOP"},
    {18, "SIGTSTP"}, {19, "SIGCONT"}, {20, "SIGCHLD"},   {21, "SIGTTIN"}, {22, "SIGTTOU"},  {23, "SIGIO"},
    {24, "SIGXCPU"}, {25, "SIGXFSZ"}, {26, "SIGVTALRM"}, {27, "SIGPROF"}, {28, "SIGWINCH"}, {29, "SIGINFO"},
    {30, "SIGUSR1"}, {31, "SIGUSR2"},
};

struct CodeName {
    int signal;
    int code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
    {4, 0, "ILL_NOOP"},     {4, 1, "ILL_ILLOPC"}, {4, 2, "ILL_ILLTRP"},  {4, 3, "ILL_PRVOPC"},
    {4, 4, "ILL_ILLOPN"},   {4, 5, "ILL_ILLADR"}, {4, 6, "ILL_PRVREG"},  {4, 7, "ILL_COPROC"},
    {4, 8, "ILL_BADSTK"},   {8, 0, "FPE_NOOP"},   {8, 1, "FPE_FLTDIV"},  {8, 2, "FPE_FLTOVF"},
    {8, 3, "FPE_FLTUND"},   {8, 4, "FPE_FLTRES"}, {8, 5, "FPE_FLTINV"},  {8, 6, "FPE_FLTSUB"},
    {8, 7, "FPE_INTDIV"},   {8, 8, "FPE_INTOVF"}, {11, 0, "SEGV_NOOP"},  {11, 1, "SEGV_MAPERR"},
    {11, 2, "SEGV_ACCERR"}, {10, 0, "BUS_NOOP"},  {10, 1, "BUS_ADRALN"}, {10, 2, "BUS_ADRERR"},
    {10, 3, "BUS_OBJERR"},  {5, 0, "#0"},         {5, 1, "TRAP_BRKPT"},  {5, 2, "TRAP_TRACE"},
    {6, 0, "#0"},
};

// The host's signals that the report's numbering has, written with the host's constants so the
// table holds on any host. The host's SIGSTKFLT, SIGPWR and real-time signals have no counterpart.
struct HostSignal {
    int host;
    int report;
};

constexpr HostSignal kHostSignals[] = {
    {SIGHUP, 1},     {SIGINT, 2},   {SIGQUIT, 3},   {SIGILL, 4},   {SIGTRAP, 5},  {SIGABRT, 6},
    {SIGFPE, 8},     {SIGKILL, 9},  {SIGBUS, 10},   {SIGSEGV, 11}, {SIGSYS, 12},  {SIGPIPE, 13},
    {SIGALRM, 14},   {SIGTERM, 15}, {SIGURG, 16},   {SIGSTOP, 17}, {SIGTSTP, 18}, {SIGCONT, 19},
    {SIGCHLD, 20},   {SIGTTIN, 21}, {SIGTTOU, 22},  {SIGIO, 23},   {SIGXCPU, 24}, {SIGXFSZ, 25},
    {SIGVTALRM, 26}, {SIGPROF, 27}, {SIGWINCH, 28}, {SIGUSR1, 30}, {SIGUSR2, 31},
};

// The host's fault codes of SIGILL and SIGFPE whose numbers differ from the report's.
struct HostCode {
    int signal;
    int host;
    int report;
};

constexpr HostCode kHostCodes[] = {
    {SIGILL, ILL_ILLOPC, 1},
    {SIGILL, ILL_ILLOPN, 4},
    {SIGILL, ILL_ILLADR, 5},
    {SIGILL, ILL_ILLTRP, 2},
    {SIGILL, ILL_PRVOPC, 3},
    {SIGILL, ILL_PRVREG, 6},
    {SIGILL, ILL_COPROC, 7},
    {SIGILL, ILL_BADSTK, 8},
    {SIGFPE, FPE_INTDIV, 7},
    {SIGFPE, FPE_INTOVF, 8},
    {SIGFPE, FPE_FLTDIV, 1},
    {SIGFPE, FPE_FLTOVF, 2},
    {SIGFPE, FPE_FLTUND, 3},
    {SIGFPE, FPE_FLTRES, 4},
    {SIGFPE, FPE_FLTINV, 5},
    {SIGFPE, FPE_FLTSUB, 6},
    // int3 arrives from the kernel as SI_KERNEL rather than as a breakpoint code.
    {SIGTRAP, SI_KERNEL, 1},
};

int reportCode(int hostSignal, int hostCode) {
    // raise, kill, sigqueue, abort and the timers set codes of 0 and below: nothing faulted.
    if (hostCode <= 0) return 0;
    for (const auto& entry : kHostCodes) {
        if (entry.signal == hostSignal && entry.host == hostCode) return entry.report;
    }
    return hostCode;
}

}  // namespace

const char* dzcrash_signal_name(int signal) noexcept {
    for (const auto& entry : kSignalNames) {
        if (entry.signal == signal) return entry.name;
    }
    return nullptr;
}

const char* dzcrash_signal_code_name(int signal, int code) noexcept {
    for (const auto& entry : kCodeNames) {
        if (entry.signal == signal && entry.code == code) return entry.name;
    }
    return nullptr;
}

dzcrash_report_signal_t dzcrash_signal_from_host(int hostSignal, int hostCode) noexcept {
    for (const auto& entry : kHostSignals) {
        if (entry.host == hostSignal) return {entry.report, reportCode(hostSignal, hostCode), true};
    }
    return {hostSignal, reportCode(hostSignal, hostCode), false};
}

const char* dzcrash_report_signal_name(const dzcrash_report_signal_t* signal) noexcept {
    return signal->has_counterpart ? dzcrash_signal_name(signal->signal) : nullptr;
}
