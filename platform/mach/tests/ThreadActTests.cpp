#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "platform/mach/mach_port.h"
#include "platform/mach/testing/WorkerThreads.h"
#include "platform/mach/thread_act.h"
#include "platform/mach/vm_map.h"

namespace {

std::set<thread_t> threadsInProc() {
    std::set<thread_t> threads;
    DIR* directory = opendir("/proc/self/task");
    if (!directory) return threads;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') threads.insert(static_cast<thread_t>(std::stoul(entry->d_name)));
    }
    closedir(directory);
    return threads;
}

std::set<thread_t> threadsOfTask() {
    thread_act_array_t list = nullptr;
    mach_msg_type_number_t count = 0;
    EXPECT_EQ(task_threads(mach_task_self(), &list, &count), KERN_SUCCESS);
    std::set<thread_t> threads(list, list + count);
    EXPECT_EQ(threads.size(), count) << "a thread listed twice";
    for (mach_msg_type_number_t i = 0; i < count; ++i) {
        EXPECT_EQ(mach_port_deallocate(mach_task_self(), list[i]), KERN_SUCCESS);
    }
    EXPECT_EQ(vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(list), count * sizeof *list),
              KERN_SUCCESS);
    return threads;
}

x86_thread_state64_t stateOf(thread_t thread) {
    x86_thread_state_t state{};
    mach_msg_type_number_t count = x86_THREAD_STATE_COUNT;
    EXPECT_EQ(thread_get_state(thread, x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&state), &count),
              KERN_SUCCESS);
    EXPECT_EQ(count, x86_THREAD_STATE_COUNT);
    EXPECT_EQ(state.tsh.flavor, x86_THREAD_STATE64);
    EXPECT_EQ(state.tsh.count, static_cast<int>(x86_THREAD_STATE64_COUNT));
    return state.uts.ts64;
}

[[maybe_unused]] bool liesIn(uint64_t address, const void* function) {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(address), &info) != 0 && info.dli_saddr == function;
}

}  // namespace

TEST(ThreadAct, TaskThreadsListsExactlyTheThreadsOfTheProcess) {
    CountingWorker first;
    CountingWorker second;
    const thread_t workers[] = {first.id(), second.id()};
    const std::set<thread_t> before = threadsInProc();
    const std::set<thread_t> listed = threadsOfTask();
    // Only a listing taken while no thread came or went can be compared.
    ASSERT_EQ(threadsInProc(), before);
    EXPECT_EQ(listed, before);
    EXPECT_TRUE(listed.count(mach_thread_self()));
    for (thread_t worker : workers) EXPECT_TRUE(listed.count(worker));
}

TEST(ThreadAct, TaskThreadsRefusesOtherTasksAndMissingOutputs) {
    thread_act_array_t list = nullptr;
    mach_msg_type_number_t count = 0;
    EXPECT_EQ(task_threads(mach_task_self() + 1, &list, &count), KERN_INVALID_TASK);
    EXPECT_EQ(task_threads(mach_task_self(), nullptr, &count), KERN_INVALID_ARGUMENT);
    EXPECT_EQ(task_threads(mach_task_self(), &list, nullptr), KERN_INVALID_ARGUMENT);
}

TEST(ThreadAct, ASuspendedWorkerStopsCountingAndShowsWhereItStoodUntilResumed) {
    PatientSuspensions patient;
    CountingWorker worker;
    const thread_t thread = worker.id();
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    const uint64_t stoppedAt = worker.count();
    // Long enough for a running worker to count many times over, even on a loaded machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(worker.count(), stoppedAt);

    const x86_thread_state64_t state = stateOf(thread);
#if !defined(__SANITIZE_THREAD__)
    // Not under the thread sanitizer: it turns each of the worker's atomic accesses into a call into
    // its runtime, so the worker mostly stands there, one call below its own function.
    EXPECT_TRUE(liesIn(state.rip, reinterpret_cast<const void*>(&countUntilStopped)))
        << std::hex << state.rip;
#endif
    EXPECT_NE(state.rsp, 0u);

    x86_exception_state_t exception{};
    mach_msg_type_number_t count = x86_EXCEPTION_STATE_COUNT;
    EXPECT_EQ(
        thread_get_state(thread, x86_EXCEPTION_STATE, reinterpret_cast<thread_state_t>(&exception), &count),
        KERN_SUCCESS);
    EXPECT_EQ(count, x86_EXCEPTION_STATE_COUNT);
    EXPECT_EQ(exception.esh.flavor, x86_EXCEPTION_STATE64);
    EXPECT_EQ(exception.esh.count, static_cast<int>(x86_EXCEPTION_STATE64_COUNT));

    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
    EXPECT_TRUE(eventually([&] { return worker.count() > stoppedAt; }));
}

