#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "crash_reporter/async/dzcrash_async.h"
#include "platform/mach/mach_port.h"

namespace {

const size_t kPage = static_cast<size_t>(getpagesize());

// A fault inside a read ends the test binary with a message, so a read that touched memory it
// should only have asked about can never pass.
void failOnFault(int signal, siginfo_t* info, void*) {
    const char message[] = "a bounded read raised a fault signal\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    (void)info;
    _exit(128 + signal);
}

// Three pages: readable, PROT_NONE, unmapped; fault signals fail the test while it runs.
class SafeRead : public testing::Test {
  protected:
    void SetUp() override {
        struct sigaction action {};
        action.sa_sigaction = failOnFault;
        action.sa_flags = SA_SIGINFO;
        ASSERT_EQ(sigaction(SIGSEGV, &action, &previousSegv_), 0);
        ASSERT_EQ(sigaction(SIGBUS, &action, &previousBus_), 0);
        void* pages = mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(pages, MAP_FAILED);
        base_ = static_cast<uint8_t*>(pages);
        for (size_t i = 0; i < kPage; ++i) base_[i] = static_cast<uint8_t>(i);
        ASSERT_EQ(mprotect(base_ + kPage, kPage, PROT_NONE), 0);
        ASSERT_EQ(munmap(base_ + 2 * kPage, kPage), 0);
    }
    void TearDown() override {
        munmap(base_, 2 * kPage);
        sigaction(SIGSEGV, &previousSegv_, nullptr);
        sigaction(SIGBUS, &previousBus_, nullptr);
    }

    dzcrash_vm_address_t address(size_t offset = 0) const {
        return reinterpret_cast<dzcrash_vm_address_t>(base_) + offset;
    }

    uint8_t* base_ = nullptr;
    struct sigaction previousSegv_ {};
    struct sigaction previousBus_ {};
};

}  // namespace

TEST_F(SafeRead, AnswersWithCodesAndNeverFaults) {
    uint8_t bytes[8] = {};
    ASSERT_EQ(dzcrash_safe_read(mach_task_self(), address(), 0x10, bytes, sizeof bytes), DZCRASH_ESUCCESS);
    EXPECT_EQ(std::memcmp(bytes, base_ + 0x10, sizeof bytes), 0);
    ASSERT_EQ(dzcrash_safe_read(mach_task_self(), address(0x20), -0x10, bytes, sizeof bytes),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(bytes[0], 0x10);

    struct Case {
        const char* what;
        dzcrash_vm_address_t address;
        dzcrash_vm_off_t offset;
        dzcrash_error_t expected;
    } cases[] = {
        {"unmapped page", address(), static_cast<dzcrash_vm_off_t>(2 * kPage), DZCRASH_ENOTFOUND},
        {"PROT_NONE page", address(kPage), 0, DZCRASH_EACCESS},
        {"readable into PROT_NONE", address(kPage - 4), 0, DZCRASH_EACCESS},
        {"null", 0, 0, DZCRASH_ENOTFOUND},
        {"offset past the top", 0xFFFFFFFFFFFFFFF0, 0x20, DZCRASH_ENOMEM},
        {"offset below zero", 0x10, -0x20, DZCRASH_ENOMEM},
        {"most negative offset", address(), INT64_MIN, DZCRASH_ENOMEM},
    };
    for (const auto& c : cases) {
        std::memset(bytes, 0xEE, sizeof bytes);
        EXPECT_EQ(dzcrash_safe_read(mach_task_self(), c.address, c.offset, bytes, sizeof bytes), c.expected)
            << c.what;
    }
    EXPECT_EQ(dzcrash_safe_read(mach_thread_self(), address(), 0, bytes, 1), DZCRASH_EUNKNOWN);
}

TEST_F(SafeRead, TypedReadsConvertThroughTheByteOrder) {
    const uint8_t value[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    std::memcpy(base_, value, sizeof value);
    uint8_t one;
    uint16_t two;
    uint32_t four;
    uint64_t eight;
    const auto* direct = dzcrash_byteorder_direct();
    const auto* swapped = dzcrash_byteorder_swapped();

    ASSERT_EQ(dzcrash_safe_read_uint8(mach_task_self(), address(), 1, &one), DZCRASH_ESUCCESS);
    EXPECT_EQ(one, 0x02);
    ASSERT_EQ(dzcrash_safe_read_uint16(mach_task_self(), direct, address(), 0, &two), DZCRASH_ESUCCESS);
    EXPECT_EQ(two, 0x0201);  // the host is little-endian
    ASSERT_EQ(dzcrash_safe_read_uint16(mach_task_self(), swapped, address(), 0, &two), DZCRASH_ESUCCESS);
    EXPECT_EQ(two, 0x0102);
    ASSERT_EQ(dzcrash_safe_read_uint32(mach_task_self(), swapped, address(), 4, &four), DZCRASH_ESUCCESS);
    EXPECT_EQ(four, 0x05060708u);
    ASSERT_EQ(dzcrash_safe_read_uint64(mach_task_self(), swapped, address(), 0, &eight), DZCRASH_ESUCCESS);
    EXPECT_EQ(eight, 0x0102030405060708u);
    ASSERT_EQ(dzcrash_safe_read_uint64(mach_task_self(), direct, address(), 0, &eight), DZCRASH_ESUCCESS);
    EXPECT_EQ(eight, 0x0807060504030201u);

    // A failed read leaves the destination alone.
    eight = 42;
    EXPECT_EQ(dzcrash_safe_read_uint64(mach_task_self(), direct, address(kPage), 0, &eight), DZCRASH_EACCESS);
    EXPECT_EQ(eight, 42u);
}

TEST(DZCrashAsync, AddCheckedRefusesSumsOutsideTheAddressRange) {
    dzcrash_vm_address_t sum = 7;
    EXPECT_FALSE(dzcrash_add_checked(0xFFFFFFFFFFFFFFF0, 0x20, &sum));
    EXPECT_FALSE(dzcrash_add_checked(0x10, -0x11, &sum));
    EXPECT_FALSE(dzcrash_add_checked(0, INT64_MIN, &sum));
    EXPECT_EQ(sum, 7u);
    EXPECT_TRUE(dzcrash_add_checked(0xFFFFFFFFFFFFFFF0, 0xF, &sum));
    EXPECT_EQ(sum, 0xFFFFFFFFFFFFFFFFu);
    EXPECT_TRUE(dzcrash_add_checked(0x10, -0x10, &sum));
    EXPECT_EQ(sum, 0u);
    EXPECT_TRUE(dzcrash_add_checked(0x8000000000000000, INT64_MIN, nullptr));
}

TEST(DZCrashAsync, ThreadSelfIsTheThreadIdAndTakesNoReference) {
    mach_port_urefs_t before = 0, after = 0;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &before);
    EXPECT_EQ(dzcrash_thread_self(), static_cast<thread_t>(syscall(SYS_gettid)));
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &after);
    EXPECT_EQ(after, before);
}

