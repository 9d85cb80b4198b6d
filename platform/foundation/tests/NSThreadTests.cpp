#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/NSThread.h"

namespace {

// One line cut at its blanks: frame number, image, address, symbol, "+", offset.
std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

TEST(NSThread, CallStackStartsAtTheCallerAndNumbersEveryFrame) {
    const auto lines = NSThread::callStackSymbols();
    ASSERT_GT(lines.size(), 2u);
    bool libcSymbolFound = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto parts = words(lines[i]);
        ASSERT_EQ(parts.size(), 6u) << lines[i];
        EXPECT_EQ(parts[0], std::to_string(i));
        EXPECT_EQ(parts[2].size(), 18u) << "0x and 16 digits: " << lines[i];
        EXPECT_EQ(parts[2].rfind("0x", 0), 0u);
        EXPECT_EQ(parts[4], "+");
        EXPECT_EQ(parts[5].find_first_not_of("0123456789"), std::string::npos) << lines[i];
        if (parts[1] == "libc.so.6" && parts[3].rfind("0x", 0) != 0) libcSymbolFound = true;
    }
    EXPECT_EQ(words(lines[0])[1], program_invocation_short_name) << "the caller is this test";
    EXPECT_TRUE(libcSymbolFound) << "the thread starts in the C library, whose symbols are exported";
}

TEST(NSThread, OneLineNamesImageSymbolAndOffset) {
    // From the C library itself: a sanitizer build puts its own qsort in front of it.
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    void* qsortAddress = dlsym(libc, "qsort");
    dlclose(libc);
    ASSERT_NE(qsortAddress, nullptr);
    const auto line = NSThread::callStackSymbol(7, static_cast<char*>(qsortAddress) + 5);
    EXPECT_EQ(words(line), (std::vector<std::string>{"7", "libc.so.6", words(line)[2], "qsort", "+", "5"}));
    EXPECT_EQ(line.find("libc.so.6"), 4u) << "the frame number fills four columns";

    char expectedAddress[32];
    std::snprintf(expectedAddress, sizeof expectedAddress, "0x%016lx",
                  reinterpret_cast<unsigned long>(qsortAddress) + 5);
    EXPECT_EQ(words(line)[2], expectedAddress);

    EXPECT_EQ(words(NSThread::callStackSymbol(12, reinterpret_cast<const void*>(0x10))),
              (std::vector<std::string>{"12", "???", "0x0000000000000010", "0x0", "+", "16"}))
        << "an address in no image";
}

}  // namespace
