#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "crash_reporter/DZCrashMachExceptionPortSet.h"
#include "crash_reporter/DZCrashMachExceptionServer.h"
#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/dzcrash_crash_context.h"
#include "crash_reporter/dzcrash_mach_exception.h"
#include "crash_reporter/testing/DZCrashMachExceptionServerTesting.h"
#include "crash_reporter/tests/CrashChild.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/testing/WorkerThreads.h"
#include "testing/Eventually.h"

namespace {

bool threadExists(thread_t thread) {
    return std::filesystem::exists("/proc/self/task/" + std::to_string(thread));
}

}  // namespace

TEST(DZCrashMachException, ExceptionsMapToSignalsAsTheTableSays) {
    struct Case {
        exception_type_t type;
        int64_t code0;
        const char* signal;
        const char* code;
    } cases[] = {
        {EXC_BAD_ACCESS, 1, "SIGSEGV", "SEGV_MAPERR"},
        {EXC_BAD_ACCESS, 2, "SIGBUS", "BUS_ADRERR"},
        {EXC_BAD_ACCESS, 10, "SIGBUS", "BUS_ADRERR"},
        {EXC_BAD_INSTRUCTION, 1, "SIGILL", "ILL_NOOP"},
        {EXC_ARITHMETIC, 1, "SIGFPE", "FPE_NOOP"},
        {EXC_EMULATION, 1, "SIGEMT", "#0"},
        {EXC_SOFTWARE, 0x10000, "SIGSYS", "#0"},
        {EXC_SOFTWARE, 0x10001, "SIGPIPE", "#0"},
        {EXC_SOFTWARE, 0x10002, "SIGABRT", "#0"},
        {EXC_SOFTWARE, 0x10003, "SIGKILL", "#0"},
        {EXC_SOFTWARE, 7, "SIGABRT", "#0"},
        {EXC_BREAKPOINT, 1, "SIGTRAP", "TRAP_BRKPT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.code0);
        const mach_exception_data_type_t codes[] = {c.code0, 0x4000};
        dzcrash_mach_signal mapped{};
        ASSERT_TRUE(dzcrash_mach_exception_to_signal(c.type, codes, 2, &mapped));
        EXPECT_STREQ(dzcrash_signal_name(mapped.signal.signal), c.signal);
        const char* code = dzcrash_signal_code_name(mapped.signal.signal, mapped.signal.code);
        EXPECT_STREQ(code ? code : "#0", c.code);
        EXPECT_EQ(mapped.address, 0x4000u);
    }
    const mach_exception_data_type_t codes[] = {1, 0};
    dzcrash_mach_signal mapped{};
    EXPECT_FALSE(dzcrash_mach_exception_to_signal(EXC_BAD_ACCESS, codes, 1, &mapped));
    EXPECT_FALSE(dzcrash_mach_exception_to_signal(EXC_GUARD, codes, 2, &mapped));
    EXPECT_FALSE(dzcrash_mach_exception_to_signal(0, codes, 2, &mapped));
}

TEST(DZCrashMachException, TheMaskHasGuardExceptionsFromDarwin13On) {
    const DZCrashHostInfo twelve({12, 6, 0});
    const DZCrashHostInfo thirteen({13, 0, 1});
    EXPECT_EQ(dzcrash_mach_exception_mask(&twelve), 0x6Eu);
    EXPECT_EQ(dzcrash_mach_exception_mask(&thirteen), 0x106Eu);
    EXPECT_EQ(dzcrash_mach_exception_mask(nullptr), 0x6Eu);
}

// ---- The server, with requests put on its port by hand ----

namespace {

struct Seen {
    std::atomic<int> calls{0};
    std::atomic<exception_type_t> type{0};
    std::atomic<mach_msg_type_number_t> count{0};
    std::atomic<int64_t> codes[2]{};
};

kern_return_t recordRequest(task_t, thread_t, exception_type_t type, mach_exception_data_t codes,
                            mach_msg_type_number_t count, void* context) {
    auto* seen = static_cast<Seen*>(context);
    seen->type.store(type);
    seen->count.store(count);
    for (mach_msg_type_number_t i = 0; i < count && i < 2; ++i) seen->codes[i].store(codes[i]);
    ++seen->calls;
    return 0x1234;
}

// A request of `size` bytes, at least the default one's, with a reply port; answers the reply.
mig_reply_error_t request(mach_port_t server, mach_msg_size_t size, exception_type_t type, int64_t code0,
                          int64_t code1) {
    mach_port_name_t reply = MACH_PORT_NULL;
    EXPECT_EQ(mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &reply), KERN_SUCCESS);
    std::vector<uint8_t> bytes(std::max<size_t>(size, sizeof(mach_exception_raise_request_t)));
    mach_exception_raise_request_t message{};
    message.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE);
    message.Head.msgh_remote_port = server;
    message.Head.msgh_local_port = reply;
    message.Head.msgh_id = kMachExceptionRaiseId;
    message.msgh_body.msgh_descriptor_count = 2;
    message.thread = {mach_thread_self(), 0, 0, MACH_MSG_TYPE_COPY_SEND, MACH_MSG_PORT_DESCRIPTOR};
    message.task = {mach_task_self(), 0, 0, MACH_MSG_TYPE_COPY_SEND, MACH_MSG_PORT_DESCRIPTOR};
    message.NDR = NDR_record;
    message.exception = type;
    message.codeCnt = 2;
    message.code[0] = code0;
    message.code[1] = code1;
    memcpy(bytes.data(), &message, std::min<size_t>(size, sizeof message));
    auto* header = reinterpret_cast<mach_msg_header_t*>(bytes.data());
    EXPECT_EQ(mach_msg(header, MACH_SEND_MSG, size, 0, MACH_PORT_NULL, 0, MACH_PORT_NULL), MACH_MSG_SUCCESS);
    mig_reply_error_t answer{};
    EXPECT_EQ(mach_msg(&answer.Head, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof answer, reply, 60000,
                       MACH_PORT_NULL),
              MACH_MSG_SUCCESS);
    mach_port_mod_refs(mach_task_self(), reply, MACH_PORT_RIGHT_RECEIVE, -1);
    return answer;
}

}  // namespace

