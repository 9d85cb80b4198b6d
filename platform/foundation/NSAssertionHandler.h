#pragma once
// Where a broken precondition ends: one line in the system log naming the function, file and line,
// then an internal-inconsistency Exception whose reason is the description. A caller that broke the
// contract can catch it; nobody else should.
#include <string>
#include <string_view>

[[noreturn]] void handleAssertionFailure(std::string_view function, std::string_view file, int line,
                                         std::string description);

#define NSAssert(condition, description)                                                       \
    do {                                                                                       \
        if (!(condition)) handleAssertionFailure(__func__, __FILE__, __LINE__, (description)); \
    } while (0)
