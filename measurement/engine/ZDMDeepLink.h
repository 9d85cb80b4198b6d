#pragma once
// The link that launched the app, kept in a user-defaults store until the engine reports it, and
// the campaign vocabulary of link queries: which query keys become which event parameters, and
// which of them make a link a campaign link.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

class ZDMConfigStore;
class ZDMRemoteConfig;

inline constexpr const char* kZDMDeepLinkKey = "/zizoda/measurement/deep_link";
inline constexpr const char* kZDMDeepLinkTimestampKey = "/zizoda/measurement/deep_link_timestamp_seconds";

// Query key to event parameter name.
inline constexpr std::pair<std::string_view, std::string_view> kZDMCampaignParameterMap[] = {
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"zdclid", "zdclid"},
    {"zclid", "zclid"},
    {"zbraid", "zbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"zsltid", "zsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
    {"sfmc_id", "sfmc_id"},
};

// A link is a campaign link when one of these has a non-empty value.
inline constexpr std::string_view kZDMCampaignRequiredKeys[] = {
    "utm_campaign", "zclid", "utm_medium", "utm_source", "zbraid", "utm_id", "zdclid", "zsltid", "sfmc_id",
};

// Stores the link's text and the current time.
void ZDMStoreDeepLink(ZDMConfigStore& store, const std::string& url);
void ZDMRemoveStoredDeepLink(ZDMConfigStore& store);
// A text link with a number time.
bool ZDMHasStoredDeepLink(ZDMConfigStore& store);
// A time is stored and lies more than `seconds` from now, either way.
bool ZDMIsStoredDeepLinkOlderThan(ZDMConfigStore& store, double seconds);
// On the standard store: removes a link older than the attribution cache time; YES when it did.
bool ZDMRemoveStoredDeepLinkIfExpired(ZDMRemoteConfig& remoteConfig);
// The start of the hour before the one holding `millis`.
int64_t ZDMHourStartBeforeMillis(int64_t millis);
