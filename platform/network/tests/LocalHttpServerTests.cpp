#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/network/testing/LocalHttpServer.h"
#include "platform/network/testing/Loopback.h"

namespace {

// The errno of a connection to 127.0.0.1:port, 0 when it was accepted.
int connectError(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackAddress(port);
    const int error =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    close(fd);
    return error;
}

// Another server that came up on the port in the meantime would answer a test that means to reach
// nobody; the port stays refused and unclaimable until the test lets it go.
TEST(ClosedLocalPort, RefusesConnectionsAndNoServerCanTakeItUntilReleased) {
    ClosedLocalPort closed;
    ASSERT_GT(closed.port(), 0);
    EXPECT_EQ(connectError(closed.port()), ECONNREFUSED);
    {
        LocalHttpServer intruder(closed.port());
        EXPECT_EQ(intruder.port(), -1);
    }
    EXPECT_EQ(connectError(closed.port()), ECONNREFUSED);

    closed.release();
    LocalHttpServer later(closed.port());
    EXPECT_EQ(later.port(), closed.port());
    EXPECT_EQ(connectError(closed.port()), 0);
}

}  // namespace
