#include "measurement/engine/ZDMConsentSettingsUtil.h"

#include <algorithm>
#include <cctype>

#include "measurement/foundation/ZDMConsentQueries.h"
#include "measurement/foundation/ZDMDescription.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstance.h"

namespace {
struct ConsentState {
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("ZDMConsentSettingsUtilQueue");
    // On the queue only.
    std::optional<Dictionary> settings;
    int64_t source = ZDMConsentSettingsUtil::kSourceNone;
};
constinit SharedInstance<ConsentState> sharedState;

template <class Read>
auto read(Read read) {
    const auto state = sharedState.get();
    decltype(read(*state)) result{};
    state->queue->sync([&] { result = read(*state); });
    return result;
}

// Queued, not awaited: a later read from any thread is queued behind it and sees it.
template <class Write>
void write(Write write) {
    const auto state = sharedState.get();
    state->queue->async([state, write = std::move(write)] { write(*state); });
}

bool equalsIgnoringCase(const Value& value, std::string_view expected) {
    const std::string* text = value.asString();
    return text && std::ranges::equal(*text, expected, [](unsigned char a, unsigned char b) {
               return std::tolower(a) == std::tolower(b);
           });
}

bool isDenied(const std::optional<Dictionary>& settings, const char* key) {
    return settings && equalsIgnoringCase((*settings)[key], ZDMConsentSettingsUtil::kDenied);
}

char signalOf(const std::optional<Dictionary>& settings, const char* key) {
    if (!settings) return '-';
    const Value& value = (*settings)[key];
    if (equalsIgnoringCase(value, ZDMConsentSettingsUtil::kDenied)) return '0';
    if (equalsIgnoringCase(value, ZDMConsentSettingsUtil::kGranted)) return '1';
    return '-';
}

std::string describedValue(const std::optional<Dictionary>& settings, const char* key) {
    const Value* value = settings ? settings->find(key) : nullptr;
    return value && !value->isNull() ? ZDMDescription(*value) : ZDMConsentSettingsUtil::kGranted;
}

// The identity below the engine asks these questions through its own seam.
const bool consentQueriesInstalled = [] {
    ZDMInstallConsentQueries(&ZDMConsentSettingsUtil::isAdStorageDenied,
                             &ZDMConsentSettingsUtil::isAnalyticsStorageDenied);
    return true;
}();
}  // namespace

std::optional<Dictionary> ZDMConsentSettingsUtil::consentSettings() {
    return read([](const ConsentState& state) { return state.settings; });
}

int64_t ZDMConsentSettingsUtil::consentSource() {
    return read([](const ConsentState& state) { return state.source; });
}

void ZDMConsentSettingsUtil::setConsentSettings(const std::optional<Dictionary>& settings) {
    write([settings](ConsentState& state) {
        state.settings = settings;
        if (!settings) state.source = kSourceNone;
    });
}

void ZDMConsentSettingsUtil::setConsentSource(int64_t source) {
    write([source](ConsentState& state) { state.source = source; });
}

void ZDMConsentSettingsUtil::updateSettings(const Dictionary& settings) {
    write([settings](ConsentState& state) {
        Dictionary merged = state.settings.value_or(Dictionary());
        for (const auto& [key, value] : settings) merged.set(key, value);
        state.settings = std::move(merged);
    });
}

bool ZDMConsentSettingsUtil::isConsentSourceHigherPriority(int64_t source) {
    return consentSource() >= source;
}

bool ZDMConsentSettingsUtil::isAdStorageDenied() {
    return isDenied(consentSettings(), kAdStorage);
}

bool ZDMConsentSettingsUtil::isAnalyticsStorageDenied() {
    return isDenied(consentSettings(), kAnalyticsStorage);
}

Dictionary ZDMConsentSettingsUtil::consentSettingsFromDictionary(const Dictionary& dictionary) {
    Dictionary settings;
    for (const char* key : {kAdStorage, kAnalyticsStorage})
        if (const Value* value = dictionary.find(key)) settings.set(key, *value);
    return settings;
}

Dictionary ZDMConsentSettingsUtil::consentSettingsFromPlist() {
    Dictionary settings;
    const auto bundle = Bundle::mainBundle();
    if (!bundle) return settings;
    const std::pair<const char*, const char*> defaults[] = {
        {kDefaultAllowAdStorageKey, kAdStorage}, {kDefaultAllowAnalyticsStorageKey, kAnalyticsStorage}};
    for (const auto& [plistKey, key] : defaults) {
        const auto value = bundle->objectForInfoDictionaryKey(plistKey);
        if (value && value->isNumber()) settings.set(key, Value(value->boolOr(false) ? kGranted : kDenied));
    }
    return settings;
}

bool ZDMConsentSettingsUtil::didWithdrawPreviousConsent(const Value& previous) {
    if (!previous.isNull() && !previous.isDictionary()) return false;
    const auto current = consentSettings();
    if (!current) return false;
    const std::optional<Dictionary> before =
        previous.isDictionary() ? std::optional<Dictionary>(*previous.asDictionary()) : std::nullopt;
    if (before == current) return false;
    return std::ranges::any_of(
        std::initializer_list<const char*>{kAdStorage, kAnalyticsStorage},
        [&](const char* key) { return !isDenied(before, key) && isDenied(current, key); });
}

std::string ZDMConsentSettingsUtil::consentSignals() {
    const auto settings = consentSettings();
    return std::string("G1") + signalOf(settings, kAdStorage) + signalOf(settings, kAnalyticsStorage);
}

std::string ZDMConsentSettingsUtil::description() {
    const auto settings = consentSettings();
    return std::string(kAdStorage) + " is " + describedValue(settings, kAdStorage) + ". " +
           kAnalyticsStorage + " is " + describedValue(settings, kAnalyticsStorage) + ".";
}

void ZDMConsentSettingsUtil::resetForTesting() {
    sharedState.reset();
}
