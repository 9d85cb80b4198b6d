#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "crash_reporter/format/dzcrash_report_sink.h"
#include "crash_reporter/format/tests/ScratchFile.h"
#include "testing/Eventually.h"
#include "testing/InterruptedWrite.h"

namespace {

Data pattern(size_t length, uint8_t seed = 0) {
    Data bytes(length);
    for (size_t i = 0; i < length; i++) bytes[i] = static_cast<uint8_t>(seed + i);
    return bytes;
}

Data joined(const Data& a, const Data& b) {
    Data all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

}  // namespace

TEST(DZCrashReportSink, AFullBufferWaitsForTheFlushAndALargerWriteGoesOutAtOnce) {
    ScratchFile file;
    dzcrash_report_sink sink;

    dzcrash_report_sink_init(&sink, file.fd(), 0);
    ASSERT_TRUE(dzcrash_report_sink_write(&sink, pattern(256).data(), 256));
    EXPECT_EQ(file.size(), 0u);
    ASSERT_TRUE(dzcrash_report_sink_flush(&sink));
    EXPECT_EQ(file.contents(), pattern(256));

    ScratchFile other;
    dzcrash_report_sink_init(&sink, other.fd(), 0);
    ASSERT_TRUE(dzcrash_report_sink_write(&sink, pattern(257).data(), 257));
    EXPECT_EQ(other.contents(), pattern(257));
}

TEST(DZCrashReportSink, BufferedBytesGoOutBeforeBytesThatDoNotFitBesideThem) {
    ScratchFile file;
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, file.release(), 0);

    Data first = pattern(200, 1), second = pattern(100, 2), third = pattern(300, 3);
    ASSERT_TRUE(dzcrash_report_sink_write(&sink, first.data(), first.size()));
    ASSERT_TRUE(dzcrash_report_sink_write(&sink, second.data(), second.size()));
    EXPECT_EQ(file.contents(), first);
    ASSERT_TRUE(dzcrash_report_sink_write(&sink, third.data(), third.size()));
    EXPECT_EQ(file.contents(), joined(joined(first, second), third));
    EXPECT_TRUE(dzcrash_report_sink_close(&sink));
}

TEST(DZCrashReportSink, AWriteThatWouldPassTheLimitIsRefusedWholeAndSmallerOnesStillFit) {
    ScratchFile file;
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, file.release(), 10);

    EXPECT_TRUE(dzcrash_report_sink_write(&sink, "dzcrash", 7));
    EXPECT_TRUE(dzcrash_report_sink_write(&sink, "\x01", 1));
    EXPECT_FALSE(dzcrash_report_sink_write(&sink, "abc", 3));
    EXPECT_TRUE(dzcrash_report_sink_write(&sink, "de", 2));
    EXPECT_FALSE(dzcrash_report_sink_write(&sink, "f", 1));
    EXPECT_TRUE(dzcrash_report_sink_close(&sink));
    EXPECT_EQ(stringFromData(file.contents()), std::string("dzcrash\x01"
                                                           "de",
                                                           10));
}

// A write that failed leaves a hole in the file: the report must not count as written even when
// the descriptor takes the later bytes.
TEST(DZCrashReportSink, AFailedWriteFailsTheFlushAndCloseEvenWhenLaterWritesSucceed) {
    ScratchFile file;
    int readOnly = open(file.path().c_str(), O_RDONLY);
    ASSERT_GE(readOnly, 0);
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, readOnly, 0);

    EXPECT_FALSE(dzcrash_report_sink_write(&sink, pattern(300).data(), 300));
    ASSERT_EQ(dup2(file.fd(), readOnly), readOnly);
    EXPECT_TRUE(dzcrash_report_sink_write(&sink, "tail", 4));
    EXPECT_FALSE(dzcrash_report_sink_flush(&sink));
    EXPECT_FALSE(dzcrash_report_sink_close(&sink));
    EXPECT_EQ(stringFromData(file.contents()), "tail");
}

TEST(DZCrashReportSink, AWriteIntoAPipeInterruptedByASignalCompletes) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    // Fill the pipe first, so that the sink's write blocks before taking a byte and the signal
    // makes it fail with EINTR instead of returning a short count.
    fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    size_t prefilled = 0;
    for (uint8_t byte = 0; write(pipeFds[1], &byte, 1) == 1;) prefilled++;
    fcntl(pipeFds[1], F_SETFL, 0);

    InterruptingSignal interrupting;  // the blocked write is interrupted, not restarted
    ASSERT_TRUE(interrupting.installed());

    Data payload = pattern(300, 7);
    std::atomic<pid_t> writerTid{0};
    std::atomic<bool> written{false};
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, pipeFds[1], 0);
    std::thread writer([&] {
        writerTid = gettid();
        written = dzcrash_report_sink_write(&sink, payload.data(), payload.size());
        // Closing ends the reader's loop below also when the write gave up early.
        dzcrash_report_sink_close(&sink);
    });

    // Expectations only until the pipe is drained: the writer must get out before it is joined.
    EXPECT_TRUE(eventually([&] { return writerTid != 0 && blockedInWrite(writerTid); }));
    pthread_kill(writer.native_handle(), SIGUSR1);
    EXPECT_TRUE(eventually([&] { return interrupting.count() == 1; }));

    Data received;
    uint8_t chunk[4096];
    while (received.size() < prefilled + payload.size()) {
        ssize_t count = read(pipeFds[0], chunk, sizeof(chunk));
        if (count <= 0) break;
        received.insert(received.end(), chunk, chunk + count);
    }
    writer.join();

    EXPECT_TRUE(written);
    ASSERT_EQ(received.size(), prefilled + payload.size());
    EXPECT_EQ(Data(received.end() - static_cast<ptrdiff_t>(payload.size()), received.end()), payload);
    close(pipeFds[0]);
}
