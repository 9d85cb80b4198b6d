#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/mach/KeptErrno.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"

namespace {

// Above every thread id the kernel hands out (at most 2^22), so it never names a thread.
constexpr mach_port_name_t kTaskSelfName = 0x40000103;
// The platform's limit on the user references of one right.
constexpr uint64_t kMaxUserReferences = 0xffff;

std::atomic<mach_port_urefs_t> taskSendReferences{1};

bool isLiveThreadOfTask(mach_port_name_t name) {
    if (name == 0 || name >= kTaskSelfName) return false;
    KeptErrno kept;
    return syscall(SYS_tgkill, getpid(), static_cast<pid_t>(name), 0) == 0;
}

// ---- The port table ----

constexpr int kPortCount = 64;
constexpr int kQueueLength = 4;
// Names above every thread id and the task's name, one block of 0x1000 per slot; the low bits count
// the slot's reuses, so a stale name does not reach the slot's next port.
constexpr mach_port_name_t kFirstPortName = 0x60000000;
constexpr mach_port_name_t kSlotSpan = 0x1000;

struct QueuedMessage {
    mach_msg_size_t size;
    alignas(8) uint8_t bytes[kMachMessageSizeMax];
};

struct Port {
    mach_port_name_t name;  // 0 while the slot is free
    uint32_t reuses;
    bool isSet;
    bool receive;  // the port lives; false for a dead name
    uint32_t sendRefs;
    mach_port_name_t set;
    mach_port_name_t noSendersTo;
    uint32_t head;
    uint32_t count;
    QueuedMessage queue[kQueueLength];
};

Port ports[kPortCount];
std::atomic_flag tableLock = ATOMIC_FLAG_INIT;
// Moves on with every message queued and every port destroyed; receivers sleep on it.
std::atomic<uint32_t> traffic{0};

// Held with every signal blocked, so that no handler on this thread can want it meanwhile: that is
// what makes the table usable from a signal handler.
class TableLock {
  public:
    TableLock() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved_);
        while (tableLock.test_and_set(std::memory_order_acquire)) sched_yield();
    }
    ~TableLock() {
        tableLock.clear(std::memory_order_release);
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }

  private:
    sigset_t saved_;
};

void announceTraffic() {
    traffic.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&traffic), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr,
            0);
}

Port* portNamed(mach_port_name_t name) {
    if (name < kFirstPortName) return nullptr;
    const uint32_t index = (name - kFirstPortName) / kSlotSpan;
    if (index >= static_cast<uint32_t>(kPortCount) || ports[index].name != name) return nullptr;
    return &ports[index];
}

Port* liveReceiver(mach_port_name_t name) {
    Port* port = portNamed(name);
    return port && port->receive && !port->isSet ? port : nullptr;
}

void freeSlot(Port& port) {
    port.name = 0;
    port.receive = false;
    port.isSet = false;
    port.sendRefs = 0;
    port.set = 0;
    port.noSendersTo = 0;
    port.head = port.count = 0;
}

bool enqueue(Port& port, const void* bytes, mach_msg_size_t size) {
    if (port.count == kQueueLength) return false;
    QueuedMessage& slot = port.queue[(port.head + port.count) % kQueueLength];
    memcpy(slot.bytes, bytes, size);
    slot.size = size;
    ++port.count;
    return true;
}

void sendNoSenders(Port& port) {
    Port* notify = liveReceiver(port.noSendersTo);
    port.noSendersTo = 0;
    if (!notify) return;
    struct {
        mach_msg_header_t header;
        NDR_record_t ndr;
        uint32_t mscount;
    } notification{};
    notification.header.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_MOVE_SEND_ONCE, 0);
    notification.header.msgh_size = sizeof notification;
    notification.header.msgh_local_port = notify->name;
    notification.header.msgh_id = MACH_NOTIFY_NO_SENDERS;
    notification.ndr = NDR_record;
    enqueue(*notify, &notification, sizeof notification);
}

// A port that lost its last right leaves the table; one whose receiver went stays as a dead name
// while send rights to it are held.
void releaseIfUnused(Port& port) {
    if (!port.receive && port.sendRefs == 0) freeSlot(port);
}

