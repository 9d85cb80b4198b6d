#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/mach/mach_port.h"
#include "testing/Eventually.h"

namespace {

mach_port_urefs_t taskSendReferences() {
    mach_port_urefs_t references = 0;
    EXPECT_EQ(mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &references),
              KERN_SUCCESS);
    return references;
}

}  // namespace

TEST(MachPort, TaskSendReferencesAreCountedAndTheProcessKeepsItsOwn) {
    const mach_port_urefs_t before = taskSendReferences();
    ASSERT_GE(before, 1u);
    ASSERT_EQ(mach_port_mod_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, 2), KERN_SUCCESS);
    EXPECT_EQ(taskSendReferences(), before + 2);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), mach_task_self()), KERN_SUCCESS);
    EXPECT_EQ(mach_port_mod_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, -1), KERN_SUCCESS);
    EXPECT_EQ(taskSendReferences(), before);

    // Releasing more than was taken is refused rather than leaving the task without its name.
    EXPECT_EQ(mach_port_mod_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND,
                                 -static_cast<mach_port_delta_t>(before)),
              KERN_INVALID_VALUE);
    EXPECT_EQ(mach_port_mod_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, 0x10000),
              KERN_UREFS_OVERFLOW);
    EXPECT_EQ(taskSendReferences(), before);
}

TEST(MachPort, OnlyTheOwnTaskAndItsLiveThreadsHaveNames) {
    const mach_port_name_t thread = mach_thread_self();
    EXPECT_EQ(thread, static_cast<mach_port_name_t>(syscall(SYS_gettid)));
    EXPECT_NE(thread, mach_task_self());
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), thread), KERN_SUCCESS);
    EXPECT_EQ(mach_port_mod_refs(mach_task_self(), thread, MACH_PORT_RIGHT_SEND, 1), KERN_INVALID_RIGHT);

    mach_port_name_t ended = MACH_PORT_NULL;
    std::thread([&] { ended = mach_thread_self(); }).join();
    EXPECT_NE(ended, thread);
    // A joined thread can stay listed by the kernel for a moment after the join returns.
    const std::string endedEntry = "/proc/self/task/" + std::to_string(ended);
    ASSERT_TRUE(eventually([&] { return !std::filesystem::exists(endedEntry); }));
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), ended), KERN_INVALID_NAME);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), MACH_PORT_NULL), KERN_INVALID_NAME);

    EXPECT_EQ(mach_port_deallocate(mach_task_self() + 1, mach_task_self()), KERN_INVALID_TASK);
    mach_port_urefs_t references;
    EXPECT_EQ(mach_port_get_refs(thread, mach_task_self(), MACH_PORT_RIGHT_SEND, &references),
              KERN_INVALID_TASK);
}