TEST(DZCrashMachExceptionServer, AnswersEachRequestWithItsCallbacksResult) {
    Seen seen;
    Error error;
    auto server = DZCrashMachExceptionServer::initWithCallBack(recordRequest, &seen, &error);
    ASSERT_NE(server, nullptr) << error.description;
    const mach_port_t port = server->copySendRightForServer();
    ASSERT_NE(port, MACH_PORT_NULL);

    mig_reply_error_t answer = request(port, 84, EXC_BAD_ACCESS, 1, 0x40);
    EXPECT_EQ(answer.Head.msgh_size, 36u);
    EXPECT_EQ(answer.Head.msgh_id, kMachExceptionRaiseId + 100);
    EXPECT_EQ(answer.RetCode, 0x1234);
    EXPECT_EQ(seen.calls.load(), 1);
    EXPECT_EQ(seen.type.load(), EXC_BAD_ACCESS);
    EXPECT_EQ(seen.count.load(), 2u);
    EXPECT_EQ(seen.codes[0].load(), 1);
    EXPECT_EQ(seen.codes[1].load(), 0x40);

    // Too short to hold the request's fields: refused without asking the callback.
    answer = request(port, 80, EXC_BAD_ACCESS, 1, 0x40);
    EXPECT_EQ(answer.RetCode, KERN_FAILURE);
    EXPECT_EQ(seen.calls.load(), 1);

    // Larger than the page the server starts with: received once its buffer has grown.
    answer = request(port, 5000, EXC_ARITHMETIC, 1, 0);
    EXPECT_EQ(answer.RetCode, 0x1234);
    EXPECT_EQ(seen.calls.load(), 2);
    EXPECT_EQ(seen.type.load(), EXC_ARITHMETIC);
    mach_port_deallocate(mach_task_self(), port);
}

TEST(DZCrashMachExceptionServer, ReleasingItEndsItsThreadAndLeavesNoPortName) {
    const int namesBefore = MachTesting::portNamesInUse();
    Seen seen;
    auto server = DZCrashMachExceptionServer::initWithCallBack(recordRequest, &seen);
    ASSERT_NE(server, nullptr);
    const thread_t thread = server->serverThread();
    EXPECT_TRUE(threadExists(thread));
    auto port = server->exceptionPortWithMask(EXC_MASK_BAD_ACCESS);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->behavior(), static_cast<exception_behavior_t>(0x80000001));
    EXPECT_EQ(port->flavor(), x86_THREAD_STATE);
    EXPECT_GT(MachTesting::portNamesInUse(), namesBefore);
    port.reset();
    server.reset();
    EXPECT_EQ(MachTesting::portNamesInUse(), namesBefore);
    EXPECT_TRUE(eventually([&] { return !threadExists(thread); }));
}

TEST(DZCrashMachExceptionServer, ASetUpFailingAtThreadCreationAnswersNilAndLeaksNothing) {
    const int namesBefore = MachTesting::portNamesInUse();
    DZCrashMachExceptionServerTesting::setThreadCreationFailing(true);
    Error error;
    auto server = DZCrashMachExceptionServer::initWithCallBack(recordRequest, nullptr, &error);
    DZCrashMachExceptionServerTesting::setThreadCreationFailing(false);
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(error.code, DZCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.description, "Failed to create exception server thread");
    EXPECT_EQ(MachTesting::portNamesInUse(), namesBefore);
}

