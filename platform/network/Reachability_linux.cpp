// The machine's network path: reachable while some interface other than loopback is up, running
// and has an address; the loopback path likewise with the loopback interface. A netlink socket
// reports interface and address changes.
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <thread>

#include "platform/foundation/SharedInstance.h"
#include "platform/network/NetworkPath.h"

namespace {
class InterfaceWatch {
  public:
    void start() {
        std::lock_guard lock(mutex_);
        if (thread_.joinable()) return;
        auto descriptors = std::make_shared<Descriptors>();
        descriptors->socket = openNetlink();
        if (descriptors->socket < 0) return;  // no watch possible here; the flags are still read on demand
        descriptors->stop = eventfd(0, EFD_CLOEXEC);
        if (descriptors->stop < 0) {
            close(descriptors->socket);
            return;
        }
        descriptors_ = descriptors;
        thread_ = std::thread([descriptors] {
            run(descriptors->socket, descriptors->stop);
            if (descriptors->closedByWatcher) descriptors->closeBoth();
        });
    }

    // The watch thread never takes this lock, so joining under it cannot deadlock. It may drop
    // the last reference itself, and then it only lets go of its own thread, which closes its
    // descriptors once it leaves its loop. Otherwise they are closed only after the join: a close
    // on the watch thread would race with the write that wakes it.
    void stop() {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(descriptors_->stop, &one, sizeof one);
        if (thread_.get_id() == std::this_thread::get_id()) {
            descriptors_->closedByWatcher = true;
            thread_.detach();
        } else {
            thread_.join();
            descriptors_->closeBoth();
        }
        descriptors_.reset();
    }

  private:
    static int openNetlink() {
        int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (fd < 0) return -1;
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    static void run(int socket, int stop) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
        char buffer[8192];
        while (!fds[1].revents) {
            if (poll(fds, 2, -1) < 0) continue;
            bool any = false;
            while (recv(socket, buffer, sizeof buffer, 0) > 0) any = true;
            if (any && !fds[1].revents) NetworkPath::changed();
        }
    }

    // The netlink socket and the eventfd that stops the watch thread.
    struct Descriptors {
        int socket = -1;
        int stop = -1;
        bool closedByWatcher = false;  // set on the watch thread itself, read there
        void closeBoth() {
            close(socket);
            close(stop);
        }
    };

    std::mutex mutex_;
    std::thread thread_;
    std::shared_ptr<Descriptors> descriptors_;
};

// Stopped by the last reference, never destroyed; its thread is never restarted for a test.
constinit SharedInstance<InterfaceWatch> sharedWatch{TestReset::keep};

InterfaceWatch& watch() {
    return *sharedWatch.get();
}
}  // namespace

NetworkReachabilityFlags NetworkPath::flagsForInterfaces(const ifaddrs* interfaces, bool loopback) {
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        const bool usable =
            (flags & IFF_UP) && (flags & IFF_RUNNING) && bool(flags & IFF_LOOPBACK) == loopback;
        const bool addressed = entry->ifa_addr && (entry->ifa_addr->sa_family == AF_INET ||
                                                   entry->ifa_addr->sa_family == AF_INET6);
        if (!usable || !addressed) continue;
        using namespace NetworkReachabilityFlag;
        return loopback ? Reachable | IsLocalAddress | IsDirect : Reachable;
    }
    return 0;
}

NetworkReachabilityFlags NetworkPath::systemFlags(bool loopback) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    const NetworkReachabilityFlags flags = flagsForInterfaces(list, loopback);
    freeifaddrs(list);
    return flags;
}

void NetworkPath::startSystemWatch() {
    watch().start();
}
void NetworkPath::stopSystemWatch() {
    watch().stop();
}
