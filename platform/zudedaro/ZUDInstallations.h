#pragma once
// The outside installations library: one identifier for this installation of the application,
// made at random on first request and kept in the standard user defaults. Answers come on a
// background queue, never on the caller's thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

// Posted on the default center, with the installations object as sender, when the identifier changes.
inline constexpr const char* ZUDInstallationIDDidChangeNotification =
    "ZUDInstallationIDDidChangeNotification";

class ZUDInstallations : public std::enable_shared_from_this<ZUDInstallations> {
  public:
    using Completion = std::function<void(std::optional<std::string> identifier, std::optional<Error> error)>;

    static constexpr const char* kDefaultsKey = "ZUDInstallationID";

    static std::shared_ptr<ZUDInstallations> installations();

    // The identifier, or nullopt and an error, on a background queue.
    void installationIDWithCompletion(Completion completion);

    // Test controls: requests fail with `error` until it is cleared (nullopt); a new identifier is
    // stored and announced as a real change would be.
    void setFailureForTesting(std::optional<Error> error);
    void setInstallationIDForTesting(const std::string& identifier);

  private:
    std::string storedOrNewIdentifier();

    std::mutex mutex_;
    std::optional<Error> failure_;
};
