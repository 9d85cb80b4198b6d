#pragma once
// The current thread's call stack as the platform renders it for people: one line per frame,
// "<frame#> <image name> <address> <symbol> + <offset>", innermost (the caller) first.
#include <cstddef>
#include <string>
#include <vector>

class NSThread {
  public:
    // The frames of the calling thread, starting with the function that calls this.
    static std::vector<std::string> callStackSymbols();
    // The line of one return address: the image's file name ("???" outside every image), the
    // address as 16 hexadecimal digits, and the nearest exported symbol at or before it with the
    // distance to it; without a symbol, the image's base address ("0x0" outside every image).
    static std::string callStackSymbol(size_t frame, const void* address);
};
