#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/mach/exception.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/testing/WorkerThreads.h"

namespace {

mach_port_name_t allocate(mach_port_right_t right = MACH_PORT_RIGHT_RECEIVE) {
    mach_port_name_t name = MACH_PORT_NULL;
    EXPECT_EQ(mach_port_allocate(mach_task_self(), right, &name), KERN_SUCCESS);
    return name;
}

mach_port_urefs_t sendRefs(mach_port_name_t name) {
    mach_port_urefs_t refs = 99;
    mach_port_get_refs(mach_task_self(), name, MACH_PORT_RIGHT_SEND, &refs);
    return refs;
}

mach_msg_return_t sendHeader(mach_port_name_t to, mach_msg_id_t id, mach_msg_size_t size) {
    alignas(8) uint8_t bytes[256] = {};
    auto* header = reinterpret_cast<mach_msg_header_t*>(bytes);
    header->msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, 0);
    header->msgh_remote_port = to;
    header->msgh_id = id;
    return mach_msg(header, MACH_SEND_MSG, size, 0, MACH_PORT_NULL, 0, MACH_PORT_NULL);
}

}  // namespace

TEST(MachMessage, PortRightsAreCountedAndANameGoesWithItsLastRight) {
    const int before = MachTesting::portNamesInUse();
    const task_t task = mach_task_self();
    const mach_port_name_t port = allocate();
    EXPECT_EQ(sendRefs(port), 0u);
    ASSERT_EQ(mach_port_insert_right(task, port, port, MACH_MSG_TYPE_MAKE_SEND), KERN_SUCCESS);
    ASSERT_EQ(mach_port_mod_refs(task, port, MACH_PORT_RIGHT_SEND, 1), KERN_SUCCESS);
    EXPECT_EQ(sendRefs(port), 2u);
    EXPECT_EQ(mach_port_mod_refs(task, port, MACH_PORT_RIGHT_SEND, -3), KERN_INVALID_VALUE);
    // The receiver goes first: the send rights left make a dead name, gone with the last of them.
    ASSERT_EQ(mach_port_mod_refs(task, port, MACH_PORT_RIGHT_RECEIVE, -1), KERN_SUCCESS);
    EXPECT_EQ(sendHeader(port, 1, 24), MACH_SEND_INVALID_DEST);
    EXPECT_EQ(MachTesting::portNamesInUse(), before + 1);
    EXPECT_EQ(mach_port_deallocate(task, port), KERN_SUCCESS);
    EXPECT_EQ(mach_port_deallocate(task, port), KERN_SUCCESS);
    EXPECT_EQ(MachTesting::portNamesInUse(), before);
    EXPECT_EQ(mach_port_deallocate(task, port), KERN_INVALID_NAME);
}

TEST(MachMessage, TheLastSendRightGoneSendsNoSendersToTheNotifyPort) {
    const task_t task = mach_task_self();
    const mach_port_name_t port = allocate();
    const mach_port_name_t notify = allocate();
    ASSERT_EQ(mach_port_insert_right(task, port, port, MACH_MSG_TYPE_MAKE_SEND), KERN_SUCCESS);
    ASSERT_EQ(mach_port_request_notification(task, port, MACH_NOTIFY_NO_SENDERS, 0, notify,
                                             MACH_MSG_TYPE_MAKE_SEND_ONCE, nullptr),
              KERN_SUCCESS);
    alignas(8) uint8_t buffer[256];
    auto* header = reinterpret_cast<mach_msg_header_t*>(buffer);
    EXPECT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof buffer, notify, 0, MACH_PORT_NULL),
              MACH_RCV_TIMED_OUT);
    ASSERT_EQ(mach_port_deallocate(task, port), KERN_SUCCESS);
    ASSERT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof buffer, notify, 0, MACH_PORT_NULL),
              MACH_MSG_SUCCESS);
    EXPECT_EQ(header->msgh_id, MACH_NOTIFY_NO_SENDERS);
    EXPECT_EQ(header->msgh_local_port, notify);
    mach_port_mod_refs(task, port, MACH_PORT_RIGHT_RECEIVE, -1);
    mach_port_mod_refs(task, notify, MACH_PORT_RIGHT_RECEIVE, -1);
}