TEST(DZCrashMachExceptionPortSet, FifteenPortsAreAnAssertionFailure) {
    DZCrashMachExceptionPortSet::Ports ports;
    for (int i = 0; i < 15; ++i) {
        ports.push_back(
            DZCrashMachExceptionPort::initWithServerPort(MACH_PORT_NULL, 0, EXCEPTION_DEFAULT, 7));
    }
    EXPECT_DEATH(DZCrashMachExceptionPortSet::initWithSet(ports),
                 "Set size of 15 exceeds EXC_TYPES_COUNT \\(14\\)");
}

// ---- Forwarding to the ports registered before, and the crash callback ----

namespace {

// A port served by a thread of its own that answers every request KERN_SUCCESS, as a debugger would.
class DebuggerPort {
  public:
    DebuggerPort() {
        mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~DebuggerPort() {
        mach_port_mod_refs(mach_task_self(), port_, MACH_PORT_RIGHT_RECEIVE, -1);
        thread_.join();
    }
    mach_port_t port() const { return port_; }
    mach_msg_id_t lastId() const { return lastId_.load(); }
    uint64_t lastRip() const { return lastRip_.load(); }

  private:
    void serve() {
        alignas(8) uint8_t buffer[kMachMessageSizeMax];
        auto* message = reinterpret_cast<mach_msg_header_t*>(buffer);
        while (mach_msg(message, MACH_RCV_MSG, 0, sizeof buffer, port_, 0, MACH_PORT_NULL) ==
               MACH_MSG_SUCCESS) {
            lastId_.store(message->msgh_id);
            if (message->msgh_id == kMachExceptionRaiseStateId) {
                // Header, NDR, type, count, two codes, flavour, state count, then the state.
                x86_thread_state_t state;
                memcpy(&state, buffer + sizeof(mach_msg_header_t) + 8 + 4 + 4 + 16 + 4 + 4, sizeof state);
                lastRip_.store(state.uts.ts64.rip);
            }
            mig_reply_error_t reply{};
            reply.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSGH_BITS_REMOTE(message->msgh_bits), 0);
            reply.Head.msgh_remote_port = message->msgh_remote_port;
            reply.Head.msgh_id = message->msgh_id + 100;
            reply.RetCode = KERN_SUCCESS;
            mach_msg(&reply.Head, MACH_SEND_MSG, sizeof reply, 0, MACH_PORT_NULL, 0, MACH_PORT_NULL);
        }
    }

    mach_port_name_t port_ = MACH_PORT_NULL;
    std::atomic<mach_msg_id_t> lastId_{0};
    std::atomic<uint64_t> lastRip_{0};
    std::thread thread_;
};

class MachCallback : public testing::Test {
  protected:
    void SetUp() override {
        context_ = std::make_unique<dzcrash_crash_context>();
        memset(context_.get(), 0, sizeof *context_);
        dzcrash_log_writer_init(&context_->writer, "com.example.mach", "1", nullptr, 0, false);
        path_ = report_.path().string();
        std::filesystem::remove(path_);
        context_->report_path = path_.data();
    }
    void TearDown() override { dzcrash_log_writer_release(&context_->writer); }

    kern_return_t raiseBadAccess(thread_t thread) {
        mach_exception_data_type_t codes[] = {KERN_INVALID_ADDRESS, 0x10};
        return dzcrash_mach_exception_callback(mach_task_self(), thread, EXC_BAD_ACCESS, codes, 2,
                                               context_.get());
    }
    void previous(mach_port_t port, exception_mask_t mask, exception_behavior_t behavior) {
        context_->previous_mach_ports = {1, {mask}, {port}, {behavior}, {x86_THREAD_STATE}};
    }
    bool reportWritten() const { return std::filesystem::exists(path_); }

    PatientSuspensions patience_;
    ScratchReport report_;
    std::string path_;
    std::unique_ptr<dzcrash_crash_context> context_;
};

}  // namespace

TEST_F(MachCallback, APreviousPortThatHandlesTheExceptionLeavesNoReport) {
    DebuggerPort debugger;
    ParkedThreads parked(1, 3);
    previous(debugger.port(), EXC_MASK_BAD_ACCESS, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES);
    EXPECT_EQ(raiseBadAccess(parked.ids().front()), KERN_SUCCESS);
    EXPECT_EQ(debugger.lastId(), kMachExceptionRaiseId);
    EXPECT_FALSE(reportWritten());
}