void destroyReceive(Port& port) {
    if (port.isSet) {
        for (Port& member : ports) {
            if (member.name && member.set == port.name) member.set = 0;
        }
        freeSlot(port);
        return;
    }
    port.receive = false;
    port.count = 0;
    port.set = 0;
    port.noSendersTo = 0;
    releaseIfUnused(port);
}

kern_return_t changeSendRefs(Port& port, mach_port_delta_t delta) {
    if (port.isSet) return KERN_INVALID_RIGHT;
    const int64_t wanted = static_cast<int64_t>(port.sendRefs) + delta;
    if (wanted < 0) return KERN_INVALID_VALUE;
    if (static_cast<uint64_t>(wanted) > kMaxUserReferences) return KERN_UREFS_OVERFLOW;
    port.sendRefs = static_cast<uint32_t>(wanted);
    if (port.sendRefs == 0 && port.receive) sendNoSenders(port);
    releaseIfUnused(port);
    return KERN_SUCCESS;
}

kern_return_t modTableRefs(mach_port_name_t name, mach_port_right_t right, mach_port_delta_t delta) {
    Port* port = portNamed(name);
    if (!port) return KERN_INVALID_NAME;
    switch (right) {
        case MACH_PORT_RIGHT_SEND:
            return changeSendRefs(*port, delta);
        case MACH_PORT_RIGHT_RECEIVE:
        case MACH_PORT_RIGHT_PORT_SET:
            if (port->isSet != (right == MACH_PORT_RIGHT_PORT_SET) || (!port->isSet && !port->receive))
                return KERN_INVALID_RIGHT;
            if (delta == 0) return KERN_SUCCESS;
            if (delta != -1) return KERN_INVALID_VALUE;
            destroyReceive(*port);
            announceTraffic();
            return KERN_SUCCESS;
        case MACH_PORT_RIGHT_DEAD_NAME:
            if (port->receive || port->isSet) return KERN_INVALID_RIGHT;
            return changeSendRefs(*port, delta);
        default:
            return KERN_INVALID_RIGHT;
    }
}

// The first queued message for a receiver on `name` (a port, or any port of a set).
Port* queueFor(mach_port_name_t name, bool* known) {
    Port* port = portNamed(name);
    *known = port && (port->isSet || port->receive);
    if (!*known) return nullptr;
    if (!port->isSet) return port->count > 0 ? port : nullptr;
    for (Port& member : ports) {
        if (member.name && member.receive && member.set == name && member.count > 0) return &member;
    }
    return nullptr;
}

mach_msg_return_t send(mach_msg_header_t* msg, mach_msg_size_t size) {
    if (size < sizeof(mach_msg_header_t) || size > kMachMessageSizeMax || size % 4 != 0)
        return MACH_SEND_INVALID_DATA;
    TableLock lock;
    Port* destination = liveReceiver(msg->msgh_remote_port);
    if (!destination) return MACH_SEND_INVALID_DEST;
    // The receiver sees the sender's reply port as the port to answer, and its own port as local.
    mach_msg_header_t header = *msg;
    header.msgh_size = size;
    header.msgh_remote_port = msg->msgh_local_port;
    header.msgh_local_port = msg->msgh_remote_port;
    const mach_msg_type_name_t reply = (msg->msgh_bits >> 8) & 0x1f;
    header.msgh_bits = (msg->msgh_bits & MACH_MSGH_BITS_COMPLEX) |
                       MACH_MSGH_BITS(reply == MACH_MSG_TYPE_MAKE_SEND_ONCE ? MACH_MSG_TYPE_MOVE_SEND_ONCE
                                      : reply == MACH_MSG_TYPE_MAKE_SEND    ? MACH_MSG_TYPE_MOVE_SEND
                                                                            : reply,
                                      MACH_MSG_TYPE_MOVE_SEND_ONCE);
    if (destination->count == kQueueLength) return MACH_SEND_NO_BUFFER;
    QueuedMessage& slot = destination->queue[(destination->head + destination->count) % kQueueLength];
    memcpy(slot.bytes, &header, sizeof header);
    memcpy(slot.bytes + sizeof header, reinterpret_cast<const uint8_t*>(msg) + sizeof header,
           size - sizeof header);
    slot.size = size;
    ++destination->count;
    announceTraffic();
    return MACH_MSG_SUCCESS;
}

