#include "measurement/foundation/ZDMMonitor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMASLLogger.h"
#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

namespace {
constinit SharedInstance<ZDMMonitor> sharedInstance{
    [] { return ZDMMonitor::make(ZDMIdentity::didAdirezaridoLibraryVersion()); }};

constexpr int64_t kDebugModeOnCode = 24000;
constexpr int64_t kDebugModeOffCode = 24001;
constexpr int64_t kVerboseLoggingOnCode = 24003;

bool contains(const std::vector<std::string>& arguments, std::initializer_list<const char*> wanted) {
    return std::any_of(wanted.begin(), wanted.end(), [&](const char* argument) {
        return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
    });
}

bool containsZDM(const std::string& text) {
    for (size_t i = 0; i + 3 <= text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) == 'Z' &&
            std::toupper(static_cast<unsigned char>(text[i + 1])) == 'D' &&
            std::toupper(static_cast<unsigned char>(text[i + 2])) == 'M')
            return true;
    }
    return false;
}

std::vector<std::string> whitespaceTokens(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> tokens;
    for (std::string token; stream >> token;) tokens.push_back(token);
    return tokens;
}

// The bucket a magnitude of `digits` decimal digits falls in, written out digit by digit: the
// bounds of a 19-digit number do not fit in 64 bits.
std::string bucket(size_t digits, bool negative) {
    const std::string lowest = "1" + std::string(digits - 1, '0');
    const std::string highest(digits, '9');
    return negative ? "-" + highest + "...-" + lowest : lowest + "..." + highest;
}

std::string encodedInteger(int64_t value) {
    if (value >= -99 && value <= 99) return std::to_string(value);
    // The magnitude as unsigned, so that the lowest 64-bit number has one too.
    const uint64_t magnitude = value < 0 ? uint64_t(-(value + 1)) + 1 : uint64_t(value);
    return bucket(std::to_string(magnitude).size(), value < 0);
}

std::string encodedReal(double value) {
    if (!std::isfinite(value)) return "?";
    const double magnitude = std::fabs(value);
    if (magnitude <= 99) return std::to_string(static_cast<int64_t>(value));
    // Below this the whole part converts exactly, and has as many digits as the magnitude.
    if (magnitude < 1e18) return bucket(std::to_string(static_cast<uint64_t>(magnitude)).size(), value < 0);
    return bucket(static_cast<size_t>(std::floor(std::log10(magnitude))) + 1, value < 0);
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

// The non-empty monitor contexts that the library's own errors among the contexts carry.
std::vector<std::string> errorMonitorContexts(const Value::Array& contexts) {
    std::vector<std::string> found;
    for (const auto& context : contexts) {
        auto error = context.objectAs<ErrorObject>();
        if (!error || error->error().domain != kZDMErrorDomain) continue;
        const std::string* text = error->error().userInfo[kZDMMonitorContextKey].asString();
        if (text && !text->empty()) found.push_back(*text);
    }
    return found;
}
}  // namespace

std::shared_ptr<ZDMMonitor> ZDMMonitor::make(int64_t libraryVersion) {
    return make(6, std::make_shared<ZDMASLLogger>(), libraryVersion);
}

std::shared_ptr<ZDMMonitor> ZDMMonitor::make(int64_t logLevel, std::shared_ptr<ZDMLogging> logger,
                                             int64_t libraryVersion,
                                             ZDMMonitoringSampledData::RandomSource random) {
    std::shared_ptr<ZDMMonitor> monitor(
        new ZDMMonitor(logLevel, std::move(logger), libraryVersion, std::move(random)));
    monitor->monitorQueue_->async([weak = monitor->weak_from_this()] {
        if (auto self = weak.lock()) {
            self->migrateMonitorDataOnMonitorQueue();
            self->loadMonitoringDataFromUserDefaultsOnMonitorQueue();
        }
    });
    if (!ZDMAEU::isFAS()) monitor->readLaunchArgumentsAndStoredFlags();
    return monitor;
}

std::shared_ptr<ZDMMonitor> ZDMMonitor::sharedMonitor() {
    return sharedInstance.get();
}

void ZDMMonitor::setSharedMonitorForTesting(std::shared_ptr<ZDMMonitor> monitor) {
    sharedInstance.set(std::move(monitor));
}

