#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "DudIzizozCrashes/Internals/Util/DIZCrashesUncaughtCXXExceptionHandlerManager.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/ChildProcess.h"

const std::logic_error pointedError("pointed");

// The throwing functions of the child below, with C names that the exported symbol table shows,
// so that the child can tell which function the first frame of the throw lies in.
extern "C" {
[[noreturn]] __attribute__((noinline)) void dizTestThrowRuntimeError() {
    throw std::runtime_error("boom");
}
[[noreturn]] __attribute__((noinline)) void dizTestThrowInt() {
    throw 7;
}
[[noreturn]] __attribute__((noinline)) void dizTestThrowText() {
    throw "text";
}
[[noreturn]] __attribute__((noinline)) void dizTestThrowString() {
    throw std::string("words");
}
[[noreturn]] __attribute__((noinline)) void dizTestThrowExceptionPointer() {
    throw &pointedError;
}
}

namespace {

namespace fs = std::filesystem;
using Manager = DIZCrashesUncaughtCXXExceptionHandlerManager;

void handlerA(const CXXTerminateInfo*) {}
void handlerB(const CXXTerminateInfo*) {}
[[noreturn]] void earlierTerminate() {
    abort();
}
[[noreturn]] void laterTerminate() {
    abort();
}

TEST(DIZCrashesUncaughtCXXExceptionHandlerManagerTest, TheLastRemovalPutsTheEarlierTerminateHandlerBack) {
    const std::terminate_handler saved = std::set_terminate(earlierTerminate);
    ASSERT_EQ(Manager::countCXXExceptionHandler(), 0u);

    Manager::addCXXExceptionHandler(handlerA);
    Manager::addCXXExceptionHandler(handlerA);
    EXPECT_EQ(Manager::countCXXExceptionHandler(), 2u);
    EXPECT_EQ(std::get_terminate(), &diz_cxx_terminate_handler);
    Manager::removeCXXExceptionHandler(handlerB);
    EXPECT_EQ(Manager::countCXXExceptionHandler(), 2u) << "never added: nothing removed";
    Manager::removeCXXExceptionHandler(handlerA);
    EXPECT_EQ(Manager::countCXXExceptionHandler(), 1u);
    EXPECT_EQ(std::get_terminate(), &diz_cxx_terminate_handler);
    Manager::removeCXXExceptionHandler(handlerA);
    EXPECT_EQ(Manager::countCXXExceptionHandler(), 0u);
    EXPECT_EQ(std::get_terminate(), &earlierTerminate);

    // A handler installed after ours stays when our last handler goes, and ours counts as installed
    // still: the next handler does not replace theirs.
    Manager::addCXXExceptionHandler(handlerB);
    std::set_terminate(laterTerminate);
    Manager::removeCXXExceptionHandler(handlerB);
    EXPECT_EQ(std::get_terminate(), &laterTerminate);
    Manager::addCXXExceptionHandler(handlerB);
    EXPECT_EQ(std::get_terminate(), &laterTerminate);

    std::set_terminate(diz_cxx_terminate_handler);
    Manager::removeCXXExceptionHandler(handlerB);
    EXPECT_EQ(std::get_terminate(), &earlierTerminate);
    std::set_terminate(saved);
}

// Runs only as a child of the test below: adds a handler that writes what it is told to the file
// the parent names, then lets an exception of the asked kind reach terminate.
constexpr const char* kModeVariable = "DIZ_CXX_TERMINATE_CHILD";
constexpr const char* kOutputVariable = "DIZ_CXX_TERMINATE_OUTPUT";

void writeWhatTheHandlerIsTold(const CXXTerminateInfo* info) {
    // A call to a function that does not return may be the last instruction of its caller: the
    // return address then lies just past it, and the byte before it is the call's.
    Dl_info symbol{};
    const bool named = info->frameCount > 0 &&
                       dladdr(reinterpret_cast<void*>(info->frames[0] - 1), &symbol) && symbol.dli_sname;
    std::ofstream(std::getenv(kOutputVariable), std::ios::app)
        << (info->exception ? "exception" : "none") << "|" << (info->typeName ? info->typeName : "(null)")
        << "|" << (info->message ? info->message : "(null)") << "|" << (named ? symbol.dli_sname : "?")
        << "\n";
}

// Nothing may catch what it throws: the exception ends in terminate.
void throwUncaught(void (*thrower)()) noexcept {
    thrower();
}

// A handler that fails the same way.
void throwingHandler(const CXXTerminateInfo*) {
    throwUncaught(dizTestThrowInt);
}

TEST(DIZCXXTerminateChild, LetsAnExceptionReachTerminate) {
    const char* mode = std::getenv(kModeVariable);
    if (!mode) GTEST_SKIP() << "runs as a child process only";
    const std::string kind = mode;
    if (kind == "throwingHandler") Manager::addCXXExceptionHandler(throwingHandler);
    Manager::addCXXExceptionHandler(writeWhatTheHandlerIsTold);
    if (kind == "runtime_error") throwUncaught(dizTestThrowRuntimeError);
    if (kind == "int") throwUncaught(dizTestThrowInt);
    if (kind == "text") throwUncaught(dizTestThrowText);
    if (kind == "string") throwUncaught(dizTestThrowString);
    if (kind == "exceptionPointer" || kind == "throwingHandler") throwUncaught(dizTestThrowExceptionPointer);
    std::terminate();
}

TEST(DIZCrashesUncaughtCXXExceptionHandlerManagerTest, AnUncaughtExceptionIsDescribedWithTheStackOfItsThrow) {
    TestHome home;
    struct Case {
        const char* mode;
        std::string told;  // empty: no handler is called
    } cases[] = {
        {"runtime_error",
         std::string("exception|") + typeid(std::runtime_error).name() + "|boom|dizTestThrowRuntimeError"},
        {"int", std::string("exception|") + typeid(int).name() + "|(null)|dizTestThrowInt"},
        {"text", std::string("exception|") + typeid(const char*).name() + "|text|dizTestThrowText"},
        {"string", std::string("exception|") + typeid(std::string).name() + "|words|dizTestThrowString"},
        {"exceptionPointer", std::string("exception|") + typeid(const std::logic_error*).name() +
                                 "|pointed|dizTestThrowExceptionPointer"},
        {"terminate", ""},
        // The process ends, rather than hang in the handlers' lock; the handler after it never runs.
        {"throwingHandler", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const fs::path output = home.path() / (std::string(c.mode) + ".txt");
        const pid_t child =
            spawnThisTestBinary("DIZCXXTerminateChild.LetsAnExceptionReachTerminate",
                                {.environment = {std::string(kModeVariable) + "=" + c.mode,
                                                 std::string(kOutputVariable) + "=" + output.string()},
                                 .quiet = true});
        ASSERT_GT(child, 0);
        const auto status = waitForChild(child, 60);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << *status;
        std::string told;
        std::getline(std::ifstream(output), told);
        EXPECT_EQ(told, c.told);
    }
}

}  // namespace
