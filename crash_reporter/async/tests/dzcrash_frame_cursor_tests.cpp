#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "crash_reporter/async/dzcrash_frame_cursor.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/WorkerThreads.h"

namespace {

const size_t kPage = static_cast<size_t>(getpagesize());

// A page of stack memory to lay frames into, followed by a page that is not mapped.
class SyntheticStack : public testing::Test {
  protected:
    void SetUp() override {
        void* pages = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(pages, MAP_FAILED);
        stack_ = static_cast<uint8_t*>(pages);
        ASSERT_EQ(munmap(stack_ + kPage, kPage), 0);
    }
    void TearDown() override {
        if (cursorLive_) dzcrash_async_frame_cursor_free(&cursor_);
        munmap(stack_, kPage);
    }

    uint64_t at(size_t offset) const { return reinterpret_cast<uint64_t>(stack_ + offset); }
    uint64_t unmapped() const { return at(kPage); }

    // A 64-bit frame record at `offset`: the caller's frame pointer, then the return address.
    void frame(size_t offset, uint64_t callerFramePointer, uint64_t returnAddress) {
        std::memcpy(stack_ + offset, &callerFramePointer, 8);
        std::memcpy(stack_ + offset + 8, &returnAddress, 8);
    }

    void start(uint64_t rip, uint64_t fp, cpu_type_t cpu = CPU_TYPE_X86_64,
               dzcrash_async_thread_stack_direction_t direction = DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN) {
        dzcrash_async_thread_state state;
        ASSERT_EQ(dzcrash_async_thread_state_init(&state, cpu), DZCRASH_ESUCCESS);
        state.stack_direction = direction;
        dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_IP, rip);
        dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_FP, fp);
        dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_SP, fp - 64);
        ASSERT_EQ(dzcrash_async_frame_cursor_init(&cursor_, mach_task_self(), &state, nullptr),
                  DZCRASH_FRAME_ESUCCESS);
        cursorLive_ = true;
    }

    uint64_t reg(dzcrash_regnum_t reg) {
        uint64_t value = 0xDEAD;
        EXPECT_EQ(dzcrash_async_frame_cursor_get_reg(&cursor_, reg, &value), DZCRASH_FRAME_ESUCCESS);
        return value;
    }

    uint8_t* stack_ = nullptr;
    dzcrash_async_frame_cursor cursor_{};
    bool cursorLive_ = false;
};

}  // namespace

TEST_F(SyntheticStack, TheFirstFrameIsTheStartingStateAndReadsNoMemory) {
    start(0x401000, unmapped());
    ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(reg(DZCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(reg(DZCRASH_REG_SP), unmapped() - 64);
    EXPECT_EQ(cursor_.depth, 1u);
    // Only the second step reads, and the frame pointer leads nowhere.
    EXPECT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_EBADFRAME);
    EXPECT_EQ(reg(DZCRASH_REG_IP), 0x401000u) << "a failed step changed the frame";
    EXPECT_EQ(cursor_.depth, 1u);
}

TEST_F(SyntheticStack, ThreeLinkedFramesAreWalkedUntilTheZeroFramePointer) {
    frame(0, at(64), 0x402000);
    frame(64, at(128), 0x403000);
    frame(128, 0, 0x404000);
    start(0x401000, at(0));
    ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
    const uint64_t expected[][2] = {{0x402000, at(64)}, {0x403000, at(128)}, {0x404000, 0}};
    for (const auto& [rip, fp] : expected) {
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(reg(DZCRASH_REG_IP), rip);
        EXPECT_EQ(reg(DZCRASH_REG_FP), fp);
        // Nothing but those two is known of a caller's frame.
        uint64_t untouched = 0x5EED;
        EXPECT_EQ(dzcrash_async_frame_cursor_get_reg(&cursor_, DZCRASH_REG_SP, &untouched),
                  DZCRASH_FRAME_ENOTSUP);
        EXPECT_EQ(untouched, 0x5EEDu);
    }
    EXPECT_EQ(cursor_.depth, 4u);
    EXPECT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ENOFRAME);
    EXPECT_EQ(reg(DZCRASH_REG_IP), 0x404000u);
}

