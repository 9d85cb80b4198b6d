#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/dyld/dyld.h"
#include "platform/dyld/testing/DyldTesting.h"

namespace {

struct Event {
    bool added;
    const void* header;
    intptr_t slide;
    bool operator==(const Event&) const = default;
};

std::mutex eventsLock;
std::vector<Event> events;

void added(const void* header, intptr_t slide) {
    std::lock_guard lock(eventsLock);
    events.push_back({true, header, slide});
}

void removed(const void* header, intptr_t slide) {
    std::lock_guard lock(eventsLock);
    events.push_back({false, header, slide});
}

std::vector<Event> takeEvents() {
    std::lock_guard lock(eventsLock);
    return std::exchange(events, {});
}

std::string programPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

}  // namespace

// One test, as callbacks stay registered for the life of the process.
TEST(Dyld, RegisteringReportsEveryLoadedImageAndLaterChangesFollow) {
    const uint32_t count = _dyld_image_count();
    ASSERT_GE(count, 2u);
    EXPECT_EQ(_dyld_get_image_name(0), programPath()) << "the main program is named by its path";
    EXPECT_EQ(_dyld_get_image_header(count), nullptr);
    EXPECT_EQ(_dyld_get_image_name(count), nullptr);

    _dyld_register_func_for_add_image(added);
    _dyld_register_func_for_remove_image(removed);
    std::vector<Event> expected;
    for (uint32_t index = 0; index < count; ++index) {
        const void* header = _dyld_get_image_header(index);
        EXPECT_EQ(memcmp(header,
                         "\x7f"
                         "ELF",
                         4),
                  0)
            << _dyld_get_image_name(index);
        expected.push_back({true, header, _dyld_get_image_vmaddr_slide(index)});
        Dl_info info;
        ASSERT_EQ(dyld_dladdr(header, &info), 1);
        EXPECT_STREQ(info.dli_fname, _dyld_get_image_name(index));
        EXPECT_EQ(info.dli_fbase, header);
    }
    EXPECT_EQ(takeEvents(), expected);

    alignas(16) static const char fixture[64] = "fixture header";
    DyldTesting::addImage(fixture, "/fixture/Test.dylib", 0x1000);
    EXPECT_EQ(_dyld_image_count(), count + 1);
    EXPECT_STREQ(_dyld_get_image_name(count), "/fixture/Test.dylib");
    Dl_info info;
    ASSERT_EQ(dyld_dladdr(fixture, &info), 1);
    EXPECT_STREQ(info.dli_fname, "/fixture/Test.dylib");
    DyldTesting::removeImage(fixture);
    EXPECT_EQ(dyld_dladdr(fixture, &info), 0);
    EXPECT_EQ(takeEvents(), (std::vector<Event>{{true, fixture, 0x1000}, {false, fixture, 0x1000}}));

    // A system library that only the wrapper loads is reported, and its unload too.
    if (void* present = dlopen("libutil.so.1", RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(present);
        GTEST_SKIP() << "libutil is loaded already";
    }
    void* handle = dyld_dlopen("libutil.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle) GTEST_SKIP() << "no second library to load: " << dlerror();
    const std::vector<Event> loaded = takeEvents();
    ASSERT_FALSE(loaded.empty());
    for (const Event& event : loaded) EXPECT_TRUE(event.added);
    ASSERT_EQ(dyld_dlclose(handle), 0);
    std::vector<Event> unloaded = takeEvents();
    for (Event& event : unloaded) {
        EXPECT_FALSE(event.added);
        event.added = true;
    }
    EXPECT_EQ(unloaded, loaded);
}
