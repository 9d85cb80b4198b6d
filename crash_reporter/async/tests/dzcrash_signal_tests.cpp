#include <gtest/gtest.h>
#include <signal.h>

#include "crash_reporter/async/dzcrash_signal.h"

TEST(DZCrashSignal, NamesInTheReportsNumbering) {
    EXPECT_STREQ(dzcrash_signal_name(6), "SIGABRT");
    EXPECT_STREQ(dzcrash_signal_name(7), "SIGEMT");
    EXPECT_STREQ(dzcrash_signal_name(10), "SIGBUS");
    EXPECT_STREQ(dzcrash_signal_name(29), "SIGINFO");
    EXPECT_STREQ(dzcrash_signal_name(31), "SIGUSR2");
    EXPECT_EQ(dzcrash_signal_name(0), nullptr);
    EXPECT_EQ(dzcrash_signal_name(32), nullptr);
    EXPECT_EQ(dzcrash_signal_name(-6), nullptr);

    EXPECT_STREQ(dzcrash_signal_code_name(5, 0), "#0");
    EXPECT_STREQ(dzcrash_signal_code_name(6, 0), "#0");
    EXPECT_STREQ(dzcrash_signal_code_name(4, 8), "ILL_BADSTK");
    EXPECT_STREQ(dzcrash_signal_code_name(8, 7), "FPE_INTDIV");
    EXPECT_STREQ(dzcrash_signal_code_name(10, 3), "BUS_OBJERR");
    EXPECT_STREQ(dzcrash_signal_code_name(11, 2), "SEGV_ACCERR");
    EXPECT_EQ(dzcrash_signal_code_name(11, 3), nullptr);
    EXPECT_EQ(dzcrash_signal_code_name(6, 1), nullptr);
    EXPECT_EQ(dzcrash_signal_code_name(9, 0), nullptr);
}

TEST(DZCrashSignal, HostSignalsTranslateToTheReportsNumbering) {
    struct Row {
        int host;
        int report;
        const char* name;
    } rows[] = {
        {SIGHUP, 1, "SIGHUP"},        {SIGINT, 2, "SIGINT"},    {SIGQUIT, 3, "SIGQUIT"},
        {SIGILL, 4, "SIGILL"},        {SIGTRAP, 5, "SIGTRAP"},  {SIGABRT, 6, "SIGABRT"},
        {SIGBUS, 10, "SIGBUS"},       {SIGFPE, 8, "SIGFPE"},    {SIGKILL, 9, "SIGKILL"},
        {SIGUSR1, 30, "SIGUSR1"},     {SIGSEGV, 11, "SIGSEGV"}, {SIGUSR2, 31, "SIGUSR2"},
        {SIGPIPE, 13, "SIGPIPE"},     {SIGALRM, 14, "SIGALRM"}, {SIGTERM, 15, "SIGTERM"},
        {SIGCHLD, 20, "SIGCHLD"},     {SIGCONT, 19, "SIGCONT"}, {SIGSTOP, 17, "SIGSTOP"},
        {SIGTSTP, 18, "SIGTSTP"},     {SIGTTIN, 21, "SIGTTIN"}, {SIGTTOU, 22, "SIGTTOU"},
        {SIGURG, 16, "SIGURG"},       {SIGXCPU, 24, "SIGXCPU"}, {SIGXFSZ, 25, "SIGXFSZ"},
        {SIGVTALRM, 26, "SIGVTALRM"}, {SIGPROF, 27, "SIGPROF"}, {SIGWINCH, 28, "SIGWINCH"},
        {SIGIO, 23, "SIGIO"},         {SIGSYS, 12, "SIGSYS"},
    };
    for (const auto& row : rows) {
        const dzcrash_report_signal_t signal = dzcrash_signal_from_host(row.host, 0);
        EXPECT_TRUE(signal.has_counterpart) << row.host;
        EXPECT_EQ(signal.signal, row.report) << row.host;
        EXPECT_STREQ(dzcrash_report_signal_name(&signal), row.name) << row.host;
    }

    // The host's own signals keep their number and get no other signal's name: SIGSTKFLT is 16 on
    // the host and SIGPWR 30, which the report's table calls SIGURG and SIGUSR1.
    for (int host : {SIGSTKFLT, SIGPWR, SIGRTMIN, SIGRTMAX, 0}) {
        const dzcrash_report_signal_t signal = dzcrash_signal_from_host(host, 0);
        EXPECT_FALSE(signal.has_counterpart) << host;
        EXPECT_EQ(signal.signal, host);
        EXPECT_EQ(dzcrash_report_signal_name(&signal), nullptr) << host;
    }
}

