#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "DudIzizozCrashes/Internals/Util/DIZCrashesBufferedLog.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/Eventually.h"
#include "testing/InterruptedWrite.h"

namespace {

TEST(DIZCrashesBufferedLogTest, AWriteTheSystemCutsShortIsCompleted) {
    TestHome home;
    // A pipe takes a part of the archive and blocks; a signal then ends the write(2) with the count
    // taken so far, as a file system may return a short count.
    const std::string path = (home.path() / "0.dzcrasheslogbuffer").string();
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    InterruptingSignal interrupting;
    ASSERT_TRUE(interrupting.installed());

    std::string archive(300 * 1024, '\0');
    for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7 % 251);
    std::atomic<pid_t> writerTid{0};
    std::thread writer([&] {
        writerTid = gettid();
        diz_write_log_buffer_file(archive, path);
    });
    EXPECT_TRUE(eventually([&] { return writerTid != 0 && blockedInWrite(writerTid); }));
    pthread_kill(writer.native_handle(), SIGUSR1);
    EXPECT_TRUE(eventually([&] { return interrupting.count() == 1; }));

    fcntl(reader, F_SETFL, 0);
    std::string received;
    char chunk[4096];
    for (ssize_t count; (count = read(reader, chunk, sizeof chunk)) > 0;) received.append(chunk, count);
    writer.join();
    close(reader);
    EXPECT_EQ(received.size(), archive.size());
    EXPECT_TRUE(received == archive);
}

}  // namespace
