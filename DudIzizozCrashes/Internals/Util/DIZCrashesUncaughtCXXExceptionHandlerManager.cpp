#include "DudIzizozCrashes/Internals/Util/DIZCrashesUncaughtCXXExceptionHandlerManager.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

constexpr int kMaxThrowFrames = 128;

// The stack of the last throw on a thread, made once per thread and freed with it.
struct CXXThrowTrace {
    void* thrownObject;
    uintptr_t frames[kMaxThrowFrames];
    int32_t frameCount;
};
static_assert(sizeof(CXXThrowTrace) == 1040);

// The terminate handler runs while the process is failing; a spin lock on an atomic flag is the
// one lock that needs no allocation and cannot be left in a broken state by the runtime.
std::atomic_flag lock = ATOMIC_FLAG_INIT;
void takeLock() {
    while (lock.test_and_set(std::memory_order_acquire)) {
    }
}
void releaseLock() {
    lock.clear(std::memory_order_release);
}

// Never destroyed: a terminate during exit still finds the list.
std::vector<DIZCXXExceptionHandler>& handlers() {
    static auto* list = new std::vector<DIZCXXExceptionHandler>();
    return *list;
}
std::atomic<bool> installed{false};
std::terminate_handler previousTerminateHandler = nullptr;

pthread_key_t traceKey;
pthread_once_t traceKeyOnce = PTHREAD_ONCE_INIT;
void makeTraceKey() {
    pthread_key_create(&traceKey, free);
}

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));
CxaThrow runtimeThrow = nullptr;
const void* objcEhtypeVtable = nullptr;
pthread_once_t lookupOnce = PTHREAD_ONCE_INIT;
void lookUpRuntime() {
    runtimeThrow = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    objcEhtypeVtable = dlsym(RTLD_DEFAULT, "objc_ehtype_vtable");
}

// Exceptions of the object runtime carry type information whose vtable is that runtime's own; they
// are that runtime's business, not ours.
bool isObjectRuntimeException(const std::type_info* typeInfo) {
    if (!typeInfo || !objcEhtypeVtable) return false;
    const auto* firstWord = reinterpret_cast<const uintptr_t*>(typeInfo);
    return *firstWord == reinterpret_cast<uintptr_t>(objcEhtypeVtable) + 16;
}

// The calling thread's stack from the frame that returns to `returnAddress` on, into `frames`; the
// number of frames. What lies above that frame (the function that asks, and whatever stands between
// it and the unwinder, as a sanitizer's interceptor of backtrace does) is dropped by what it is, not
// by a count that holds in one build only. Should the walk miss that frame, only the asking
// function's own is dropped; inlined, so that this one is no frame of its own.
[[gnu::always_inline]] inline int32_t backtraceFrom(const void* returnAddress, uintptr_t* frames,
                                                    int capacity) {
    const int count = backtrace(reinterpret_cast<void**>(frames), capacity);
    int first = count > 1 ? 1 : count;
    for (int i = 0; i < count; ++i) {
        if (frames[i] == reinterpret_cast<uintptr_t>(returnAddress)) {
            first = i;
            break;
        }
    }
    std::copy(frames + first, frames + count, frames);
    return count - first;
}

// The calling thread's trace, made on its first throw; null when no memory is left for it.
CXXThrowTrace* threadTrace() {
    pthread_once(&traceKeyOnce, makeTraceKey);
    auto* trace = static_cast<CXXThrowTrace*>(pthread_getspecific(traceKey));
    if (!trace) {
        trace = static_cast<CXXThrowTrace*>(calloc(1, sizeof(CXXThrowTrace)));
        if (trace) pthread_setspecific(traceKey, trace);
    }
    return trace;
}

// The text the exception carries, as far as its type tells. It lies in the exception object (or,
// for a pointer, in what it points to), which the handle keeps alive.
const char* messageOf(const std::exception_ptr& exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (const std::exception* caught) {
        return caught ? caught->what() : nullptr;
    } catch (const std::string& caught) {
        return caught.c_str();
    } catch (const std::string* caught) {
        return caught ? caught->c_str() : nullptr;
    } catch (const char* caught) {
        return caught;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

// Every throw compiled into the program comes here first, as this definition is found before the
// runtime's; the runtime's own entry then does the throw. Declared where the runtime's header
// declares it, so that the two declarations agree.
namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* thrownObject, std::type_info* typeInfo, void (*destructor)(void*)) {
    pthread_once(&lookupOnce, lookUpRuntime);
    if (!isObjectRuntimeException(typeInfo) && installed.load()) {
        // From the thrower's frame on: the throw entry is no part of the stack it was thrown from.
        if (CXXThrowTrace* trace = threadTrace()) {
            trace->thrownObject = thrownObject;
            trace->frameCount = backtraceFrom(__builtin_return_address(0), trace->frames, kMaxThrowFrames);
        }
    }
    if (!runtimeThrow) abort();
    runtimeThrow(thrownObject, typeInfo, destructor);
    abort();  // the runtime's throw does not return
}
}  // namespace __cxxabiv1

void diz_cxx_terminate_handler() {
    // A handler that itself ends in terminate would wait for the lock its own thread holds, and the
    // process would hang instead of ending.
    static thread_local bool terminating = false;
    if (terminating) abort();
    terminating = true;
    const std::exception_ptr exception = std::current_exception();
    takeLock();
    if (exception) {
        CXXTerminateInfo info{};
        info.exception = &exception;
        const std::type_info* type = abi::__cxa_current_exception_type();
        info.typeName = type ? type->name() : nullptr;
        // The last throw recorded on this thread is taken as the one nothing caught; without one,
        // the stack is this handler's caller's.
        uintptr_t ownFrames[kMaxThrowFrames] = {};
        const uintptr_t* frames = ownFrames;
        int32_t count;
        pthread_once(&traceKeyOnce, makeTraceKey);
        if (const auto* trace = static_cast<const CXXThrowTrace*>(pthread_getspecific(traceKey))) {
            frames = trace->frames;
            count = trace->frameCount;
        } else {
            count = backtraceFrom(__builtin_return_address(0), ownFrames, kMaxThrowFrames);
        }
        info.frameCount = static_cast<uint32_t>(count);
        info.frames = frames;
        info.message = messageOf(exception);
        for (const auto handler : handlers()) handler(&info);
    }
    const std::terminate_handler previous = previousTerminateHandler;
    releaseLock();
    if (previous) previous();
    abort();
}

void DIZCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(DIZCXXExceptionHandler handler) {
    pthread_once(&traceKeyOnce, makeTraceKey);
    takeLock();
    if (!installed.load()) {
        previousTerminateHandler = std::set_terminate(diz_cxx_terminate_handler);
        installed.store(true);
    }
    handlers().push_back(handler);
    releaseLock();
}

void DIZCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(DIZCXXExceptionHandler handler) {
    takeLock();
    auto& list = handlers();
    const auto entry = std::find(list.begin(), list.end(), handler);
    if (entry != list.end()) list.erase(entry);
    if (installed.load() && list.empty()) {
        const std::terminate_handler replaced = std::set_terminate(previousTerminateHandler);
        if (replaced == diz_cxx_terminate_handler) {
            installed.store(false);
            previousTerminateHandler = nullptr;
        } else {
            std::set_terminate(replaced);
        }
    }
    releaseLock();
}

uint32_t DIZCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() {
    takeLock();
    const auto count = static_cast<uint32_t>(handlers().size());
    releaseLock();
    return count;
}
