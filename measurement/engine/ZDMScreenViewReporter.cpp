#include "measurement/engine/ZDMScreenViewReporter.h"

#include "measurement/engine/ZDMAdExposureReporter.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMNotificationNames.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/foundation/ZDMSanitizer.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"

using zdm_engine::log;

namespace {
constinit SharedInstance<ZDMScreenViewReporter> sharedReporter(&ZDMScreenViewReporter::make);

Value int64Value(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

Value stringValue(const std::string& text) {
    return Value(ZDMValue::initWithString(Value(text)));
}

bool isValidScreenText(const std::optional<std::string>& text, uint64_t* failureCode = nullptr) {
    return text && ZDMDataTypeValidator::isValidScreenParameterValue(Value(*text), failureCode);
}

// The running engine, once it has made its components.
std::shared_ptr<ZDMMeasurement> initializedEngine() {
    const auto engine = ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
    return engine && engine->didInitializeComponents() ? engine : nullptr;
}

std::shared_ptr<ZDMSessionReporter> engineSessionReporter() {
    const auto engine = initializedEngine();
    return engine ? engine->sessionReporter() : nullptr;
}

// In efficient engagement mode, the engagement the previous screen had that no "_e" reports; 0
// otherwise.
int64_t freerideEngagementMillis() {
    const auto engine = initializedEngine();
    if (!engine) return 0;
    const auto remoteConfig = engine->remoteConfigInstance();
    const auto sessionReporter = engine->sessionReporter();
    if (!remoteConfig || !remoteConfig->efficientEngagementReportingEnabled() || !sessionReporter) return 0;
    return sessionReporter->cutFreerideEngagementTimeMillis();
}

// A screen value given by the app: absent, or whatever text it holds.
std::optional<std::string> screenText(const Dictionary& parameters, const char* key) {
    const Value* value = parameters.find(key);
    if (!value) return std::nullopt;
    if (const std::string* text = value->asString()) return *text;
    return std::nullopt;
}
}  // namespace

std::shared_ptr<ZDMScreen> ZDMScreen::initWithName(std::optional<std::string> name,
                                                   std::optional<std::string> className, int64_t instanceID) {
    return std::make_shared<ZDMScreen>(std::move(name), std::move(className), instanceID);
}

std::shared_ptr<ZDMScreen> ZDMScreen::copy() const {
    return initWithName(name_, className_, instanceID_);
}

Dictionary ZDMScreen::parameters() const {
    Dictionary parameters{{"_si", int64Value(instanceID_)}};
    if (className_ && !className_->empty()) parameters.set("_sc", stringValue(*className_));
    if (name_ && !name_->empty()) parameters.set("_sn", stringValue(*name_));
    return parameters;
}

std::shared_ptr<ZDMScreenViewReporter> ZDMScreenViewReporter::sharedInstance() {
    return sharedReporter.get();
}

std::shared_ptr<ZDMScreenViewReporter> ZDMScreenViewReporter::make() {
    auto reporter = std::make_shared<ZDMScreenViewReporter>();
    reporter->subscribe();
    return reporter;
}

ZDMScreenViewReporter::ZDMScreenViewReporter()
    : queue_(DispatchQueue::serial(kQueueLabel)), currentScreenInstanceID_(ZDMNumericUtil::randomInt64()) {}

void ZDMScreenViewReporter::subscribe() {
    auto& center = NotificationCenter::defaultCenter();
    const std::weak_ptr<ZDMScreenViewReporter> weak = weak_from_this();
    const auto forward = [weak](void (ZDMScreenViewReporter::*handler)(const Notification&)) {
        return [weak, handler](const Notification& notification) {
            if (const auto self = weak.lock()) ((*self).*handler)(notification);
        };
    };
    windowDidResignKey_ = center.addObserver(ZDMWindowDidResignKeyNotificationName(),
                                             forward(&ZDMScreenViewReporter::handleWindowDidResign));
    applicationDidBecomeActive_ =
        center.addObserver(ZDMAppDidBecomeActiveNotificationName(),
                           forward(&ZDMScreenViewReporter::handleApplicationDidBecomeActive));
    applicationWillResignActive_ =
        center.addObserver(ZDMAppWillResignActiveNotificationName(),
                           forward(&ZDMScreenViewReporter::handleApplicationWillResignActive));
}

void ZDMScreenViewReporter::trackScreenWithParameters(const Dictionary& parameters, double timestamp) {
    if (isInactive()) return log(3, 31026, "Cannot log screen view event when the app is not active");
    const auto name = screenText(parameters, "screen_name");
    const auto className = screenText(parameters, "screen_class");
    const auto monitor = ZDMMeasurement::monitor();
    // A value that is there but is no text fails the test as it stands.
    if (const Value* given = parameters.find("screen_name");
        given && !ZDMDataTypeValidator::isValidScreenParameterValue(*given))
        return monitor->logWithLevel(3, 31027, "Received invalid name for screen", *given);
    if (const Value* given = parameters.find("screen_class");
        given && !ZDMDataTypeValidator::isValidScreenParameterValue(*given))
        return monitor->logWithLevel(3, 31028, "Received invalid class for screen", *given);

    const auto screen = ZDMScreen::initWithName(name, className, incrementScreenInstanceID());
    screen->setIsManuallyTracked(true);
    screen->setEventTimestamp(timestamp);
    monitor->logWithLevel(7, 31029, "Logging screen view with screen name and screen class",
                          Value(name.value_or("")), Value(className.value_or("")));
    std::shared_ptr<const ZDMScreen> previous;
    queue_->sync([&] {
        previous = currentScreen_;
        currentScreen_ = screen;
    });

    std::weak_ptr<ZDMScreenViewReporter> weak = weak_from_this();
    queue_->async([weak, previous, screen = std::shared_ptr<const ZDMScreen>(screen), parameters] {
        const auto self = weak.lock();
        if (!self) return;
        self->postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        auto rest = ZDMSanitizeEventParameters(parameters, "screen_view", true, false).value_or(Dictionary{});
        rest.erase("screen_name");
        rest.erase("screen_class");
        self->logViewScreenEventWithPreviousScreen(previous, screen, rest);
    });
}

void ZDMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(
    const std::shared_ptr<const ZDMScreen>& previousScreen,
    const std::shared_ptr<const ZDMScreen>& newScreen) {
    if (!isAppActive_ || !allowPostScreenDidChangeNotification_) return;
    if (previousScreen)
        if (const auto sessionReporter = engineSessionReporter())
            sessionReporter->handleScreenDidChangeFromScreen(previousScreen, newScreen);
    adExposureHandleScreenDidChange(previousScreen, newScreen);
}

void ZDMScreenViewReporter::logViewScreenEventWithPreviousScreen(
    const std::shared_ptr<const ZDMScreen>& previousScreen, const std::shared_ptr<const ZDMScreen>& newScreen,
    const Dictionary& parameters) {
    if (!newScreen || !allowScreenViewEvent_) return;
    if (isInactive()) return log(7, 31013, "Screen view event not logged. App is not active.");

    Dictionary event = parameters;
    event.set("_si", int64Value(newScreen->instanceID()));
    const auto& className = newScreen->className();
    uint64_t failureCode = 0;
    if (!className || className->empty()) log(3, 31014, "Screen class name is empty");
    if (className && !className->empty() && !isValidScreenText(className, &failureCode)) {
        ZDMMeasurement::monitor()->logWithLevel(3, 31015, "Screen class name is invalid. Error code",
                                                Value(int64_t(failureCode)));
    } else {
        if (className && !className->empty()) event.set("_sc", stringValue(*className));
        if (isValidScreenText(newScreen->name())) event.set("_sn", stringValue(*newScreen->name()));
    }

    if (previousScreen) {
        event.set("_pi", int64Value(previousScreen->instanceID()));
        if (isValidScreenText(previousScreen->className()))
            event.set("_pc", stringValue(*previousScreen->className()));
        if (isValidScreenText(previousScreen->name())) event.set("_pn", stringValue(*previousScreen->name()));
        if (const int64_t millis = freerideEngagementMillis(); millis > 0)
            event.set("_et", int64Value(millis));
    }
    event.set("_mst", int64Value(1));

    if (!ZDMParametersContainScreenParameters(event))
        return log(1, 31012, "Screen view event not logged. Screen parameters were empty");
    queue_->sync([&] { previousScreen_ = newScreen; });
    if (newScreen->isManuallyTracked())
        ZDMAnalytics::logInternalEventWithOrigin("app", "_vs", newScreen->eventTimestamp(), event);
    else
        ZDMAnalytics::logInternalEventWithOrigin("auto", "_vs", event);
}

Dictionary ZDMScreenViewReporter::screenParameters() const {
    if (isInactive()) return {};
    Dictionary parameters;
    queue_->sync([&] {
        if (currentScreen_ && allowScreenParameters_) parameters = currentScreen_->parameters();
    });
    return parameters;
}

void ZDMScreenViewReporter::getScreenName(std::optional<std::string>* screenName,
                                          std::optional<std::string>* screenClass) const {
    queue_->sync([&] {
        if (screenName) *screenName = currentScreen_ ? currentScreen_->name() : std::nullopt;
        if (screenClass) *screenClass = currentScreen_ ? currentScreen_->className() : std::nullopt;
    });
}

void ZDMScreenViewReporter::setScreenName(const std::optional<std::string>& /*screenName*/,
                                          const std::optional<std::string>& /*screenClass*/) {
    log(3, 31000, "Ignoring call to setScreenName:screenClass:. Screen reporting is disabled.");
}

int64_t ZDMScreenViewReporter::incrementScreenInstanceID() {
    // Unsigned, so that a random start near the top wraps instead of overflowing.
    auto next = static_cast<uint64_t>(currentScreenInstanceID_.fetch_add(1, std::memory_order_relaxed)) + 1;
    return static_cast<int64_t>(next);
}

void ZDMScreenViewReporter::handleApplicationDidBecomeActive(const Notification&) {
    isAppActive_ = true;
    appHasBeenInitialized_ = true;
    if (const auto sessionReporter = engineSessionReporter()) sessionReporter->handleAppDidBecomeActive();
    adExposureHandleAppDidBecomeActive();
}

void ZDMScreenViewReporter::handleApplicationWillResignActive(const Notification&) {
    if (const auto sessionReporter = engineSessionReporter())
        sessionReporter->handleAppWillResignActiveWithScreen(nullptr);
    adExposureHandleAppWillResignActive();
}

void ZDMScreenViewReporter::handleApplicationDidEnterBackground(const Notification&) {
    isAppActive_ = false;
}

std::shared_ptr<const ZDMScreen> ZDMScreenViewReporter::currentScreen() const {
    std::shared_ptr<const ZDMScreen> screen;
    queue_->sync([&] { screen = currentScreen_; });
    return screen;
}

std::shared_ptr<const ZDMScreen> ZDMScreenViewReporter::previousScreen() const {
    std::shared_ptr<const ZDMScreen> screen;
    queue_->sync([&] { screen = previousScreen_; });
    return screen;
}

bool ZDMIsAppActive() {
    return ZDMScreenViewReporter::sharedInstance()->isAppActive();
}

void ZDMScreenViewReporter::adExposureHandleAppDidBecomeActive() {
    ZDMAdExposureReporter::sharedInstance()->handleAppDidBecomeActive();
}

void ZDMScreenViewReporter::adExposureHandleAppWillResignActive() {
    ZDMAdExposureReporter::sharedInstance()->handleAppWillResignActiveWithScreen(std::nullopt);
}

void ZDMScreenViewReporter::adExposureHandleScreenDidChange(
    const std::shared_ptr<const ZDMScreen>& previousScreen,
    const std::shared_ptr<const ZDMScreen>& newScreen) {
    const auto parameters = [](const std::shared_ptr<const ZDMScreen>& screen) {
        return screen ? std::optional<Dictionary>(screen->parameters()) : std::nullopt;
    };
    ZDMAdExposureReporter::sharedInstance()->handleScreenDidChangeFromScreen(parameters(previousScreen),
                                                                             parameters(newScreen));
}
