#pragma once
// The measurement engine: one shared instance per process that owns the database, the identity,
// the persisted and remote configuration, the audience evaluator, the session reporter, the network
// client, the upload alarm and the serial worker queue. It is made disabled or enabled by what the
// app and the persisted state say; its components are made once, on the worker queue, at the first
// successful enable. Everything but the class operations, the accessors and the three scheduling
// calls (setEnabled, setSessionTimeoutInterval, reachabilityDidChange) runs on the worker queue.
//
// Tests make an engine of their own with initWithDatabaseName and their own scheduler and
// persisted configuration; the shared instance is only what initializeSharedInstanceWithAppID made.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/zed/ZEDUdovade.h"

class ZDMAlarm;
class ZDMAudienceTimestampsCache;
class ZDMDailyCounts;
class ZDMEvent;
class ZDMPBMeasurementBundle;
class ZDMPrivateSetMembershipClient;
class ZDMPrivateSetMembershipClientClass;
class ZDMUserAttribute;
class ZDMEngineAudience;
class ZDMDatabase;
class ZDMIdentity;
class ZDMPBEvent;
class ZDMPersistedConfig;
class ZDMRawEventData;
class ZDMScheduler;
class ZDMSessionReporter;
class ZDMSearchAdReporter;
class NSUserActivity;
class URL;
struct Notification;
class SKPaymentTransaction;

// Told of nothing yet; held weakly.
class ZDMMeasurementDelegate {
  public:
    virtual ~ZDMMeasurementDelegate() = default;
};