TEST_F(MachCallback, AStatePortGetsTheThreadsStateReadBeforeTheRaise) {
    DebuggerPort debugger;
    ParkedThreads parked(1, 3);
    const thread_t thread = parked.ids().front();
    x86_thread_state_t expected{};
    mach_msg_type_number_t count = x86_THREAD_STATE_COUNT;
    ASSERT_EQ(thread_get_state(thread, x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&expected), &count),
              KERN_SUCCESS);
    previous(debugger.port(), EXC_MASK_BAD_ACCESS, EXCEPTION_STATE | MACH_EXCEPTION_CODES);
    EXPECT_EQ(raiseBadAccess(thread), KERN_SUCCESS);
    EXPECT_EQ(debugger.lastId(), kMachExceptionRaiseStateId);
    // Parked in a system call, the thread stands at the same instruction each time it is read.
    EXPECT_EQ(debugger.lastRip(), expected.uts.ts64.rip);
    EXPECT_FALSE(reportWritten());
}

TEST_F(MachCallback, WithoutAMatchingPortTheFaultingThreadIsReportedCrashed) {
    DebuggerPort debugger;
    ParkedThreads parked(1, 3);
    previous(debugger.port(), EXC_MASK_ARITHMETIC, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES);
    EXPECT_EQ(raiseBadAccess(parked.ids().front()), KERN_FAILURE);
    EXPECT_EQ(debugger.lastId(), 0);
    ASSERT_TRUE(reportWritten());
    auto report = DZCrashReport::initWithData(report_.contents());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->address(), 0x10u);
    ASSERT_NE(report->machExceptionInfo(), nullptr);
    EXPECT_EQ(report->machExceptionInfo()->type(), 1u);
    // The calling thread stands for the server's: written, with registers only for the crashed one.
    size_t crashed = 0;
    for (const auto& thread : report->threads()) crashed += thread->crashed() ? 1 : 0;
    EXPECT_EQ(crashed, 1u);
    EXPECT_EQ(report->threads().size(), processThreadCount());
}

TEST_F(MachCallback, AGuardExceptionHasNoSignalAndLeavesNoReport) {
    mach_exception_data_type_t codes[] = {1, 0};
    EXPECT_EQ(dzcrash_mach_exception_callback(mach_task_self(), mach_thread_self(), EXC_GUARD, codes, 2,
                                              context_.get()),
              KERN_FAILURE);
    EXPECT_FALSE(reportWritten());
}

// ---- Whole processes in Mach mode ----

TEST(DZCrashMachMode, FaultsReachTheServerAndAreReportedWithTheirException) {
    {
        CrashChild child("mach-null");
        EXPECT_TRUE(endedBySignal(child.run("mach", 2, "null"), SIGSEGV));
        Error error;
        auto report = child.report(&error);
        ASSERT_NE(report, nullptr) << error.description;
        EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
        EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
        EXPECT_EQ(report->signalInfo()->address(), 0u);
        ASSERT_NE(report->machExceptionInfo(), nullptr);
        EXPECT_EQ(report->machExceptionInfo()->type(), 1u);
        EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<uint64_t>{1, 0}));
        // The main thread, two workers and the server.
        EXPECT_EQ(report->threads().size(), 4u);
        std::shared_ptr<DZCrashReportThreadInfo> crashed;
        for (const auto& thread : report->threads()) {
            if (thread->crashed()) {
                EXPECT_EQ(crashed, nullptr) << "more than one crashed thread";
                crashed = thread;
            }
        }
        ASSERT_NE(crashed, nullptr);
        ASSERT_FALSE(crashed->stackFrames().empty());
        const auto [start, size] = child.note("crash-function");
        const uint64_t pc = crashed->stackFrames().front()->instructionPointer();
        EXPECT_GE(pc, start);
        EXPECT_LT(pc, start + size);
    }
    {
        CrashChild child("mach-readonly");
        EXPECT_TRUE(endedBySignal(child.run("mach", 0, "readonly"), SIGSEGV));
        auto report = child.report();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo()->name(), "SIGBUS");
        EXPECT_EQ(report->signalInfo()->code(), "BUS_ADRERR");
        EXPECT_EQ(report->signalInfo()->address(), child.note("page").first);
    }
    {
        CrashChild child("mach-abort");
        EXPECT_TRUE(endedBySignal(child.run("mach", 0, "abort"), SIGABRT));
        auto report = child.report();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo()->name(), "SIGABRT");
    }
}

TEST(DZCrashMachMode, ASignalSentFromOutsideIsNoException) {
    CrashChild child("mach-kill");
    const pid_t pid = child.start({DZCRASH_CRASH_HELPER, child.base().string(), "mach", "0", "wait"});
    ASSERT_GT(pid, 0);
    const bool ready = eventually([&] { return std::filesystem::exists(child.base() / "ready"); });
    kill(pid, SIGSEGV);
    EXPECT_TRUE(ready);
    EXPECT_TRUE(endedBySignal(waitForChild(pid), SIGSEGV));
    EXPECT_FALSE(std::filesystem::exists(child.reportPath()));
}
