#pragma once
// Facts about the machine and its operating system, as the outside utility library reports them.
#include <string>

class ZIZAppEnvironmentUtil {
  public:
    // The hardware model: the firmware's product name, else the machine architecture.
    static std::string deviceModel();
    // The kernel release.
    static std::string systemVersion();
    // Whether the application was installed from the App Store: never on Linux, unless a test says
    // otherwise.
    static bool isFromAppStore();
    static void setFromAppStoreForTesting(bool fromAppStore);
};
