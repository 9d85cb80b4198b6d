#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "crash_reporter/async/dzcrash_async_mobject.h"
#include "platform/mach/mach_port.h"

namespace {

mach_port_urefs_t taskReferences() {
    mach_port_urefs_t refs = 0;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &refs);
    return refs;
}

// A readable page followed by an unmapped one. A third page stays mapped above the hole, so the
// hole is one page wide and none of the objects' own copies (two pages and more) can land in it.
class PageThenHole : public testing::Test {
  protected:
    void SetUp() override {
        page_ = static_cast<uint64_t>(getpagesize());
        void* pages = mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(pages, MAP_FAILED);
        base_ = reinterpret_cast<uint64_t>(pages);
        for (uint64_t index = 0; index < page_; ++index) static_cast<uint8_t*>(pages)[index] = uint8_t(index);
        ASSERT_EQ(munmap(reinterpret_cast<void*>(base_ + page_), page_), 0);
    }
    void TearDown() override {
        munmap(reinterpret_cast<void*>(base_), page_);
        munmap(reinterpret_cast<void*>(base_ + 2 * page_), page_);
    }

    uint64_t page_ = 0;
    uint64_t base_ = 0;
};

}  // namespace

TEST_F(PageThenHole, WithoutRequireFullKeepsTheReadablePageAndBoundsEveryRead) {
    const mach_port_urefs_t refsBefore = taskReferences();
    dzcrash_async_mobject_t mobj;
    ASSERT_EQ(dzcrash_async_mobject_init(&mobj, mach_task_self(), base_ + 16, page_, false),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_async_mobject_length(&mobj), page_ - 16);
    EXPECT_EQ(dzcrash_async_mobject_base_address(&mobj), base_ + 16);
    EXPECT_EQ(dzcrash_async_mobject_task(&mobj), mach_task_self());
    EXPECT_EQ(taskReferences(), refsBefore + 1);

    // A private copy: a later change of the original does not show through.
    static_cast<uint8_t*>(reinterpret_cast<void*>(base_))[20] = 0xee;
    uint8_t byte = 0;
    EXPECT_EQ(dzcrash_async_mobject_read_uint8(&mobj, base_ + 16, 4, &byte), DZCRASH_ESUCCESS);
    EXPECT_EQ(byte, 20);
    uint32_t word = 0;
    EXPECT_EQ(
        dzcrash_async_mobject_read_uint32(&mobj, dzcrash_byteorder_direct(), base_ + page_ - 4, 0, &word),
        DZCRASH_ESUCCESS);
    uint32_t swapped = 0;
    EXPECT_EQ(
        dzcrash_async_mobject_read_uint32(&mobj, dzcrash_byteorder_swapped(), base_ + page_ - 4, 0, &swapped),
        DZCRASH_ESUCCESS);
    EXPECT_EQ(swapped, __builtin_bswap32(word));

    // Outside the object: past its end, straddling its end, before its start, and offsets that wrap.
    struct {
        uint64_t address;
        int64_t offset;
    } const outside[] = {{base_ + page_, 0}, {base_ + page_ - 2, 0},  {base_ + 16, -1},
                         {base_ + 12, 0},    {base_ + 16, INT64_MAX}, {UINT64_MAX, 2}};
    for (const auto& read : outside) {
        EXPECT_EQ(dzcrash_async_mobject_read_uint32(&mobj, dzcrash_byteorder_direct(), read.address,
                                                    read.offset, &word),
                  DZCRASH_EINVAL)
            << std::hex << read.address << " " << read.offset;
    }
    uint64_t wide = 0;
    EXPECT_EQ(
        dzcrash_async_mobject_read_uint64(&mobj, dzcrash_byteorder_direct(), base_ + page_ - 7, 0, &wide),
        DZCRASH_EINVAL);
    EXPECT_EQ(dzcrash_async_mobject_remap_address(&mobj, base_ + 16, 0, page_), nullptr);
    EXPECT_NE(dzcrash_async_mobject_remap_address(&mobj, base_ + 16, 0, page_ - 16), nullptr);

    dzcrash_async_mobject_free(&mobj);
    EXPECT_EQ(taskReferences(), refsBefore);
}

TEST_F(PageThenHole, RequireFullRefusesARangeWithAnUnreadablePage) {
    const mach_port_urefs_t refsBefore = taskReferences();
    dzcrash_async_mobject_t mobj;
    EXPECT_EQ(dzcrash_async_mobject_init(&mobj, mach_task_self(), base_ + 16, page_, true), DZCRASH_ENOMEM);
    EXPECT_EQ(dzcrash_async_mobject_init(&mobj, mach_task_self(), base_ + page_, page_ + 8, false),
              DZCRASH_ENOMEM);
    EXPECT_EQ(dzcrash_async_mobject_init(&mobj, mach_task_self(), UINT64_MAX - 4, 16, false), DZCRASH_EINVAL);
    EXPECT_EQ(taskReferences(), refsBefore);

    ASSERT_EQ(dzcrash_async_mobject_init(&mobj, mach_task_self(), base_ + 16, page_ - 16, true),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_async_mobject_length(&mobj), page_ - 16);
    dzcrash_async_mobject_free(&mobj);
}
