#pragma once
// How a reporter catches crashes and where it keeps its reports; immutable once made.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

inline constexpr uint64_t DZCrashReporterSignalHandlerTypeBSD = 0;
inline constexpr uint64_t DZCrashReporterSignalHandlerTypeMach = 1;

inline constexpr uint64_t DZCrashReporterSymbolicationStrategyNone = 0;
inline constexpr uint64_t DZCrashReporterSymbolicationStrategySymbolTable = 1 << 0;
inline constexpr uint64_t DZCrashReporterSymbolicationStrategyObjC = 1 << 1;
inline constexpr uint64_t DZCrashReporterSymbolicationStrategyAll =
    DZCrashReporterSymbolicationStrategySymbolTable | DZCrashReporterSymbolicationStrategyObjC;

class DZCrashReporterConfig {
  public:
    // BSD signals, no symbolication, the uncaught-exception handler registered, the Caches base.
    static std::shared_ptr<DZCrashReporterConfig> defaultConfiguration();
    static std::shared_ptr<DZCrashReporterConfig> init();
    static std::shared_ptr<DZCrashReporterConfig> initWithBasePath(std::optional<std::string> basePath);
    static std::shared_ptr<DZCrashReporterConfig> initWithSignalHandlerType(uint64_t signalHandlerType,
                                                                            uint64_t symbolicationStrategy);
    static std::shared_ptr<DZCrashReporterConfig> initWithSignalHandlerTypeBasePath(
        uint64_t signalHandlerType, uint64_t symbolicationStrategy, std::optional<std::string> basePath);
    static std::shared_ptr<DZCrashReporterConfig> initWithSignalHandlerTypeUncaughtExceptionHandler(
        uint64_t signalHandlerType, uint64_t symbolicationStrategy,
        bool shouldRegisterUncaughtExceptionHandler);
    // What every other initialiser ends in.
    static std::shared_ptr<DZCrashReporterConfig> initWithSignalHandlerType(
        uint64_t signalHandlerType, uint64_t symbolicationStrategy,
        bool shouldRegisterUncaughtExceptionHandler, std::optional<std::string> basePath);

    uint64_t signalHandlerType() const { return signalHandlerType_; }
    uint64_t symbolicationStrategy() const { return symbolicationStrategy_; }
    bool shouldRegisterUncaughtExceptionHandler() const { return shouldRegisterUncaughtExceptionHandler_; }
    // The parent of the report directory; nullopt for the user's Caches directory.
    const std::optional<std::string>& basePath() const { return basePath_; }

  private:
    DZCrashReporterConfig(uint64_t signalHandlerType, uint64_t symbolicationStrategy,
                          bool shouldRegisterUncaughtExceptionHandler, std::optional<std::string> basePath)
        : signalHandlerType_(signalHandlerType),
          symbolicationStrategy_(symbolicationStrategy),
          shouldRegisterUncaughtExceptionHandler_(shouldRegisterUncaughtExceptionHandler),
          basePath_(std::move(basePath)) {}

    uint64_t signalHandlerType_;
    uint64_t symbolicationStrategy_;
    bool shouldRegisterUncaughtExceptionHandler_;
    std::optional<std::string> basePath_;
};
