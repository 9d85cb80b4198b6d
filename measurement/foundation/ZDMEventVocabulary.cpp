#include "measurement/foundation/ZDMEventVocabulary.h"

#include <set>

#include "measurement/foundation/ZDMMonitor.h"

namespace {
using NameSet = std::set<std::string, std::less<>>;

const char* const kScreenParameterNames[] = {"_sn", "_sc", "_si"};

bool contains(const NameSet& names, std::string_view name) {
    return names.find(name) != names.end();
}
}  // namespace

const Dictionary& ZDMPublicToInternalEventNameMap() {
    static const Dictionary* map = new Dictionary{
        {"adunit_exposure", "_xu"},
        {"ad_activeview", "_aa"},
        {"ad_click", "_ac"},
        {"ad_exposure", "_xa"},
        {"ad_impression", "_ai"},
        {"ad_query", "_aq"},
        {"ad_reward", "_ar"},
        {"app_clear_data", "_cd"},
        {"app_exception", "_ae"},
        {"app_remove", "_ui"},
        {"app_store_refund", "_asr"},
        {"app_store_subscription_cancel", "_asse"},
        {"app_store_subscription_convert", "_assc"},
        {"app_store_subscription_renew", "_assr"},
        {"app_update", "_au"},
        {"app_upgrade", "_ug"},
        {"zudedaro_campaign", "_cmp"},
        {"first_open", "_f"},
        {"first_visit", "_v"},
        {"za_campaign", "_cmp"},
        {"za_extra_parameter", "_ep"},
        {"in_app_purchase", "_iap"},
        {"notification_dismiss", "_nd"},
        {"notification_foreground", "_nf"},
        {"notification_open", "_no"},
        {"notification_receive", "_nr"},
        {"os_update", "_ou"},
        {"screen_view", "_vs"},
        {"session_start", "_s"},
        {"session_start_with_rollout", "_ssr"},
        {"user_engagement", "_e"},
        {"error", "_err"},
    };
    return *map;
}

const Dictionary& ZDMInternalToPublicEventNameMap() {
    static const Dictionary* map = [] {
        auto* inverse = new Dictionary;
        for (const auto& [publicName, internalName] : ZDMPublicToInternalEventNameMap()) {
            // "za_campaign" comes after "zudedaro_campaign" and replaces it: the current name wins.
            inverse->set(*internalName.asString(), Value(publicName));
        }
        return inverse;
    }();
    return *map;
}

const Dictionary& ZDMLoggableReservedEventNameMap() {
    static const Dictionary* map = new Dictionary{{"ad_impression", "_ai"}};
    return *map;
}

const std::map<int64_t, std::string>& ZDMErrorCodeNameMap() {
    static const auto* map = new std::map<int64_t, std::string>{
        {0, "NoError"},
        {1, "InvalidZORAppID"},
        {2, "InvalidEventName"},
        {3, "InvalidParameterName"},
        {4, "InvalidParameterValue"},
        {5, "ParameterLimitReached"},
        {6, "InvalidUserPropertyName"},
        {7, "UserPropertyValueTooLong"},
        {8, "EventLimitReached"},
        {9, "UserPropertyLimitReached"},
        {10, "ConversionEventLimitReached"},
        {11, "EventIsBlocked"},
        {12, "UserPropertyIsBlocked"},
        {13, "EventNameIsReserved"},
        {14, "ParameterNameIsReserved"},
        {15, "UserPropertyNameIsReserved"},
        {16, "PublicEventLimitReached"},
        {17, "TooManyExtraParamEvents"},
        {18, "ValueIsNotNumeric"},
        {19, "CurrencyCodeIsMissingOrInvalid"},
        {20, "InvalidArrayParamName"},
        {21, "InvalidArrayParamEventName"},
        {22, "InvalidArrayParamNesting"},
        {23, "CustomParamsInArrayElement"},
        {28, "ItemScopedCustomParameterLimitReached"},
    };
    return *map;
}

bool ZDMIsEcommerceEventName(std::string_view name) {
    static const NameSet* names = new NameSet{
        "add_payment_info",
        "add_shipping_info",
        "add_to_cart",
        "add_to_wishlist",
        "begin_checkout",
        "purchase",
        "refund",
        "remove_from_cart",
        "select_item",
        "select_promotion",
        "view_cart",
        "view_item",
        "view_item_list",
        "view_promotion",
        "ecommerce_purchase",
        "checkout_progress",
        "purchase_refund",
        "select_content",
        "set_checkout_option",
        "view_search_results",
    };
    return contains(*names, name);
}

bool ZDMIsEcommerceParameterName(std::string_view name) {
    static const NameSet* names = new NameSet{
        "affiliation",     "coupon",         "creative_name",
        "creative_slot",   "currency",       "discount",
        "index",           "item_id",        "item_brand",
        "item_category",   "item_category2", "item_category3",
        "item_category4",  "item_category5", "item_list_name",
        "item_list_id",    "item_name",      "item_variant",
        "location_id",     "payment_type",   "price",
        "promotion_id",    "promotion_name", "quantity",
        "shipping",        "shipping_tier",  "tax",
        "transaction_id",  "value",          "checkout_step",
        "checkout_option", "item_list",      "item_location_id",
    };
    return contains(*names, name);
}

bool ZDMIsConversionEventName(std::string_view name) {
    static const NameSet* names = new NameSet{"ecommerce_purchase", "_f", "_iap", "purchase", "refund"};
    return contains(*names, name);
}

bool ZDMIsPublicName(const Value& name) {
    const std::string* text = name.asString();
    if (!text) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 18002, "Cannot check the name. Name is not a string");
        return false;
    }
    if (text->empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 18003, "Cannot check the name. Name is empty");
        return false;
    }
    return (*text)[0] != '_';
}

bool ZDMIsNotErrorEventName(std::string_view name) {
    return name != "_err";
}

bool ZDMParametersContainScreenParameters(const Dictionary& parameters) {
    for (const char* name : kScreenParameterNames)
        if (parameters.contains(name)) return true;
    return false;
}

Dictionary ZDMScreenParametersFromParameters(const Dictionary& parameters) {
    Dictionary screen;
    for (const char* name : kScreenParameterNames)
        if (const Value* value = parameters.find(name)) screen.set(name, *value);
    return screen;
}
