#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/vm_map.h"

namespace {

const size_t kPage = static_cast<size_t>(getpagesize());

// Three pages: readable (filled with 0x5A), PROT_NONE, then unmapped.
class ThreePages : public testing::Test {
  protected:
    void SetUp() override {
        void* pages = mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(pages, MAP_FAILED);
        base_ = static_cast<uint8_t*>(pages);
        std::memset(base_, 0x5A, kPage);
        ASSERT_EQ(mprotect(base_ + kPage, kPage, PROT_NONE), 0);
        ASSERT_EQ(munmap(base_ + 2 * kPage, kPage), 0);
    }
    void TearDown() override {
        MachTesting::setProcessVmReadvRefused(false);
        munmap(base_, 2 * kPage);
    }

    mach_vm_address_t at(size_t offset) const { return reinterpret_cast<mach_vm_address_t>(base_ + offset); }

    kern_return_t read(mach_vm_address_t address, size_t size, std::vector<uint8_t>& into,
                       mach_vm_size_t* copied = nullptr) {
        into.assign(size, 0);
        mach_vm_size_t ignored;
        return vm_read_overwrite(mach_task_self(), address, size,
                                 reinterpret_cast<mach_vm_address_t>(into.data()),
                                 copied ? copied : &ignored);
    }

    uint8_t* base_ = nullptr;
};

}  // namespace

TEST_F(ThreePages, ReadsAnswerWhereTheCopyStopsWithoutFaulting) {
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "through /proc/self/mem" : "through process_vm_readv");
        MachTesting::setProcessVmReadvRefused(refused);
        std::vector<uint8_t> bytes;
        mach_vm_size_t copied = 0;
        ASSERT_EQ(read(at(8), 16, bytes, &copied), KERN_SUCCESS);
        EXPECT_EQ(copied, 16u);
        EXPECT_EQ(bytes, std::vector<uint8_t>(16, 0x5A));

        EXPECT_EQ(read(at(2 * kPage), 8, bytes), KERN_INVALID_ADDRESS);
        EXPECT_EQ(read(0, 8, bytes), KERN_INVALID_ADDRESS);
        EXPECT_EQ(read(~mach_vm_address_t{0} - 4, 8, bytes), KERN_INVALID_ADDRESS);
        EXPECT_EQ(read(0xFFFF800000000000, 8, bytes), KERN_INVALID_ADDRESS);
        if (!refused) {
            EXPECT_EQ(read(at(kPage), 8, bytes), KERN_PROTECTION_FAILURE);
            // Up to the unreadable page, then the answer for that page.
            EXPECT_EQ(read(at(kPage - 4), 8, bytes, &copied), KERN_PROTECTION_FAILURE);
            EXPECT_EQ(copied, 4u);
        }
    }
    std::vector<uint8_t> none;
    EXPECT_EQ(read(at(0), 0, none), KERN_SUCCESS);
}

TEST_F(ThreePages, OnlyTheOwnTaskCanBeRead) {
    std::vector<uint8_t> bytes(8);
    mach_vm_size_t copied;
    EXPECT_EQ(vm_read_overwrite(mach_thread_self(), at(0), 8,
                                reinterpret_cast<mach_vm_address_t>(bytes.data()), &copied),
              KERN_INVALID_TASK);
}

// A descriptor of /proc/self/mem reaches the memory of the process that opened it; a forked child
// must read its own copy of a page, not its parent's.
TEST_F(ThreePages, AForkedChildReadsItsOwnMemoryOnTheFallbackRoad) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        base_[0] = 0x11;
        MachTesting::setProcessVmReadvRefused(true);
        uint8_t byte = 0;
        mach_vm_size_t copied;
        const kern_return_t result = vm_read_overwrite(mach_task_self(), at(0), 1,
                                                       reinterpret_cast<mach_vm_address_t>(&byte), &copied);
        _exit(result == KERN_SUCCESS && byte == 0x11 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(VmAllocate, GivesZeroFilledWritablePagesUntilDeallocated) {
    vm_address_t address = 0;
    ASSERT_EQ(vm_allocate(mach_task_self(), &address, 3 * kPage - 1, VM_FLAGS_ANYWHERE), KERN_SUCCESS);
    ASSERT_NE(address, 0u);
    EXPECT_EQ(address % kPage, 0u);
    auto* bytes = reinterpret_cast<uint8_t*>(address);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[3 * kPage - 1], 0);  // the size was rounded up to whole pages
    bytes[kPage] = 7;
    ASSERT_EQ(vm_deallocate(mach_task_self(), address, 3 * kPage - 1), KERN_SUCCESS);

    uint8_t byte;
    mach_vm_size_t copied;
    EXPECT_EQ(vm_read_overwrite(mach_task_self(), address + kPage, 1,
                                reinterpret_cast<mach_vm_address_t>(&byte), &copied),
              KERN_INVALID_ADDRESS);

    vm_address_t none = 1;
    EXPECT_EQ(vm_allocate(mach_task_self(), &none, 0, VM_FLAGS_ANYWHERE), KERN_SUCCESS);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(vm_allocate(mach_task_self(), &none, kPage, 0), KERN_INVALID_ARGUMENT);
    EXPECT_EQ(vm_allocate(mach_task_self() + 1, &none, kPage, VM_FLAGS_ANYWHERE), KERN_INVALID_TASK);
}