class ZDMMeasurement : public ZEDUdovadeLoggerDelegate,
                       public ZEDUdovadeReachabilityDelegate,
                       public std::enable_shared_from_this<ZDMMeasurement> {
  public:
    using ExperimentManager = ZDMRemoteConfigExperimentManager;
    using ExperimentManagerSource = std::function<std::shared_ptr<ExperimentManager>()>;

    static constexpr const char* kDatabaseName = "zizoda-measurement.sql";
    // The version reported when no analytics interface names its own.
    static constexpr const char* kDefaultVersion = "101300000";
    static constexpr const char* kAlarmName = "Measurement timer";

    // Acts on its first call only, and marks initialisation as attempted even for an empty app ID,
    // so that a later call never retries. Makes the shared instance for a non-empty ID.
    static void initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                  bool isAnalyticsCollectionDeactivated,
                                                  std::vector<std::string> safelistedEvents);
    // Internal callers ask this first: it never warns.
    static bool hasSharedInstance();
    // Before initialisation, while the analytics interface class is present, each call warns that
    // the app has not been configured (I-ACS023147).
    static std::shared_ptr<ZDMMeasurement> sharedInstance();
    // Back to no instance and no attempt (tests).
    static void resetSharedInstance();
    // The experiment manager the shared instance is made with; the experiment layer installs it.
    static void setExperimentManagerSource(ExperimentManagerSource source);
    // Told of the shared instance once it is made, before anything can log to it; the layers above
    // connect to it here.
    using SharedInstanceObserver = std::function<void(const std::shared_ptr<ZDMMeasurement>&)>;
    static void setSharedInstanceObserver(SharedInstanceObserver observer);

    // The process-wide monitor, made once on first use with the library's version number.
    static std::shared_ptr<ZDMMonitor> monitor();
    // The engine's configuration when it has one, else the default instance (never nullptr).
    static std::shared_ptr<ZDMRemoteConfig> remoteConfig();
    // Installs the configuration remoteConfig() answers until reset (nullptr removes it); tests
    // stand in for a running engine with it.
    static void setRemoteConfigForTesting(std::shared_ptr<ZDMRemoteConfig> remoteConfig);

    // nullptr for an empty app ID (23170). Makes the network client, the scheduler with the worker
    // queue and the alarm, then the engine over the shared persisted configuration.
    static std::shared_ptr<ZDMMeasurement> initWithAppID(
        const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
        std::vector<std::string> safelistedEvents, std::shared_ptr<ExperimentManager> experimentManager);
    // Every collaborator passed in. Takes its init timestamp from the stored load timestamp, else
    // from the facade's (and stores that), then asks for collection as shouldEnableMeasurement says.
    static std::shared_ptr<ZDMMeasurement> initWithDatabaseName(
        std::string databaseName, std::shared_ptr<ZDMPersistedConfig> persistedConfig,
        std::shared_ptr<ZEDUdovade> network, std::shared_ptr<ZDMScheduler> scheduler,
        std::shared_ptr<ZDMAlarm> alarm, std::string appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
        std::shared_ptr<ExperimentManager> experimentManager);
    ~ZDMMeasurement();
    ZDMMeasurement(const ZDMMeasurement&) = delete;
    ZDMMeasurement& operator=(const ZDMMeasurement&) = delete;

    // NO when deactivated; else by the persisted enable state: 1 YES, 2 NO, otherwise the app's switch.
    bool shouldEnableMeasurement();
    // Any thread: schedules setEnabledOnWorkerQueue; nothing happens once the engine is gone.
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    // Makes the components on the first call that succeeds; NO when making them failed.
    bool startMeasurementOnWorkerQueue();
    bool didInitializeComponents() const { return didInitializeComponents_.load(); }
    void setDidInitializeComponents(bool initialized) { didInitializeComponents_.exchange(initialized); }

    // Whether the app's data must be wiped because its app IDs changed (or an earlier wipe did not
    // finish). Empty strings count as absent.
    bool shouldWipeDataWithAppID(const std::optional<std::string>& appID,
                                 const std::optional<std::string>& appIDFromZOR,
                                 const std::optional<std::string>& appIDFromAdSdk,
                                 const std::optional<std::string>& persistedAppIDFromZOR,
                                 const std::optional<std::string>& persistedAppIDFromAdSdk);
    // Chooses the consent in force for this run among the Info.plist defaults, the third party's and
    // the settings kept from the last start, by source priority.
    void setProspectiveConsentSettings();
    void updatePersistedAppIDFromZORAndAdSdk();
    // Deletes the app's measurement data and starts the components over; NO when the database could
    // not be reset. Before the database is open, its file and its journals are deleted instead.
    bool wipeoutAnalyticsDataAndResetComponents();
    void resetPSMCounts();

    // The next whole hour after `millis` (an exact hour moves a whole hour on).
    static int64_t timestampMillisRoundedUpToNextHour(int64_t millis);
    // The file system's facts about the item; nullopt for an empty path or when they cannot be read
    // (23022).
    std::optional<Dictionary> fileAttributesForPath(const std::string& path);
    // Any thread: hands the app's session timeout to the session reporter on the worker queue.
    void setSessionTimeoutInterval(double interval);
    // The network client's reachability changed: the upload schedule is reconsidered.
    void reachabilityDidChange() override;

    // The network client's log lines go to the monitor, its levels mapped to the monitor's; any
    // thread.
    static int64_t monitorLevelForNetworkLevel(int networkLevel);
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                 const std::string& message) override;
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode, const std::string& message,
                                 const Value& context) override;
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode, const std::string& message,
                                 const Value::Array& contexts) override;

    // Caller-side operations (any thread). Checks that need no state are reported at once; the rest
    // runs on the worker queue. Answers arrive on the background global queue, never on the caller's
    // thread nor on the worker queue. Bodies: ZDMMeasurementEntryPoints.cpp.
    // The user properties one non-public origin may hold.
    static constexpr int64_t kMaxUserPropertiesPerOrigin = 25;
    using EventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                const Dictionary& parameters, double timestamp)>;
    void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                            const std::optional<Dictionary>& parameters, double timestamp, bool enabled,
                            bool ignoreEnabled, bool ignoreInterceptor, EventInterceptor interceptor,
                            const Dictionary& addedScreenParameters);
    void logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                         const std::string& name, const std::optional<Dictionary>& parameters,
                                         double timestamp, bool enabled, bool ignoreEnabled,
                                         bool ignoreInterceptor, const EventInterceptor& interceptor,
                                         const Dictionary& addedScreenParameters);
    void logEvent(const std::shared_ptr<ZDMEvent>& event);
    // nullopt clears the stored defaults.
    void setDefaultEventParameters(const std::optional<Dictionary>& parameters);
    void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<Dictionary>& parameters);
    void setUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute);
    void removeUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute);
    void userAttributeWithName(const std::string& name,
                               std::function<void(std::shared_ptr<ZDMUserAttribute>)> callback);
    void userPropertiesIncludingInternal(bool includeInternal,
                                         std::function<void(const Dictionary&)> callback);
    void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int64_t)> callback);
    // Worker queue: handles a copy of the event, then announces it to the facade's listeners.
    void logEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event, bool notifyEventListeners);
    Dictionary parametersWithAddedDefaultEventParameters(const Dictionary& parameters);

    // -- Start-up reports and lifetime value (ZDMMeasurementReports.cpp) --

    // Worker queue. The reports of a start: the first open (its user properties, "_f", the first
    // session and "_e"), or only a session start once the first open is stored; app and OS updates;
    // "_npa" as the app's ad-personalization choice says; the session number of an install from
    // before it was kept.
    void reportFirstOpenOnWorkerQueue();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void backfillSessionNumber();
    // Whether the running application version is the one the application was first installed with.
    bool isVersionSameAsOriginalVersion();
    // Any thread. The app's choice on ad personalization negated: the stored one, else the
    // Info.plist default; nullopt when neither says.
    std::optional<bool> shouldDisableAdPersonalization();

    // -- Upload scheduling, upload and the configuration fetch (ZDMMeasurementUpload.cpp) --

    // Worker queue, all of it. At most one request (upload or fetch) is in flight; its completion
    // comes back on the worker queue and always ends in a new schedule or a new attempt.
    using QueuedBundles = std::vector<std::pair<std::shared_ptr<ZDMPBMeasurementBundle>, int64_t>>;
    // (Re)arms the alarm for the next upload, keeps an earlier one, or cancels it when uploads are
    // suspended, there is nothing to send, the retries are spent or there is no network.
    void updateSchedule();
    // Seconds since 1970 of the next upload; 0 for none.
    double nextUploadingTime();
    bool shouldUseBackgroundSession() const { return false; }
    void uploadDataOrRegisterAlarm();
    // One attempt: bundles what is pending, posts one batch of queued bundles, or fetches the
    // configuration when it has expired and nothing is queued.
    void uploadData();
    // Any thread: uploadData as a worker-queue block of its own, engine held weakly.
    void scheduleUploadData();
    bool isNetworkReadyForRequest();
    // The longest prefix of `bundlesToUpload` that shares the app ID and the device ID; at most one
    // of the two device IDs may be given.
    QueuedBundles filteredBundlesWithCompatibleAppID(const std::string& appID,
                                                     const std::string& resettableDeviceID,
                                                     const std::string& vendorDeviceID,
                                                     const QueuedBundles& bundlesToUpload);
    // NO for an empty list (the upload is cancelled); a second list while one is in flight is
    // refused and the first one kept.
    bool setUploadInProgressWithBundleIDs(const Value::Array& bundleIDs);
    void incrementRetryCounter();
    void networkUploadCompletionHandlerWithResponse(const HTTPURLResponse& response,
                                                    const std::optional<Error>& error);
    // Nothing runs in the background here: pending persisted values go to disk.
    void terminateBackgroundTask();
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const HTTPURLResponse& response,
                                                   const std::optional<Data>& data,
                                                   const std::optional<Error>& error);
    // A fetched body applied in one transaction; a refused one leaves the configuration in force
    // and the stored one as they were.
    void applyRemoteConfigData(ZDMDatabase& database, const Data& data);
    // Inside the caller's transaction: NO leaves the store as it was.
    bool updateRemoteConfigWithData(const Data& data);
    // NO also when the store cannot tell.
    bool hasDataToUpload();
    bool removeBundlesFromDatabaseWithIDs(const Value::Array& bundleIDs);
    // The queue rows of the upload in flight; nullopt when none.
    const std::optional<Value::Array>& uploadingBundleIDs() const { return uploadingBundleIDs_; }

    // -- Reset, session ID, user data and purchases (ZDMMeasurementServices.cpp) --
    // Starts the user over under a new app instance ID: the caller waits while the worker queue
    // wipes the data, then a new first open is reported when enabled. An empty ID (nullopt or "")
    // is refused (23167) unless analytics storage is denied.
    bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID);
    // Errors carry code 13; the completion runs on the worker queue, even once the engine is gone.
    using SessionIDCompletion = std::function<void(int64_t sessionID, const std::optional<Error>& error)>;
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // "email_address" and "phone_number", for on-device conversion measurement.
    void setUserData(const Dictionary& userData);
    // Keeps the purchased transactions not reported before, in order; the callback runs on the global
    // queue. Without a fingerprint a transaction is kept unchecked (23139).
    using PurchaseTransactions = std::vector<std::shared_ptr<const SKPaymentTransaction>>;
    void filterPurchaseTransactions(const PurchaseTransactions& transactions,
                                    std::function<void(const PurchaseTransactions&)> callback);
    // What tells a purchase from a repeat; the purchase layer installs it, and without it no
    // transaction has one.
    using PurchaseFingerprint = std::function<std::optional<std::string>(const SKPaymentTransaction&)>;
    static void setPurchaseFingerprint(PurchaseFingerprint fingerprint);
    // The Info.plist switch "ZIZODA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"; YES without it.
    bool shouldAllowAdNetworkRegistration();
    // Worker queue. When "_fot" was set, else the earliest time any user property was set; 0 when
    // unknown.
    double firstOpenTimestamp();

    // -- Campaigns: deep links and search ads (ZDMMeasurementCampaigns.cpp) --

    // The web page of a browsing activity; nullptr for anything else (23003, 23005, 23006).
    static std::shared_ptr<const URL> deepLinkFromUserActivity(
        const std::shared_ptr<const NSUserActivity>& userActivity);
    // Main thread, at launch: keeps the link that launched the app until the engine reports it. An
    // activity's link wins over a URL.
    static void handleStoredURLAfterAppLaunchWithNotification(const Notification& notification);
    // A link received while the app runs, from the facade's queue; refused on the worker queue
    // itself (23163), where the caller would wait on its own queue.
    void handleNonFirstOpenEventURL(const std::shared_ptr<const URL>& url, double eventTimestampInSeconds);
    // Any thread: hands a link with a non-empty text to the worker queue.
    void handleOpenURL(const std::shared_ptr<const URL>& url, std::optional<int64_t> clickTimestampInMs,
                       double eventTimestampInSeconds);
    void handleDeepLink(const std::shared_ptr<const URL>& url, std::optional<int64_t> clickTimestampInMs,
                        double eventTimestampInSeconds);
    void handleDebugModeWithURL(const std::shared_ptr<const URL>& /*url*/) {}
    // Worker queue. Reports the link stored at launch, once: "(not set)" when it is older than the
    // attribution cache time, and "_cc" names the hour it was stored in.
    void reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> clickTimestampInMs);
    // Worker queue. The campaign event "_cmp" ("_cmpx" for an expired stored link) from the link's
    // query and the extras; "zbraid" also becomes the user property "_zbraid".
    void handleOpenURLOnWorkerQueue(const std::shared_ptr<const URL>& url,
                                    std::optional<int64_t> clickTimestampInMs, double eventTimestampInSeconds,
                                    const std::optional<Dictionary>& extraParameters);
    // Whether a required campaign key has a non-empty text.
    bool isValidCampaignURLParamDictionary(const Dictionary& parameters);
    // Click identifiers are kept unless the user may be tracked by nothing but them.
    bool shouldAllowClickID();
    // Worker queue. The deferred deep link is asked for at most once per start, while it is enabled
    // (remote configuration and Info.plist), not yet retrieved, within its retries and the tracking
    // state is known and off.
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    // The answer's object when it names a valid "deeplink"; nullopt otherwise (23201, 23202).
    std::optional<Dictionary> deepLinkInfoFromResponseData(const std::optional<Data>& data);
    // Offers the link to the app on the main queue; the offer is declined here (23203, 23204).
    void handleDeferredDeepLinkInfo(const Dictionary& info);
    // Main thread. Always NO: no application here takes a deferred link.
    bool sendDeepLinkURLToAppDelegateOnMainThread(const std::shared_ptr<const URL>& url,
                                                  const std::optional<Dictionary>& extraInfo);
    std::shared_ptr<ZDMSearchAdReporter> searchAdReporter() const;

    // -- On-device conversion measurement (ZDMMeasurementConversion.cpp) --
    // All of it on the worker queue. A query asks the optional client component whether the user's
    // e-mail address or phone number is in a server-side data set; a match is stored as "_psmvalue"
    // and reported as "_fx". Failed queries are retried with back-off; answered ones are counted.
    static constexpr const char* kPSMRetryAlarmName = "On-device conversion measurement timer";
    static constexpr double kPSMValueLifetime = 7776000;  // 90 days

    // The component's class object; nullptr when it is absent.
    std::shared_ptr<const ZDMPrivateSetMembershipClientClass> PSMClientClass() const;
    // Start-up: says whether the component is there (23253), or that stored counts will go unused
    // without it (23254).
    void checkPSMDependencyOnWorkerQueue();
    // Start-up: a match 90 days old or more is removed with both counts.
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    // "email_address" wins over "phone_number"; a client kept from a failed query is asked again.
    void setUserDataOnWorkerQueue(const Dictionary& userData);
    // The gate, first failing test wins (23233, feature off silently, 23235 to 23238).
    bool shouldRetrievePSMResponse();
    bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
    bool shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber);
    std::shared_ptr<ZDMPrivateSetMembershipClient> PSMClientWithEmailAddress(const std::string& emailAddress);
    std::shared_ptr<ZDMPrivateSetMembershipClient> PSMClientWithPhoneNumber(const std::string& phoneNumber);
    // Sends the current client's query, or postpones it while the network is busy (23232).
    void retrievePSMResponse();
    void maybeSchedulePSMRetry();
    void handlePSMValueOnWorkerQueue(const std::string& value);
    void incrementPSMCountOnWorkerQueueWithName(const std::string& name);
    bool isPSMRequestInProgress() const { return isPSMRequestInProgress_; }
    bool isPSMRequestPostponed() const { return isPSMRequestPostponed_; }
    void setIsPSMRequestPostponed(bool postponed) { isPSMRequestPostponed_ = postponed; }

    // -- App lifecycle (ZDMMeasurementLifecycle.cpp) --

    // Every subscription goes to the default notification center, for notifications of any sender,
    // and is never removed. The library's load hook makes this one, once per process.
    static void subscribeForAppDidFinishLaunchingNotifications();
    // Main thread: makes the shared screen-view reporter, so that it sees the first activation, and
    // hands a launch that carries user info to the stored-link handling.
    static void handleAppDidFinishLaunching(const Notification& notification);
    // Only while the server blocks internal events (then no upload cycle refreshes the configuration):
    // on the worker queue, fetches a configuration 7 days old or older when no request is pending.
    void handleAppDidBecomeActiveEvent(const Notification& notification);
    // Writes the persisted configuration at once, then asks through the facade's operation queue for an
    // upload, which therefore waits until the facade has started.
    void handleAppWillResignActiveEvent(const Notification& notification);
    // Nothing subscribes it on this platform.
    void handleAppWillEnterForegroundNotification(const Notification& notification);
    // A configuration at least this old (seconds) is fetched again when the app becomes active.
    static constexpr double kActivationConfigurationMaxAge = 604800;

    // Worker queue. Bundling: each call turns the oldest group of raw events into at most one queued
    // bundle in one transaction (ZDMMeasurementBundling.cpp); YES when one was queued.
    using RawEvents = std::vector<std::shared_ptr<ZDMRawEventData>>;
    using Events = std::vector<std::shared_ptr<ZDMEvent>>;
    bool bundleRawEvents();
    std::optional<RawEvents> rawEventsWithMetadataFingerprint(int64_t fingerprint);
    std::optional<Events> processRawEvents(const RawEvents& rawEvents, int64_t fingerprint);
    // Session start and engagement time of the group; its failures are logged and end only this step.
    void evaluationTimeFromRawEvents(const RawEvents& rawEvents, ZDMPBMeasurementBundle& bundle);
    // Adds `millis` to "_se" (session scoped) or "_lte", stored and mirrored into the bundle.
    bool updateUserEngagement(int64_t millis, ZDMPBMeasurementBundle& bundle, bool sessionScoped);
    std::optional<Events> eventsAfterUpdatingEventAggregates(
        const Events& events, ZDMAudienceTimestampsCache* audienceTimestampsCache);
    // The checks each bundled event passes again; the two counting ones answer whether they changed
    // the day's counts.
    std::shared_ptr<ZDMEvent> internalEventFromPublicEvent(const std::shared_ptr<ZDMEvent>& event);
    bool checkConversion(ZDMEvent& event, ZDMDailyCounts& counts);
    bool checkRealtime(ZDMEvent& event, ZDMDailyCounts& counts);
    std::shared_ptr<ZDMEvent> validatePurchaseEvent(const std::shared_ptr<ZDMEvent>& event);
    bool updateAppMetadataForBundle(ZDMPBMeasurementBundle& bundle, double start, double end);
    void addBundleMetadataIntoBundle(ZDMPBMeasurementBundle& bundle, double start, double end);

    // Worker queue. Event sampling (ZDMEventSampling.cpp): the surviving wire events in order, or
    // nullopt with the error when the aggregates could not be read or written.
    using WireEvents = std::vector<std::shared_ptr<ZDMPBEvent>>;
    std::optional<WireEvents> sampleEvents(const WireEvents& events, Error* error);
    bool canEventBeSampled(const ZDMPBEvent& event);
    // YES with probability 1/rate: a uniform draw below `rate` is 0.
    bool isEventBundledAfterRoll(int32_t rate);
    // Draws a uniform integer below its bound; tests script it.
    void setSamplingRandomSource(std::function<uint32_t(uint32_t bound)> source) {
        samplingRandom_ = std::move(source);
    }

    // The event write path, all on the worker queue. The main road filters an event and hands it to
    // the write proper, which stores it as a raw row pointing at a metadata row.
    void handleInternalEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    void handleEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    void writeEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    void writeFilteredEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    // nullptr drops the event (not in a non-empty allow-list).
    std::shared_ptr<ZDMEvent> eventAfterSafelistingEvent(const std::shared_ptr<ZDMEvent>& event);
    // Counts the event whatever the answer; NO rejects it by a daily limit.
    bool shouldProcessEvent(const ZDMEvent& event, ZDMDailyCounts& dailyCounts, bool isPublicEvent);
    bool isRealtimeEvent(ZDMEvent& event, const ZDMDailyCounts& dailyCounts);
    bool writeEvent(ZDMEvent& event, bool isPublicEvent, bool isRealtime);
    // The per-install and per-moment template every raw event points at.
    std::shared_ptr<ZDMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const std::vector<std::shared_ptr<ZDMUserAttribute>>& userAttributes);
    // While the app is not active an event may start or extend a session ("extend_session" = 1); an
    // expired session loses its session properties.
    void processSessionFromEvent(const std::shared_ptr<ZDMEvent>& event);
    // Nothing unless the session has expired; then a new session and its "_s".
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    // Writes "_ssr" with the stored feature rollouts after a session start.
    void writeSessionStartEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    // NO drops a subscription purchase already seen under its "_did".
    bool dedupeSubscriptionEvent(const ZDMEvent& event);
    // YES drops an "_ssr" that repeats the stored feature rollouts; otherwise stores its value.
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const ZDMEvent& event);
    std::shared_ptr<ZDMEvent> appExceptionEventWithZudedaroFeatureRollouts(
        const std::shared_ptr<ZDMEvent>& event);

    // The conditional user properties an event triggers, times out or expires: the events to log
    // after it, nullopt when they could not be processed. The layer that owns the controller
    // installs it; until then no event triggers anything.
    using ConditionalPropertyProcessor = std::function<std::optional<std::vector<std::shared_ptr<ZDMEvent>>>(
        const std::shared_ptr<ZDMEvent>&)>;
    static void setConditionalPropertyProcessor(ConditionalPropertyProcessor processor);

    // User properties on the worker queue. Setting is gated by the enable state; the database step is
    // not (bundling and campaigns use it directly) and answers whether the property was stored.
    void setUserAttributeOnWorkerQueue(const std::shared_ptr<ZDMUserAttribute>& attribute);
    bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<ZDMUserAttribute>& attribute);
    void removeUserAttributeOnWorkerQueue(const std::shared_ptr<ZDMUserAttribute>& attribute);
    // The stored count as decimal text; nullopt clears it.
    std::optional<std::string> previousFirstOpenCount();
    void setPreviousFirstOpenCount(const std::optional<std::string>& count);
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    bool hasUserPropertyUserIDOnWorkerQueue();

    // The first open was stored without an advertising ID; now that one is known "_fx" follows.
    void logFirstOpenConsentedEvent(double firstOpenTimestamp);

    // Records a purchase's lifetime value inside the write's transaction; NO rolls the write back.
    bool updateLifetimeValueWithEvent(const ZDMEvent& event);

    // floor((now - midnight offset) / 86400).
    int32_t currentDayNumber();

    // Accessors. The components are nullptr until made.
    const std::shared_ptr<ZDMAlarm>& alarm() const { return alarm_; }
    std::shared_ptr<ZDMEngineAudience> audience() const;
    const std::shared_ptr<ZDMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    std::shared_ptr<ZDMRemoteConfig> remoteConfigInstance() const;
    const std::shared_ptr<ZDMScheduler>& scheduler() const { return scheduler_; }
    const std::vector<std::string>& safelistedEvents() const { return safelistedEvents_; }
    std::shared_ptr<ZDMIdentity> identity() const;
    const std::shared_ptr<ZEDUdovade>& network() const { return network_; }
    std::shared_ptr<ZDMDatabase> database() const;
    std::shared_ptr<ZDMSessionReporter> sessionReporter() const;
    const std::shared_ptr<ExperimentManager>& experimentManager() const { return experimentManager_; }
    const std::string& appID() const { return appID_; }
    const std::string& databaseName() const { return databaseName_; }
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    bool isEnabled() const { return enabled_; }
    bool isAnalyticsCollectionEnabled() const { return isAnalyticsCollectionEnabled_; }
    void setIsAnalyticsCollectionEnabled(bool enabled) { isAnalyticsCollectionEnabled_ = enabled; }
    bool isAnalyticsCollectionDeactivated() const { return isAnalyticsCollectionDeactivated_; }
    void setIsAnalyticsCollectionDeactivated(bool deactivated) {
        isAnalyticsCollectionDeactivated_ = deactivated;
    }
    bool isNetworkRequestPending() const { return isNetworkRequestPending_; }
    void setIsNetworkRequestPending(bool pending) { isNetworkRequestPending_ = pending; }
    std::shared_ptr<ZDMMeasurementDelegate> measurementDelegate() const;
    void setMeasurementDelegate(std::weak_ptr<ZDMMeasurementDelegate> delegate);
    // Seconds since boot; non-zero while uploads are suspended.
    double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_; }
    void setSuspendedUploadTimestamp(double timestamp) { suspendedUploadTimestamp_ = timestamp; }
    // Worker queue. The engine's load time, seconds since 1970.
    double initTimestamp() const { return initTimestamp_; }
    // Worker queue. The measurement app ID in force before the last wipe.
    const std::optional<std::string>& previousZORAppID() const { return previousZORAppID_; }
    int32_t PSMStartCount() const { return PSMStartCount_; }
    int32_t PSMRetryCount() const { return PSMRetryCount_; }

  private:
    ZDMMeasurement() = default;

    bool initializeComponentsOnWorkerQueue();
    bool makeDatabaseOnWorkerQueue();
    void excludeSupportDirectoryFromBackup();
    void deleteDatabaseFilesBeforeOpening();
    bool isZudedaroRemoteConfigSDKPresent() const;
    // Runs `work` on the worker queue with the engine, unless it is gone by then.
    void scheduleOnWorkerQueue(const std::string& blockID, std::function<void(ZDMMeasurement&)> work);

    // Start-up's call points for work this build does not do yet; each keeps its place in the order.

    // Once, when the components are made: activation and resignation, the engine held weakly.
    void subscribeForAppForegroundBackgroundNotifications();

    // -- Fields of the start-up reports --

    // -- Fields of upload and fetch --
    std::optional<Value::Array> uploadingBundleIDs_;

    // -- Fields of campaigns --
    // Makes, enables and starts the search-ad reporter (start-up); switches it with collection.
    void startSearchAdReporterOnWorkerQueue();
    void setSearchAdReporterEnabledOnWorkerQueue(bool enabled);
    void handleDeferredDeepLinkResponse(const HTTPURLResponse& response, const std::optional<Data>& data,
                                        const std::optional<Error>& error);
    std::shared_ptr<ZDMSearchAdReporter> searchAdReporter_;  // under componentsMutex_

    // -- Fields of on-device conversion --
    // Worker queue. The client of the query in progress, or kept for its retry.
    std::shared_ptr<ZDMPrivateSetMembershipClient> privateSetMembershipClient_;
    bool isPSMRequestInProgress_ = false;
    bool isPSMRequestPostponed_ = false;
    std::shared_ptr<ZDMAlarm> PSMRetryAlarm_;  // made on first use
    // The answer step of retrievePSMResponse.
    void handlePSMResponseOnWorkerQueue(const std::string& countName, long statusCode,
                                        const std::optional<Data>& body, const std::optional<Error>& error);

    std::string databaseName_;
    std::atomic<bool> didInitializeComponents_{false};
    std::mutex initializeComponentsLock_;
    std::shared_ptr<ZDMAlarm> alarm_;
    std::shared_ptr<ZEDUdovade> network_;
    std::shared_ptr<ZDMPersistedConfig> persistedConfig_;
    std::shared_ptr<ZDMScheduler> scheduler_;
    std::shared_ptr<ExperimentManager> experimentManager_;

    // Made on the worker queue, read from any thread.
    mutable std::mutex componentsMutex_;
    std::shared_ptr<ZDMIdentity> identity_;
    std::shared_ptr<ZDMDatabase> database_;
    std::shared_ptr<ZDMRemoteConfig> remoteConfig_;
    std::shared_ptr<ZDMEngineAudience> audience_;
    std::shared_ptr<ZDMSessionReporter> sessionReporter_;
    std::weak_ptr<ZDMMeasurementDelegate> measurementDelegate_;

    int32_t PSMStartCount_ = 0;
    int32_t PSMRetryCount_ = 0;
    std::optional<std::string> previousZORAppID_;
    double initTimestamp_ = 0;
    std::atomic<double> suspendedUploadTimestamp_{0};
    std::string appID_;
    std::vector<std::string> safelistedEvents_;
    std::atomic<bool> enabled_{false};
    bool wasEnabledDuringInitialization_ = false;
    std::atomic<bool> isAnalyticsCollectionEnabled_{false};
    std::atomic<bool> isAnalyticsCollectionDeactivated_{false};
    std::atomic<bool> isNetworkRequestPending_{false};
    std::function<uint32_t(uint32_t bound)> samplingRandom_;
};