TEST(DZCrashSignal, HostCodesTranslateToTheReportsNumbering) {
    struct Row {
        int signal;
        int host;
        int report;
        const char* name;
    } rows[] = {
        {SIGILL, ILL_ILLOPC, 1, "ILL_ILLOPC"},
        {SIGILL, ILL_ILLOPN, 4, "ILL_ILLOPN"},
        {SIGILL, ILL_ILLADR, 5, "ILL_ILLADR"},
        {SIGILL, ILL_ILLTRP, 2, "ILL_ILLTRP"},
        {SIGILL, ILL_PRVOPC, 3, "ILL_PRVOPC"},
        {SIGILL, ILL_PRVREG, 6, "ILL_PRVREG"},
        {SIGILL, ILL_BADSTK, 8, "ILL_BADSTK"},
        {SIGFPE, FPE_INTDIV, 7, "FPE_INTDIV"},
        {SIGFPE, FPE_INTOVF, 8, "FPE_INTOVF"},
        {SIGFPE, FPE_FLTDIV, 1, "FPE_FLTDIV"},
        {SIGFPE, FPE_FLTOVF, 2, "FPE_FLTOVF"},
        {SIGFPE, FPE_FLTUND, 3, "FPE_FLTUND"},
        {SIGFPE, FPE_FLTRES, 4, "FPE_FLTRES"},
        {SIGFPE, FPE_FLTINV, 5, "FPE_FLTINV"},
        {SIGFPE, FPE_FLTSUB, 6, "FPE_FLTSUB"},
        {SIGSEGV, SEGV_MAPERR, 1, "SEGV_MAPERR"},
        {SIGSEGV, SEGV_ACCERR, 2, "SEGV_ACCERR"},
        {SIGSEGV, SEGV_BNDERR, 3, nullptr},
        {SIGBUS, BUS_ADRALN, 1, "BUS_ADRALN"},
        {SIGBUS, BUS_ADRERR, 2, "BUS_ADRERR"},
        {SIGBUS, BUS_OBJERR, 3, "BUS_OBJERR"},
        {SIGTRAP, SI_KERNEL, 1, "TRAP_BRKPT"},
        {SIGTRAP, TRAP_BRKPT, 1, "TRAP_BRKPT"},
        {SIGTRAP, TRAP_TRACE, 2, "TRAP_TRACE"},
        // Codes a sender sets (raise, kill, sigqueue, abort) say nothing faulted.
        {SIGABRT, SI_TKILL, 0, "#0"},
        {SIGTRAP, SI_USER, 0, "#0"},
        {SIGSEGV, SI_QUEUE, 0, "SEGV_NOOP"},
        {SIGILL, SI_TKILL, 0, "ILL_NOOP"},
        // A fault the kernel reports without a code of its own keeps its number.
        {SIGSEGV, SI_KERNEL, SI_KERNEL, nullptr},
    };
    for (const auto& row : rows) {
        const dzcrash_report_signal_t signal = dzcrash_signal_from_host(row.signal, row.host);
        EXPECT_EQ(signal.code, row.report) << row.signal << "/" << row.host;
        const char* name = dzcrash_signal_code_name(signal.signal, signal.code);
        if (row.name) {
            EXPECT_STREQ(name, row.name) << row.signal << "/" << row.host;
        } else {
            EXPECT_EQ(name, nullptr) << row.signal << "/" << row.host;
        }
    }
}