TEST(MachMessage, ASetReceivesForItsMembersAndALargeMessageWaitsForRoom) {
    const task_t task = mach_task_self();
    const mach_port_name_t set = allocate(MACH_PORT_RIGHT_PORT_SET);
    const mach_port_name_t port = allocate();
    ASSERT_EQ(mach_port_move_member(task, port, set), KERN_SUCCESS);
    ASSERT_EQ(sendHeader(port, kMachExceptionRaiseId, sizeof(mach_exception_raise_request_t)),
              MACH_MSG_SUCCESS);

    alignas(8) uint8_t buffer[256];
    auto* header = reinterpret_cast<mach_msg_header_t*>(buffer);
    ASSERT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_LARGE, 0, 64, set, 0, MACH_PORT_NULL),
              MACH_RCV_TOO_LARGE);
    EXPECT_EQ(header->msgh_size, 84u);
    ASSERT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_LARGE, 0, sizeof buffer, set, 0, MACH_PORT_NULL),
              MACH_MSG_SUCCESS);
    EXPECT_EQ(header->msgh_size, 84u);
    EXPECT_EQ(header->msgh_id, kMachExceptionRaiseId);
    EXPECT_EQ(header->msgh_local_port, port);

    // Without MACH_RCV_LARGE a message too large is lost.
    ASSERT_EQ(sendHeader(port, 7, 128), MACH_MSG_SUCCESS);
    EXPECT_EQ(mach_msg(header, MACH_RCV_MSG, 0, 64, set, 0, MACH_PORT_NULL), MACH_RCV_TOO_LARGE);
    EXPECT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof buffer, set, 0, MACH_PORT_NULL),
              MACH_RCV_TIMED_OUT);
    mach_port_mod_refs(task, port, MACH_PORT_RIGHT_RECEIVE, -1);
    mach_port_mod_refs(task, set, MACH_PORT_RIGHT_PORT_SET, -1);
}

TEST(MachMessage, ExceptionPortsAreSwappedAndReadWithMaskBehaviourAndFlavour) {
    const task_t task = mach_task_self();
    const mach_port_name_t first = allocate();
    const mach_port_name_t second = allocate();
    const exception_behavior_t behavior = EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES;
    ASSERT_EQ(task_set_exception_ports(task, EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC, first, behavior,
                                       x86_THREAD_STATE),
              KERN_SUCCESS);
    exception_mask_t masks[EXC_TYPES_COUNT];
    mach_port_t ports[EXC_TYPES_COUNT];
    exception_behavior_t behaviors[EXC_TYPES_COUNT];
    thread_state_flavor_t flavors[EXC_TYPES_COUNT];
    mach_msg_type_number_t count = EXC_TYPES_COUNT;
    ASSERT_EQ(task_swap_exception_ports(task, EXC_MASK_BAD_ACCESS, second, EXCEPTION_STATE, x86_THREAD_STATE,
                                        masks, &count, ports, behaviors, flavors),
              KERN_SUCCESS);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(masks[0], EXC_MASK_BAD_ACCESS);
    EXPECT_EQ(ports[0], first);
    EXPECT_EQ(behaviors[0], behavior);
    EXPECT_EQ(flavors[0], x86_THREAD_STATE);
    EXPECT_EQ(sendRefs(first), 1u) << "a port answered comes with a send right";

    count = EXC_TYPES_COUNT;
    ASSERT_EQ(task_get_exception_ports(task, EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC | EXC_MASK_BREAKPOINT,
                                       masks, &count, ports, behaviors, flavors),
              KERN_SUCCESS);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(ports[0], second);
    EXPECT_EQ(ports[1], first);
    EXPECT_EQ(ports[2], MACH_PORT_NULL);
    EXPECT_EQ(masks[2], EXC_MASK_BREAKPOINT);

    // Nothing stays registered for the tests that follow.
    ASSERT_EQ(
        task_set_exception_ports(task, (1u << EXC_TYPES_COUNT) - 2, MACH_PORT_NULL, EXCEPTION_DEFAULT, 0),
        KERN_SUCCESS);
    for (mach_port_name_t port : {first, second}) {
        mach_port_mod_refs(task, port, MACH_PORT_RIGHT_RECEIVE, -1);
        while (mach_port_deallocate(task, port) == KERN_SUCCESS) {
        }
    }
}