TEST(DZCrashAsync, StringAndByteHelpers) {
    EXPECT_EQ(dzcrash_string_compare("abc", "abc"), 0);
    EXPECT_LT(dzcrash_string_compare("abc", "abd"), 0);
    EXPECT_GT(dzcrash_string_compare("abc", "ab"), 0);
    EXPECT_GT(dzcrash_string_compare("\xC3", "a"), 0);  // bytes compare as unsigned
    EXPECT_EQ(dzcrash_string_compare_n("abcX", "abcY", 3), 0);
    EXPECT_LT(dzcrash_string_compare_n("abcX", "abcY", 4), 0);
    EXPECT_EQ(dzcrash_string_compare_n("ab", "ab", 10), 0);  // stops at the NUL they share

    uint8_t bytes[4] = {1, 2, 3, 4};
    dzcrash_fill_bytes(bytes + 1, 0xAA, 2);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{1, 0xAA, 0xAA, 4}));
    dzcrash_fill_bytes(bytes, 0, 0);
    EXPECT_EQ(bytes[0], 1);
    const uint8_t source[3] = {7, 8, 9};
    dzcrash_copy_bytes(bytes, source, 3);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{7, 8, 9, 4}));
}

TEST(DZCrashAsync, Utf8ValidPrefix) {
    struct Case {
        const char* what;
        std::string bytes;
        size_t expected;
    } cases[] = {
        {"plain", "name", 4},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "ab",
         5},
        {"byte-order mark alone", "\xEF\xBB\xBF", 3},
        {"two bytes of a mark", "\xEF\xBB", 0},
        {"2-byte character", "a\xC3\xA9", 3},
        {"2-byte character cut", "a\xC3", 1},
        {"3-byte character cut", "ab\xE2\x82", 2},
        {"4-byte character", "\xF0\x9F\x98\x80", 4},
        {"4-byte character cut", "x\xF0\x9F\x98", 1},
        {"NUL stop", std::string("ab\0cd", 5), 2},
        {"bad lead byte",
         "ab\xFF"
         "cd",
         2},
        {"stray continuation byte",
         "\x80"
         "a",
         0},
        {"continuation byte missing", "a\xC3(", 1},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dzcrash_utf8_valid_prefix(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
                  c.expected)
            << c.what;
    }
}
