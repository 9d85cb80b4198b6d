#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/mach/KeptErrno.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/vm_map.h"

namespace {

// One read hands the kernel at most this much; larger copies go on in further rounds.
constexpr uint64_t kLargestRead = uint64_t{1} << 30;

std::atomic<bool> processVmReadvRefused{false};

// getpagesize answers from what the loader was told at start: no system call, no lock.
uint64_t pageSize() {
    return static_cast<uint64_t>(getpagesize());
}

uint64_t pageStart(uint64_t address) {
    return address & ~(pageSize() - 1);
}

// /proc/self/mem, opened in advance because a crashed process may have no descriptor left to open
// it with. The descriptor reaches the memory of the process that opened it, so a forked child
// opens its own before reading. Packed as (pid << 32 | fd) so that both change together.
std::atomic<uint64_t> memFile{0};

uint64_t packMemFile(pid_t pid, int fd) {
    return static_cast<uint64_t>(static_cast<uint32_t>(pid)) << 32 | static_cast<uint32_t>(fd);
}

int openMemFileFor(pid_t pid) {
    const int fd = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    uint64_t seen = memFile.load();
    if (static_cast<pid_t>(seen >> 32) != pid &&
        memFile.compare_exchange_strong(seen, packMemFile(pid, fd))) {
        // The parent's descriptor, inherited through fork, is of no use here.
        if (seen != 0) close(static_cast<int>(static_cast<uint32_t>(seen)));
        return fd;
    }
    // Another thread of this process opened it first.
    close(fd);
    return static_cast<int>(static_cast<uint32_t>(memFile.load()));
}

int memFileDescriptor() {
    const pid_t pid = getpid();
    const uint64_t current = memFile.load();
    if (current != 0 && static_cast<pid_t>(current >> 32) == pid)
        return static_cast<int>(static_cast<uint32_t>(current));
    return openMemFileFor(pid);
}

[[maybe_unused]] const bool memFileOpenedAtLoad = [] {
    KeptErrno kept;
    return openMemFileFor(getpid()) >= 0;
}();

// What one read attempt did: copied bytes, met an unreadable page, was refused, or failed otherwise.
struct Attempt {
    enum { Copied, Fault, Refused, Failed } outcome;
    uint64_t bytes = 0;
};

Attempt readWithProcessVmReadv(uint64_t address, uint64_t destination, uint64_t length) {
    if (processVmReadvRefused.load(std::memory_order_relaxed)) return {Attempt::Refused};
    iovec local{reinterpret_cast<void*>(destination), length};
    iovec remote{reinterpret_cast<void*>(address), length};
    const ssize_t read = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (read > 0) return {Attempt::Copied, static_cast<uint64_t>(read)};
    if (read == 0 || errno == EFAULT) return {Attempt::Fault};
    if (errno == ENOSYS || errno == EPERM) return {Attempt::Refused};
    return {Attempt::Failed};
}

Attempt readWithMemFile(uint64_t address, uint64_t destination, uint64_t length) {
    // A file offset is signed: the upper half of the address space cannot be asked for.
    if (address > static_cast<uint64_t>(INT64_MAX) - length) return {Attempt::Fault};
    const int fd = memFileDescriptor();
    if (fd < 0) return {Attempt::Failed};
    ssize_t read;
    do {
        read = pread(fd, reinterpret_cast<void*>(destination), length, static_cast<off_t>(address));
    } while (read < 0 && errno == EINTR);
    if (read > 0) return {Attempt::Copied, static_cast<uint64_t>(read)};
    if (read == 0 || errno == EIO || errno == EFAULT) return {Attempt::Fault};
    return {Attempt::Failed};
}

// The page at `address` stopped a read: unmapped is an invalid address, mapped but unreadable a
// protection failure. mincore answers from the page tables, without touching the page.
kern_return_t classifyFault(uint64_t address) noexcept {
    unsigned char residency;
    if (mincore(reinterpret_cast<void*>(pageStart(address)), pageSize(), &residency) == 0) {
        return KERN_PROTECTION_FAILURE;
    }
    return KERN_INVALID_ADDRESS;
}

}  // namespace

void MachTesting::setProcessVmReadvRefused(bool refused) {
    processVmReadvRefused.store(refused);
}

kern_return_t vm_allocate(task_t task, vm_address_t* address, vm_size_t size, int flags) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (!address || flags != VM_FLAGS_ANYWHERE) return KERN_INVALID_ARGUMENT;
    if (size == 0) {
        *address = 0;
        return KERN_SUCCESS;
    }
    KeptErrno kept;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return errno == ENOMEM ? KERN_NO_SPACE : KERN_INVALID_ARGUMENT;
    *address = reinterpret_cast<vm_address_t>(pages);
    return KERN_SUCCESS;
}

kern_return_t vm_deallocate(task_t task, vm_address_t address, vm_size_t size) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (size == 0) return KERN_SUCCESS;
    if (address + size < address) return KERN_INVALID_ADDRESS;
    KeptErrno kept;
    const uint64_t start = pageStart(address);
    if (munmap(reinterpret_cast<void*>(start), address + size - start) != 0) return KERN_INVALID_ARGUMENT;
    return KERN_SUCCESS;
}

kern_return_t vm_read_overwrite(task_t task, mach_vm_address_t address, mach_vm_size_t size,
                                mach_vm_address_t data, mach_vm_size_t* outsize) noexcept {
    if (outsize) *outsize = 0;
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (address + size < address) return KERN_INVALID_ADDRESS;
    if (data + size < data) return KERN_INVALID_ARGUMENT;
    KeptErrno kept;
    uint64_t copied = 0;
    bool useMemFile = false;
    while (copied < size) {
        const uint64_t length = size - copied < kLargestRead ? size - copied : kLargestRead;
        Attempt attempt = useMemFile ? readWithMemFile(address + copied, data + copied, length)
                                     : readWithProcessVmReadv(address + copied, data + copied, length);
        if (attempt.outcome == Attempt::Refused) {
            useMemFile = true;
            continue;
        }
        if (attempt.outcome == Attempt::Fault) return classifyFault(address + copied);
        if (attempt.outcome == Attempt::Failed) return KERN_FAILURE;
        copied += attempt.bytes;
        if (outsize) *outsize = copied;
    }
    return KERN_SUCCESS;
}