// Reads the page, which faults until the test makes it readable. Exported, so dladdr names it.
[[gnu::noinline]] int readGuardedPage(const volatile int* page) {
    return *page;
}

TEST(MachMessage, AFaultBecomesARequestWhileTheThreadWaitsStoppedAtTheFault) {
    PatientSuspensions patient;
    const size_t pageSize = static_cast<size_t>(getpagesize());
    void* page = mmap(nullptr, pageSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    const mach_port_name_t port = allocate();
    std::atomic<thread_t> faulting{0};
    std::atomic<int> read{-1};
    std::atomic<bool> registered{false};
    std::thread thread([&] {
        const auto self = static_cast<thread_act_t>(syscall(SYS_gettid));
        mach_msg_type_number_t none = 0;
        registered.store(thread_swap_exception_ports(
                             self, EXC_MASK_BAD_ACCESS, port, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES,
                             x86_THREAD_STATE, nullptr, &none, nullptr, nullptr, nullptr) == KERN_SUCCESS);
        faulting.store(self);
        if (registered.load()) read.store(readGuardedPage(static_cast<const int*>(page)));
        thread_swap_exception_ports(self, EXC_MASK_BAD_ACCESS, MACH_PORT_NULL, EXCEPTION_DEFAULT, 0, nullptr,
                                    &none, nullptr, nullptr, nullptr);
    });

    alignas(8) uint8_t buffer[kMachMessageSizeMax];
    auto* header = reinterpret_cast<mach_msg_header_t*>(buffer);
    ASSERT_EQ(
        mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof buffer, port, 60000, MACH_PORT_NULL),
        MACH_MSG_SUCCESS);
    EXPECT_TRUE(registered.load());
    mach_exception_raise_request_t request;
    memcpy(&request, buffer, sizeof request);
    EXPECT_EQ(header->msgh_id, kMachExceptionRaiseId);
    EXPECT_EQ(header->msgh_size, 84u);
    EXPECT_EQ(request.thread.name, faulting.load());
    EXPECT_EQ(request.exception, EXC_BAD_ACCESS);
    EXPECT_EQ(request.codeCnt, 2u);
    // The codes lie on a 4-byte boundary in the packed message: read by value, never bound to a
    // reference, which would claim an alignment they do not have.
    const int64_t codes[2] = {request.code[0], request.code[1]};
    EXPECT_EQ(codes[0], KERN_PROTECTION_FAILURE);
    EXPECT_EQ(codes[1], static_cast<int64_t>(reinterpret_cast<uintptr_t>(page)));

    // Stopped where it faulted, also while suspended.
    ASSERT_EQ(thread_suspend(faulting.load()), KERN_SUCCESS);
    x86_thread_state_t state{};
    mach_msg_type_number_t count = x86_THREAD_STATE_COUNT;
    ASSERT_EQ(
        thread_get_state(faulting.load(), x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&state), &count),
        KERN_SUCCESS);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(state.uts.ts64.rip), &info), 0);
    EXPECT_EQ(info.dli_saddr, reinterpret_cast<void*>(&readGuardedPage));
    ASSERT_EQ(thread_resume(faulting.load()), KERN_SUCCESS);

    // Answered with success, the instruction runs again, and finds the page readable now.
    ASSERT_EQ(mprotect(page, pageSize, PROT_READ), 0);
    mig_reply_error_t reply{};
    reply.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSGH_BITS_REMOTE(header->msgh_bits), 0);
    reply.Head.msgh_remote_port = header->msgh_remote_port;
    reply.Head.msgh_id = header->msgh_id + 100;
    reply.RetCode = KERN_SUCCESS;
    ASSERT_EQ(mach_msg(&reply.Head, MACH_SEND_MSG, sizeof reply, 0, MACH_PORT_NULL, 0, MACH_PORT_NULL),
              MACH_MSG_SUCCESS);
    thread.join();
    EXPECT_EQ(read.load(), 0);
    munmap(page, pageSize);
    mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_RECEIVE, -1);
}
