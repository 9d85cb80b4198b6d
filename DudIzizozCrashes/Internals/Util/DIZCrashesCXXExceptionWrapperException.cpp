#include "DudIzizozCrashes/Internals/Util/DIZCrashesCXXExceptionWrapperException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// The readable type name, or the runtime's own when it does not demangle.
std::string demangled(const char* typeName) {
    const char* mangled = typeName ? typeName : "";
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(mangled);
}

}  // namespace

DIZCrashesCXXExceptionWrapperException::DIZCrashesCXXExceptionWrapperException(const CXXTerminateInfo* info)
    : Exception(demangled(info ? info->typeName : nullptr), info && info->message ? info->message : ""),
      info_(info) {}

std::vector<uint64_t> DIZCrashesCXXExceptionWrapperException::callStackReturnAddresses() const {
    if (!info_ || !info_->frames) return {};
    return std::vector<uint64_t>(info_->frames, info_->frames + info_->frameCount);
}
