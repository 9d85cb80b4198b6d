#pragma once
// Runs a test server's accept loop on its own thread and returns only once the server is
// listening: a stop() that comes before that point is lost, and the loop would then block forever.
#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <thread>

inline std::thread startListening(httplib::Server& server) {
    std::thread thread([&server] { server.listen_after_bind(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            server.stop();
            thread.join();
            throw std::runtime_error("the local test server did not start listening");
        }
        std::this_thread::yield();
    }
    return thread;
}
