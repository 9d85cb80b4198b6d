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

// Scripts by prefix stand for a whole service at once; a path's own script, then the longest
// prefix, decides, so a test can single out one path of a service.
TEST(LocalHttpServer, AnswersByPathThenLongestPrefixAndRecordsTheQueryInOrder) {
    LocalHttpServer server;
    server.scriptPrefix("/", {{500, {}, "root", "text/plain"}});
    server.scriptPrefix("/config/", {{200, {{"ETag", "e1"}}, "config", "text/plain"}});
    server.script("/config/missing", {{404, {}, "", "text/plain"}});
    httplib::Client client("127.0.0.1", server.port());
    struct Case {
        const char* target;
        int status;
        const char* body;
    };
    const Case cases[] = {
        {"/config/app/1?z=1&a=%2F&z=2", 200, "config"},
        {"/config/missing", 404, ""},
        {"/a", 500, "root"},
    };
    for (const Case& c : cases) {
        auto result = client.Get(c.target);
        ASSERT_TRUE(result) << c.target;
        EXPECT_EQ(result->status, c.status) << c.target;
        EXPECT_EQ(result->body, c.body) << c.target;
    }
    const auto first = server.waitForRequest(1);
    ASSERT_TRUE(first);
    const std::vector<std::pair<std::string, std::string>> query{{"z", "1"}, {"a", "/"}, {"z", "2"}};
    EXPECT_EQ(first->query, query);
    EXPECT_EQ(server.waitForRequest(3)->path, "/a");
    EXPECT_FALSE(server.waitForRequest(0));
}

}  // namespace
