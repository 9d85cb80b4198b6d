#pragma once
// The bundle of the application the reporting client's tests run in. The client reads its host's
// bundle (the identifier names its data directory and keychain service, the version goes into every
// log), and the tests expect the agent's values, so they run as if inside the agent.
#include <memory>

#include "platform/foundation/Bundle.h"

inline std::shared_ptr<Bundle> DIZHostBundle() {
    return std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", "com.quorvane.agent"},
                                               {"CFBundleName", "quorvane"},
                                               {"CFBundleDisplayName", "quorvane"},
                                               {"CFBundleExecutable", "quorvane"},
                                               {"CFBundleShortVersionString", "1.0.0"},
                                               {"CFBundleVersion", "1"},
                                               {"LSUIElement", true}});
}
