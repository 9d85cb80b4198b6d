#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"

#include <mutex>

#include "DudIzizoz/Internals/Util/DIZUtility.h"

namespace {

// A once-per-process token that can be taken back. The first caller makes the directory while
// the others wait for it; a failure is logged by the maker and not retried.
class DirectoryToken {
  public:
    constexpr explicit DirectoryToken(const char* name) : name_(name) {}

    std::string name() {
        std::lock_guard guard(lock_);
        if (!created_) {
            DIZUtility::createDirectoryForPathComponent(name_);
            created_ = true;
        }
        return name_;
    }

    void reset() {
        std::lock_guard guard(lock_);
        created_ = false;
    }

  private:
    const char* const name_;
    std::mutex lock_;
    bool created_ = false;
};

// Constant-initialised, so that code running before main finds them ready.
constinit DirectoryToken crashes("crashes");
constinit DirectoryToken logBuffer("crasheslogbuffer");
constinit DirectoryToken wrapperExceptions("crasheswrapperexceptions");

}  // namespace

std::string DIZCrashesUtil::crashesDir() {
    return crashes.name();
}

std::string DIZCrashesUtil::logBufferDir() {
    return logBuffer.name();
}

std::string DIZCrashesUtil::wrapperExceptionsDir() {
    return wrapperExceptions.name();
}

void DIZCrashesUtil::resetDirectory() {
    crashes.reset();
    logBuffer.reset();
    wrapperExceptions.reset();
}