TEST_F(SyntheticStack, AChainThatTurnsAgainstTheStackDirectionIsCorrupt) {
    struct Case {
        dzcrash_async_thread_stack_direction_t direction;
        size_t first, second;  // offsets of the first and the second frame record read
        dzcrash_async_frame_error_t third;
    };
    const Case cases[] = {
        {DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN, 128, 64, DZCRASH_FRAME_EBADFRAME},
        {DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN, 64, 64, DZCRASH_FRAME_ESUCCESS},  // equal passes
        {DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN, 64, 128, DZCRASH_FRAME_ESUCCESS},
        {DZCRASH_ASYNC_THREAD_STACK_DIRECTION_UP, 64, 128, DZCRASH_FRAME_EBADFRAME},
        {DZCRASH_ASYNC_THREAD_STACK_DIRECTION_UP, 128, 64, DZCRASH_FRAME_ESUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.direction << " " << c.first << " -> " << c.second);
        std::memset(stack_, 0, kPage);
        frame(c.first, at(c.second), 0x402000);
        if (c.second != c.first) frame(c.second, 0, 0x403000);
        start(0x401000, at(c.first), CPU_TYPE_X86_64, c.direction);
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(dzcrash_async_frame_cursor_next(&cursor_), c.third);
        dzcrash_async_frame_cursor_free(&cursor_);
        cursorLive_ = false;
    }
}

TEST_F(SyntheticStack, AReturnAddressInTheFirstPageEndsTheWalk) {
    const std::pair<uint64_t, dzcrash_async_frame_error_t> cases[] = {
        {0, DZCRASH_FRAME_ENOFRAME},
        {4095, DZCRASH_FRAME_ENOFRAME},
        {4096, DZCRASH_FRAME_ENOFRAME},
        {4097, DZCRASH_FRAME_ESUCCESS},
    };
    for (const auto& [returnAddress, result] : cases) {
        SCOPED_TRACE(returnAddress);
        frame(0, at(64), returnAddress);
        start(0x401000, at(0));
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(dzcrash_async_frame_cursor_next(&cursor_), result);
        EXPECT_EQ(reg(DZCRASH_REG_IP), result == DZCRASH_FRAME_ESUCCESS ? returnAddress : 0x401000u);
        dzcrash_async_frame_cursor_free(&cursor_);
        cursorLive_ = false;
    }
}

TEST_F(SyntheticStack, TheThirtyTwoBitLayoutReadsFourByteWords) {
    // A 32-bit frame pointer reaches only the low 4 GiB.
    void* low = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(low, MAP_FAILED);
    const uint32_t record[] = {0x7000, 0x2001, 0xFFFFFFFF, 0xFFFFFFFF};
    std::memcpy(low, record, sizeof record);
    start(0x1001, reinterpret_cast<uint64_t>(low), CPU_TYPE_X86);
    ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(dzcrash_async_frame_cursor_get_regcount(&cursor_), 16u);
    EXPECT_STREQ(dzcrash_async_frame_cursor_get_regname(&cursor_, DZCRASH_REG_IP), "eip");
    ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor_), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(reg(DZCRASH_REG_IP), 0x2001u);
    EXPECT_EQ(reg(DZCRASH_REG_FP), 0x7000u);
    munmap(low, kPage);
}

namespace {

std::vector<int> readerCalls;

template <int Id, dzcrash_async_frame_error_t Result>
dzcrash_async_frame_error_t fakeReader(task_t, dzcrash_image_list*, const dzcrash_async_thread_state* current,
                                       const dzcrash_async_thread_state* previous,
                                       dzcrash_async_thread_state* next) {
    readerCalls.push_back(Id);
    // Tells the test whether a previous frame was handed over.
    readerCalls.push_back(previous ? 1 : 0);
    if (Result == DZCRASH_FRAME_ESUCCESS) {
        dzcrash_async_thread_state_copy(next, current);
        dzcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP,
                                           dzcrash_async_thread_state_get_reg(current, DZCRASH_REG_IP) + Id);
    }
    return Result;
}

}  // namespace

