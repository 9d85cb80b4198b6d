#pragma once
// Stops the process on an impossible state, with the fixed message on stderr.
#include <string_view>

[[noreturn]] void fatalError(std::string_view message);