TEST(ThreadAct, SuspensionsNestAndAResumeNeedsASuspension) {
    PatientSuspensions patient;
    CountingWorker worker;
    const thread_t thread = worker.id();
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
    const uint64_t stoppedAt = worker.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(worker.count(), stoppedAt) << "runs again after one of two resumes";
    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
    EXPECT_TRUE(eventually([&] { return worker.count() > stoppedAt; }));
    EXPECT_EQ(thread_resume(thread), KERN_FAILURE);

    // Again, to show that a finished suspension leaves nothing behind.
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
}

TEST(ThreadAct, ARunningThreadIsStoppedForTheReadOnly) {
    PatientSuspensions patient;
    CountingWorker worker;
    const thread_t thread = worker.id();
    stateOf(thread);
    const uint64_t after = worker.count();
    EXPECT_TRUE(eventually([&] { return worker.count() > after; }));
    EXPECT_EQ(thread_resume(thread), KERN_FAILURE) << "the read left a suspension behind";
}

TEST(ThreadAct, NamesThatAreNoOtherLiveThreadAndUnknownFlavoursAreRefused) {
    thread_t ended = 0;
    std::thread([&] { ended = mach_thread_self(); }).join();
    // A joined thread may linger in the kernel for a moment after it has left.
    ASSERT_TRUE(eventually([&] { return thread_suspend(ended) == KERN_INVALID_ARGUMENT; }));
    for (thread_t thread : {thread_t{0}, ended, mach_thread_self(), mach_task_self()}) {
        EXPECT_EQ(thread_suspend(thread), KERN_INVALID_ARGUMENT) << thread;
        EXPECT_EQ(thread_resume(thread), KERN_FAILURE) << thread;
    }

    PatientSuspensions patient;
    CountingWorker worker;
    x86_thread_state_t state{};
    mach_msg_type_number_t count = x86_THREAD_STATE_COUNT - 1;
    EXPECT_EQ(
        thread_get_state(worker.id(), x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&state), &count),
        KERN_INVALID_ARGUMENT);
    count = x86_THREAD_STATE_COUNT;
    EXPECT_EQ(
        thread_get_state(worker.id(), x86_THREAD_STATE64, reinterpret_cast<thread_state_t>(&state), &count),
        KERN_INVALID_ARGUMENT);
    EXPECT_EQ(thread_get_state(mach_thread_self(), x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&state),
                               &count),
              KERN_INVALID_ARGUMENT);
}

TEST(ThreadAct, AThreadThatBlocksTheSignalIsNotSuspendedAndNothingWaitsForIt) {
    SignalBlockingWorker worker;
    const thread_t thread = worker.id();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thread_suspend(thread), KERN_OPERATION_TIMED_OUT);
    // About 100 ms; the bound only tells a timeout from a hang on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, kTestPatience);
    EXPECT_EQ(thread_resume(thread), KERN_FAILURE);

    // The withdrawn request's signal arrives once the thread unblocks it; the thread runs on and can
    // then be suspended as any other.
    ASSERT_TRUE(worker.unblock());
    PatientSuspensions patient;
    ASSERT_EQ(thread_suspend(thread), KERN_SUCCESS);
    ASSERT_EQ(thread_resume(thread), KERN_SUCCESS);
}