TEST_F(SyntheticStack, ReadersAreAskedInOrderUntilOneFindsAFrame) {
    start(0x401000, at(0));
    ASSERT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor_, nullptr, 0), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor_, nullptr, 0), DZCRASH_FRAME_EINVAL);

    const dzcrash_async_frame_reader_t failing[] = {fakeReader<1, DZCRASH_FRAME_ENOTSUP>,
                                                    fakeReader<2, DZCRASH_FRAME_EBADREG>};
    readerCalls.clear();
    EXPECT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor_, failing, 2), DZCRASH_FRAME_EBADREG);
    EXPECT_EQ(readerCalls, (std::vector<int>{1, 0, 2, 0}));

    const dzcrash_async_frame_reader_t finding[] = {fakeReader<1, DZCRASH_FRAME_ENOTSUP>,
                                                    fakeReader<2, DZCRASH_FRAME_ESUCCESS>,
                                                    fakeReader<3, DZCRASH_FRAME_ESUCCESS>};
    readerCalls.clear();
    ASSERT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor_, finding, 3), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(readerCalls, (std::vector<int>{1, 0, 2, 0}));
    EXPECT_EQ(reg(DZCRASH_REG_IP), 0x401002u);
    // From the third frame on, the frame before the current one goes along.
    readerCalls.clear();
    ASSERT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor_, finding + 1, 1), DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(readerCalls, (std::vector<int>{2, 1}));
    EXPECT_EQ(cursor_.depth, 3u);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&cursor_.prev_frame, DZCRASH_REG_IP), 0x401002u);
}

TEST_F(SyntheticStack, TheCursorHoldsATaskReferenceUntilFreed) {
    mach_port_urefs_t before = 0, during = 0, after = 0;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &before);
    start(0x401000, at(0));
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &during);
    dzcrash_async_frame_cursor_free(&cursor_);
    cursorLive_ = false;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &after);
    EXPECT_EQ(during, before + 1);
    EXPECT_EQ(after, before);
}

TEST(FrameError, EveryCodeHasItsTextAndUnknownCodesOneOfTheirOwn) {
    const char* const texts[] = {"No error",        "Unknown error",           "No frames are available",
                                 "Corrupted frame", "Operation not supported", "Invalid argument",
                                 "Internal error",  "Invalid register"};
    for (int code = 0; code < 8; ++code) {
        EXPECT_STREQ(dzcrash_async_frame_strerror(static_cast<dzcrash_async_frame_error_t>(code)),
                     texts[code]);
    }
    for (int code : {8, 100, -1}) {
        EXPECT_STREQ(dzcrash_async_frame_strerror(static_cast<dzcrash_async_frame_error_t>(code)),
                     "Unhandled error code");
    }
}

TEST(FrameCursorThread, ASuspendedThreadIsWalkedFromWhereItStands) {
    PatientSuspensions patient;
    CountingWorker worker;
    const thread_t thread = worker.id();
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    dzcrash_async_frame_cursor cursor;
    const dzcrash_async_frame_error_t init =
        dzcrash_async_frame_cursor_thread_init(&cursor, mach_task_self(), thread, nullptr);
    int frames = 0;
    uint64_t rip = 0, fp = 0;
    while (init == DZCRASH_FRAME_ESUCCESS && frames < 512 && dzcrash_async_frame_cursor_next(&cursor) == 0) {
        if (frames == 0) {
            dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &rip);
            dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_FP, &fp);
        }
        ++frames;
    }
    dzcrash_async_frame_cursor_free(&cursor);
    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
    ASSERT_EQ(init, DZCRASH_FRAME_ESUCCESS);
    EXPECT_NE(rip, 0u);
#if !defined(__SANITIZE_THREAD__)
    // Not under the thread sanitizer: the worker then mostly stands in the runtime that its atomic
    // accesses call, whose code keeps no frame pointer.
    EXPECT_EQ(fp, worker.frame());
    // The counting loop, then at least the thread's start that called it.
    EXPECT_GE(frames, 2);
#endif
}

TEST(FrameCursorThread, AThreadThatBlocksTheSuspendSignalIsAnInternalErrorWithinTheTimeout) {
    SignalBlockingWorker worker;
    dzcrash_async_frame_cursor cursor;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dzcrash_async_frame_cursor_thread_init(&cursor, mach_task_self(), worker.id(), nullptr),
              DZCRASH_FRAME_EINTERNAL);
    // About 100 ms; the bound only tells a timeout from a hang on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, kTestPatience);
    dzcrash_async_frame_cursor_free(&cursor);
    EXPECT_TRUE(worker.unblock());
}