timespec deadlineAfter(mach_msg_timeout_t milliseconds) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    now.tv_sec += milliseconds / 1000;
    now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1'000'000;
    if (now.tv_nsec >= 1'000'000'000) {
        now.tv_sec += 1;
        now.tv_nsec -= 1'000'000'000;
    }
    return now;
}

mach_msg_return_t receive(mach_msg_header_t* msg, mach_msg_option_t option, mach_msg_size_t size,
                          mach_port_name_t name, mach_msg_timeout_t timeout) {
    const bool timed = (option & MACH_RCV_TIMEOUT) != 0;
    const timespec deadline = deadlineAfter(timeout);
    bool sawPort = false;
    for (;;) {
        const uint32_t seen = traffic.load();
        {
            TableLock lock;
            bool known = false;
            Port* port = queueFor(name, &known);
            if (!known) return sawPort ? MACH_RCV_PORT_DIED : MACH_RCV_INVALID_NAME;
            sawPort = true;
            if (port) {
                QueuedMessage& slot = port->queue[port->head];
                if (slot.size > size) {
                    if (option & MACH_RCV_LARGE) {
                        if (size >= sizeof(mach_msg_header_t)) msg->msgh_size = slot.size;
                        return MACH_RCV_TOO_LARGE;
                    }
                } else {
                    memcpy(msg, slot.bytes, slot.size);
                }
                port->head = (port->head + 1) % kQueueLength;
                --port->count;
                return slot.size > size ? MACH_RCV_TOO_LARGE : MACH_MSG_SUCCESS;
            }
        }
        if (timed) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec > deadline.tv_sec ||
                (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
                return MACH_RCV_TIMED_OUT;
        }
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&traffic), FUTEX_WAIT_BITSET_PRIVATE, seen,
                timed ? &deadline : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
    }
}

}  // namespace

int MachTesting::portNamesInUse() {
    TableLock lock;
    int count = 0;
    for (const Port& port : ports) count += port.name != 0 ? 1 : 0;
    return count;
}

kern_return_t mach_port_allocate(task_t task, mach_port_right_t right, mach_port_name_t* name) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (!name || (right != MACH_PORT_RIGHT_RECEIVE && right != MACH_PORT_RIGHT_PORT_SET))
        return KERN_INVALID_VALUE;
    KeptErrno kept;
    TableLock lock;
    for (uint32_t index = 0; index < static_cast<uint32_t>(kPortCount); ++index) {
        Port& port = ports[index];
        if (port.name != 0) continue;
        freeSlot(port);
        port.reuses = (port.reuses + 1) % kSlotSpan;
        port.name = kFirstPortName + index * kSlotSpan + port.reuses;
        port.isSet = right == MACH_PORT_RIGHT_PORT_SET;
        port.receive = !port.isSet;
        *name = port.name;
        return KERN_SUCCESS;
    }
    return KERN_NO_SPACE;
}

kern_return_t mach_port_insert_right(task_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t poly_poly) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (name != poly) return KERN_INVALID_VALUE;
    KeptErrno kept;
    TableLock lock;
    Port* port = portNamed(name);
    if (!port || port->isSet) return KERN_INVALID_NAME;
    if (poly_poly == MACH_MSG_TYPE_MAKE_SEND && !port->receive) return KERN_INVALID_RIGHT;
    if (poly_poly == MACH_MSG_TYPE_COPY_SEND && (port->sendRefs == 0 || !port->receive))
        return KERN_INVALID_RIGHT;
    if (poly_poly != MACH_MSG_TYPE_MAKE_SEND && poly_poly != MACH_MSG_TYPE_COPY_SEND)
        return KERN_INVALID_VALUE;
    return changeSendRefs(*port, 1);
}

kern_return_t mach_port_move_member(task_t task, mach_port_name_t member, mach_port_name_t after) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    KeptErrno kept;
    TableLock lock;
    Port* port = liveReceiver(member);
    if (!port) return KERN_INVALID_RIGHT;
    if (after != MACH_PORT_NULL) {
        Port* set = portNamed(after);
        if (!set || !set->isSet) return KERN_INVALID_RIGHT;
    }
    port->set = after;
    announceTraffic();
    return KERN_SUCCESS;
}

