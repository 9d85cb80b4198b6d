#pragma once
// Which classes exist at run time, for code that looks a class up by name instead of linking it
// (the design's NSClassFromString). Our classes that others look up register themselves; tests
// add the names of outside classes to try the code paths that find them.
#include <memory>
#include <string>
#include <string_view>

class RuntimeObject;

namespace Runtime {
void registerClass(std::string name);
// A class that answers messages; registering a name again replaces its class object.
void registerClass(std::string name, std::shared_ptr<const RuntimeObject> classObject);
void unregisterClass(std::string_view name);
bool classExists(std::string_view name);
// The class object registered under the name; nullptr when there is none, also for a class
// registered by name only.
std::shared_ptr<const RuntimeObject> classNamed(std::string_view name);
}  // namespace Runtime