ZDMMonitor::ZDMMonitor(int64_t logLevel, std::shared_ptr<ZDMLogging> logger, int64_t libraryVersion,
                       ZDMMonitoringSampledData::RandomSource random)
    : logLevel_(logLevel),
      logger_(std::move(logger)),
      monitoringSampledData_(std::make_unique<ZDMMonitoringSampledData>(Value(), random)),
      monitorQueue_(DispatchQueue::serial("ZDMMonitorQueue")),
      libraryVersion_(libraryVersion),
      monitorUserDefaults_(std::make_shared<ZDMUserDefaults>(kSuiteName)),
      random_(std::move(random)) {}

// The negative arguments win over the positive ones and over the stored flags.
void ZDMMonitor::readLaunchArgumentsAndStoredFlags() {
    const std::vector<std::string> arguments = ProcessInfo::arguments();
    auto standard = ZDMUserDefaults::standardUserDefaults();
    deferToZUDLogger_ = contains(arguments, {"-ZUDDebugDisabled", "-ZUDDebugEnabled"}) &&
                        Runtime::classExists("ZUDConfiguration");

    if (contains(arguments,
                 {"-noZDMAnalyticsDebugEnabled", "-noVUZArezivodoDebugEnabled", "-ZUDDebugDisabled"}))
        setDebugModeEnabled(false);
    else if (standard->boolForKey(kDebugModeKey) ||
             contains(arguments,
                      {"-ZDMAnalyticsDebugEnabled", "-VUZArezivodoDebugEnabled", "-ZUDDebugEnabled"}))
        setDebugModeEnabled(true);

    if (contains(arguments, {"-ZDMAnalyticsVerboseLoggingDisabled", "-VUZArezivodoVerboseLoggingDisabled"}))
        setVerboseLoggingEnabled(false);
    else if (standard->boolForKey(kVerboseLoggingKey) ||
             contains(arguments,
                      {"-ZDMAnalyticsVerboseLoggingEnabled", "-VUZArezivodoVerboseLoggingEnabled"}))
        setVerboseLoggingEnabled(true);
}

void ZDMMonitor::setDebugModeEnabled(bool enabled) {
    auto standard = ZDMUserDefaults::standardUserDefaults();
    if (enabled && !ZDMAEU::isFAS()) {
        logLevel_ = 7;
        if (!deferToZUDLogger_) ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
        standard->setBool(true, kDebugModeKey);
        logWithLevel(7, kDebugModeOnCode, "Debug mode is on");
        debugModeEnabled_ = true;
    } else {
        logLevel_ = 6;
        if (!deferToZUDLogger_) ZIZSetLoggerLevel(kZIZLoggerLevelNotice);
        standard->removeObjectForKey(kDebugModeKey);
        logWithLevel(7, kDebugModeOffCode, "Debug mode is off");
        debugModeEnabled_ = false;
    }
}

// The announcement is a level-8 report, checked before the flag changes: switching on from off
// prints nothing, switching on again does.
void ZDMMonitor::setVerboseLoggingEnabled(bool enabled) {
    auto standard = ZDMUserDefaults::standardUserDefaults();
    if (enabled && !ZDMAEU::isFAS()) {
        logLevel_ = 8;
        if (!deferToZUDLogger_) ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
        standard->setBool(true, kVerboseLoggingKey);
        logWithLevel(8, kVerboseLoggingOnCode, "Verbose logging is on");
        verboseLoggingEnabled_ = true;
    } else {
        logLevel_ = debugModeEnabled_ ? 7 : 6;
        standard->removeObjectForKey(kVerboseLoggingKey);
        verboseLoggingEnabled_ = false;
    }
}

std::string ZDMMonitor::logTag() const {
    std::lock_guard lock(logTagMutex_);
    return logTag_;
}

void ZDMMonitor::setLogTag(std::string tag) {
    std::lock_guard lock(logTagMutex_);
    logTag_ = std::move(tag);
}

void ZDMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) {
    logWithContexts(level, messageCode, message, {});
}

void ZDMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                              const Value& context) {
    logWithContexts(level, messageCode, message, {context});
}

void ZDMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                              const Value& context, const Value& context2) {
    logWithContexts(level, messageCode, message, {context, context2});
}

void ZDMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                              const Value& context, const Value& context2, const Value& context3) {
    logWithContexts(level, messageCode, message, {context, context2, context3});
}

void ZDMMonitor::logWithContexts(int64_t level, int64_t messageCode, const std::string& message,
                                 const Value::Array& contexts) {
    const bool loggable = isLoggableLevel(level);
    const bool monitorable = isMonitorableLevel(level);
    if (!(loggable || monitorable) || !(level < 8 || verboseLoggingEnabled_)) return;
    if (loggable) {
        std::string text = stringWithLogMessage(message, level, contexts, encodeContexts_);
        monitorQueue_->async([weak = weak_from_this(), text = std::move(text), messageCode, level] {
            if (auto self = weak.lock()) self->logToConsole(text, messageCode, level);
        });
    }
    if (monitorable) {
        std::string encoded = encodedStringWithContextArray(contexts, false);
        const std::vector<std::string> monitorContexts = errorMonitorContexts(contexts);
        if (!monitorContexts.empty()) encoded += "," + joined(monitorContexts, ",");
        std::string key = monitoringDataKeyWithMessage(message, level, libraryVersion_);
        monitorQueue_->async([weak = weak_from_this(), key = std::move(key), encoded = std::move(encoded)] {
            if (auto self = weak.lock()) self->insertOrUpdateMonitoringDataWithMessage(key, encoded);
        });
    }
}

std::optional<std::string> ZDMMonitor::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
    std::optional<std::string> result;
    monitorQueue_->sync([&] {
        result = monitoringSampledData_->monitoringDataForDispatchWithSamplePeriod(samplePeriod,
                                                                                   lastSampledTimestamp);
        if (result) saveMonitoringDataToUserDefaultsOnMonitorQueue();
    });
    return result;
}

void ZDMMonitor::clearMonitoringData() {
    monitorQueue_->sync([&] {
        auto standard = ZDMUserDefaults::standardUserDefaults();
        standard->removeObjectForKey(kDebugModeKey);
        standard->removeObjectForKey(kHealthMonitorKey);
        monitorUserDefaults_->removeObjectForKey(kHealthMonitorKey);
        loadMonitoringDataFromUserDefaultsOnMonitorQueue();
    });
}

bool ZDMMonitor::isLoggableLevel(int64_t level) const {
    return ZIZIsLoggableLevel(ZDMASLLogger::ZIZLoggerLevelFromLogLevel(level)) && !isSilentLevel(level);
}

void ZDMMonitor::loadMonitoringDataFromUserDefaultsOnMonitorQueue() {
    const Value stored = monitorUserDefaults_->objectForKey(kHealthMonitorKey).value_or(Value());
    monitoringSampledData_ = std::make_unique<ZDMMonitoringSampledData>(stored, random_);
}

void ZDMMonitor::saveMonitoringDataToUserDefaultsOnMonitorQueue() {
    monitorUserDefaults_->setObject(Value(monitoringSampledData_->sampledData()), kHealthMonitorKey);
    synchronizeToDiskOnMonitorQueue();
}

// 0: copy the sample from the standard defaults into the suite; 1: remove it from the standard
// defaults; 2: done. Each state is stored before the next step, so an interrupted migration resumes.
void ZDMMonitor::migrateMonitorDataOnMonitorQueue() {
    auto standard = ZDMUserDefaults::standardUserDefaults();
    int64_t state = monitorUserDefaults_->integerForKey(kMigrationStateKey);
    if (state == 0) {
        if (!monitorUserDefaults_->objectForKey(kHealthMonitorKey)) {
            if (auto old = standard->objectForKey(kHealthMonitorKey))
                monitorUserDefaults_->setObject(*old, kHealthMonitorKey);
        }
        monitorUserDefaults_->setInteger(1, kMigrationStateKey);
        synchronizeToDiskOnMonitorQueue();
        state = 1;
    }
    if (state == 1) {
        standard->removeObjectForKey(kHealthMonitorKey);
        standard->synchronize();
        monitorUserDefaults_->setInteger(2, kMigrationStateKey);
        synchronizeToDiskOnMonitorQueue();
    }
}

void ZDMMonitor::synchronizeToDiskOnMonitorQueue() {
    monitorUserDefaults_->synchronize();
}

