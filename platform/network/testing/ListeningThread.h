#pragma once
// Runs a test server's accept loop on its own thread and returns only once the server is
// listening: a stop() that comes before that point is lost, and the loop would then block forever.
#include <httplib.h>

#include <stdexcept>
#include <thread>

#include "testing/Eventually.h"

inline std::thread startListening(httplib::Server& server) {
    std::thread thread([&server] { server.listen_after_bind(); });
    if (!eventually([&] { return server.is_running(); })) {
        server.stop();
        thread.join();
        throw std::runtime_error("the local test server did not start listening");
    }
    return thread;
}
