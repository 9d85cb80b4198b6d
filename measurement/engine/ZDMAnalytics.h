#pragma once
// The analytics facade of the measurement library. For now only the entry point through which the
// library logs its own events (such as the "_err" event that reports refused input): until the
// facade queues events, each call is handed, on the calling thread, to the observers registered.
#include <functional>
#include <string>

#include "platform/foundation/Observation.h"
#include "platform/foundation/Value.h"

class ZDMAnalytics {
  public:
    using InternalEventObserver =
        std::function<void(const std::string& origin, const std::string& name, const Dictionary& parameters)>;

    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Dictionary& parameters);
    // Observers are called outside any lock and may cancel themselves; a reset for tests drops them.
    [[nodiscard]] static Cancellable addInternalEventObserver(InternalEventObserver observer);
};