kern_return_t mach_port_request_notification(task_t task, mach_port_name_t name, mach_msg_id_t variant,
                                             uint32_t, mach_port_t notify, mach_msg_type_name_t notify_poly,
                                             mach_port_t* previous) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (variant != MACH_NOTIFY_NO_SENDERS || notify_poly != MACH_MSG_TYPE_MAKE_SEND_ONCE)
        return KERN_INVALID_VALUE;
    KeptErrno kept;
    TableLock lock;
    Port* port = liveReceiver(name);
    if (!port || !liveReceiver(notify)) return KERN_INVALID_RIGHT;
    port->noSendersTo = notify;
    if (previous) *previous = MACH_PORT_NULL;
    if (port->sendRefs == 0) {
        sendNoSenders(*port);
        announceTraffic();
    }
    return KERN_SUCCESS;
}

mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, mach_msg_size_t send_size,
                           mach_msg_size_t rcv_size, mach_port_name_t rcv_name, mach_msg_timeout_t timeout,
                           mach_port_name_t) noexcept {
    if (!msg) return MACH_SEND_INVALID_DATA;
    KeptErrno kept;
    if (option & MACH_SEND_MSG) {
        const mach_msg_return_t sent = send(msg, send_size);
        if (sent != MACH_MSG_SUCCESS) return sent;
    }
    if (option & MACH_RCV_MSG) return receive(msg, option, rcv_size, rcv_name, timeout);
    return MACH_MSG_SUCCESS;
}

task_t mach_task_self() noexcept {
    return kTaskSelfName;
}

thread_t mach_thread_self() noexcept {
    KeptErrno kept;
    return static_cast<thread_t>(syscall(SYS_gettid));
}

kern_return_t mach_port_mod_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (name >= kFirstPortName) {
        KeptErrno kept;
        TableLock lock;
        return modTableRefs(name, right, delta);
    }
    if (name != kTaskSelfName) return isLiveThreadOfTask(name) ? KERN_INVALID_RIGHT : KERN_INVALID_NAME;
    if (right != MACH_PORT_RIGHT_SEND) return KERN_INVALID_RIGHT;
    mach_port_urefs_t current = taskSendReferences.load();
    for (;;) {
        const int64_t wanted = static_cast<int64_t>(current) + delta;
        // The process's own reference stays: releasing it would leave a task without its name.
        if (wanted < 1) return KERN_INVALID_VALUE;
        if (static_cast<uint64_t>(wanted) > kMaxUserReferences) return KERN_UREFS_OVERFLOW;
        if (taskSendReferences.compare_exchange_weak(current, static_cast<mach_port_urefs_t>(wanted))) {
            return KERN_SUCCESS;
        }
    }
}

kern_return_t mach_port_get_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_urefs_t* refs) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (!refs) return KERN_INVALID_ARGUMENT;
    if (name >= kFirstPortName) {
        KeptErrno kept;
        TableLock lock;
        Port* port = portNamed(name);
        if (!port) return KERN_INVALID_NAME;
        *refs = right == MACH_PORT_RIGHT_SEND || right == MACH_PORT_RIGHT_DEAD_NAME ? port->sendRefs
                : right == MACH_PORT_RIGHT_RECEIVE                                  ? (port->receive ? 1 : 0)
                : right == MACH_PORT_RIGHT_PORT_SET                                 ? (port->isSet ? 1 : 0)
                                                                                    : 0;
        return KERN_SUCCESS;
    }
    if (name != kTaskSelfName) return isLiveThreadOfTask(name) ? KERN_INVALID_RIGHT : KERN_INVALID_NAME;
    *refs = right == MACH_PORT_RIGHT_SEND ? taskSendReferences.load() : 0;
    return KERN_SUCCESS;
}

kern_return_t mach_port_deallocate(task_t task, mach_port_name_t name) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (name == kTaskSelfName) return mach_port_mod_refs(task, name, MACH_PORT_RIGHT_SEND, -1);
    if (name >= kFirstPortName) {
        KeptErrno kept;
        TableLock lock;
        Port* port = portNamed(name);
        if (!port || port->isSet) return KERN_INVALID_NAME;
        if (port->sendRefs == 0) return KERN_INVALID_RIGHT;
        return changeSendRefs(*port, -1);
    }
    return isLiveThreadOfTask(name) ? KERN_SUCCESS : KERN_INVALID_NAME;
}