void ZDMMonitor::insertOrUpdateMonitoringDataWithMessage(const std::string& key,
                                                         const std::string& encodedContext) {
    monitoringSampledData_->insertOrUpdateSampledDataWithKey(key, encodedContext);
    saveMonitoringDataToUserDefaultsOnMonitorQueue();
}

void ZDMMonitor::logToConsole(const std::string& text, int64_t messageCode, int64_t level) {
    logger_->logMessage(text, logTag(), messageCode, level);
}

std::optional<std::string> ZDMMonitor::logLevelDescriptionFromLogLevel(int64_t level) {
    if (level >= 0 && level <= 2) return "ERROR";
    if (level >= 3 && level <= 5) return "WARNING";
    if (level == 6) return "NOTICE";
    if (level == 7) return "DEBUG";
    return std::nullopt;
}

bool ZDMMonitor::isSilentLevel(int64_t level) {
    return level == 2 || level == 5 || level < 0 || level > 8;
}

bool ZDMMonitor::isMonitorableLevel(int64_t level) {
    return level == 1 || level == 2 || level == 4 || level == 5 || level < 0 || level > 8;
}

std::string ZDMMonitor::encodedStringWithContextArray(const Value::Array& contexts, bool insertSpaces) {
    std::vector<std::string> encoded;
    encoded.reserve(contexts.size());
    for (const auto& context : contexts) encoded.push_back(encodedStringWithContextObject(context));
    return joined(encoded, insertSpaces ? ", " : ",");
}

std::string ZDMMonitor::stringWithLogMessage(const std::string& message, int64_t /*level*/,
                                             const Value::Array& contexts, bool encodeContexts) {
    const std::string text = message.empty() ? "(Message was empty)" : message;
    if (contexts.empty()) return text;
    if (encodeContexts) return text + ": " + encodedStringWithContextArray(contexts, true);
    std::vector<std::string> rendered;
    rendered.reserve(contexts.size());
    for (const auto& context : contexts) {
        auto exception = context.objectAs<ExceptionRecord>();
        if (exception)
            rendered.push_back(*lastZDMSymbolFromException(exception.get()) + ": " +
                               exception->description());
        else
            rendered.push_back(ZDMDescription(context));
    }
    return text + ": " + joined(rendered, ", ");
}

std::string ZDMMonitor::encodedStringWithContextObject(const Value& context) {
    switch (context.type()) {
        case Value::Type::Null:
            return "";
        case Value::Type::String:
            return "-";
        case Value::Type::Bool:
        case Value::Type::Integer:
            return encodedInteger(*context.asInteger());
        case Value::Type::Real:
            return encodedReal(*context.asReal());
        case Value::Type::Object: {
            if (auto exception = context.objectAs<ExceptionRecord>()) {
                auto symbol = lastZDMSymbolFromException(exception.get());
                return symbol && !symbol->empty() ? *symbol : "-";
            }
            if (auto error = context.objectAs<ErrorObject>())
                return error->error().domain.empty() ? "-" : error->error().domain;
            return "?";
        }
        case Value::Type::Data:
        case Value::Type::Date:
        case Value::Type::Array:
        case Value::Type::Dictionary:
            return "?";
    }
    return "?";
}

std::optional<std::string> ZDMMonitor::lastZDMSymbolFromException(const ExceptionRecord* exception) {
    if (!exception) return std::nullopt;
    const auto& symbols = exception->callStackSymbols();
    if (symbols.size() <= 2) return exception->name();
    for (size_t i = 2; i < symbols.size(); ++i) {
        const std::vector<std::string> tokens = whitespaceTokens(symbols[i]);
        if (tokens.size() <= 4) continue;
        std::string symbol = tokens[4] == "+" ? tokens[3] : tokens[3] + " " + tokens[4];
        if (containsZDM(symbol)) return symbol;
    }
    return exception->name();
}

std::string ZDMMonitor::monitoringDataKeyWithMessage(const std::string& message, int64_t level,
                                                     int64_t libraryVersion) {
    const char letter = level >= 0 && level <= 2 ? 'E' : level >= 3 && level <= 5 ? 'W' : '?';
    return std::string("1") + letter + "_" + std::to_string(libraryVersion) + ":" + message;
}
