#pragma once
// Which classes exist at run time, for code that looks a class up by name instead of linking it
// (the design's NSClassFromString). Our classes that others look up register themselves; tests
// add the names of outside classes to try the code paths that find them.
#include <string>
#include <string_view>

namespace Runtime {
void registerClass(std::string name);
void unregisterClass(std::string_view name);
bool classExists(std::string_view name);
}  // namespace Runtime
