// The machine's network path: reachable while some interface other than loopback is up, running
// and has an address. A netlink socket reports interface and address changes.
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/network/NetworkPath.h"

namespace {
class InterfaceWatch {
  public:
    void start() {
        std::lock_guard lock(mutex_);
        if (thread_.joinable()) return;
        const int socket = openNetlink();
        if (socket < 0) return;  // no watch possible here; the flags are still read on demand
        stop_ = eventfd(0, EFD_CLOEXEC);
        if (stop_ < 0) {
            close(socket);
            return;
        }
        thread_ = std::thread(run, socket, stop_);
    }

    // The watch thread never takes this lock, so joining under it cannot deadlock. It may drop
    // the last reference itself, and then it only lets go of its own thread.
    void stop() {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
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
        close(socket);
        close(stop);
    }

    std::mutex mutex_;
    std::thread thread_;
    int stop_ = -1;
};

InterfaceWatch& watch() {
    static InterfaceWatch* w = new InterfaceWatch;  // stopped by the last reference, never destroyed
    return *w;
}
}  // namespace

NetworkReachabilityFlags NetworkPath::systemFlags() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    bool reachable = false;
    for (ifaddrs* entry = list; entry && !reachable; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        const bool usable = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
        const bool addressed = entry->ifa_addr && (entry->ifa_addr->sa_family == AF_INET ||
                                                   entry->ifa_addr->sa_family == AF_INET6);
        reachable = usable && addressed;
    }
    freeifaddrs(list);
    return reachable ? NetworkReachabilityFlag::Reachable : 0;
}

void NetworkPath::startSystemWatch() {
    watch().start();
}
void NetworkPath::stopSystemWatch() {
    watch().stop();
}
