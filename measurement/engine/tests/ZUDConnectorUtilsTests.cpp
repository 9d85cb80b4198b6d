#include <gtest/gtest.h>

#include "measurement/engine/ZUDConnectorUtils.h"

using U = ZUDConnectorUtils;

TEST(ConnectorUtils, OriginsThatMayLogAndListen) {
    struct Case {
        const char* origin;
        bool allowed, app, listener;
    };
    for (const auto& c : std::vector<Case>{{"zcm", true, false, false},
                                           {"crash", true, false, true},
                                           {"ziam", true, false, true},
                                           {"zlx", true, false, true},
                                           {"app", false, true, false},
                                           {"app+x", true, true, false},
                                           {"apps", true, false, false},
                                           {"auto", false, false, false},
                                           {"am", false, false, false},
                                           {"", true, false, false}}) {
        SCOPED_TRACE(c.origin);
        EXPECT_EQ(U::isOriginAllowed(c.origin), c.allowed);
        EXPECT_EQ(U::isAppOrigin(c.origin), c.app);
        EXPECT_EQ(U::isListenerOriginAllowed(c.origin), c.listener);
    }
}

TEST(ConnectorUtils, EventsOtherComponentsMayLogAndListenersHear) {
    EXPECT_TRUE(U::shouldLogEventWithName("_cmp", {}));
    EXPECT_TRUE(U::shouldLogEventWithName("_ae", {{"x", Value(1)}}));
    for (const char* name : {"", "_e", "_f", "_iap", "_s", "_au"})
        EXPECT_FALSE(U::shouldLogEventWithName(name, {})) << name;
    for (const char* parameter : {"_r", "_dbg"})
        EXPECT_FALSE(U::shouldLogEventWithName("_cmp", {{parameter, Value(1)}})) << parameter;

    EXPECT_EQ(U::hiddenEventNames().size(), 14u);
    for (const char* name : {"_xa", "campaign_details", "_exp_set", "_exp_expire", "_iapx"})
        EXPECT_FALSE(U::isEventNameAllowedForListeners(name)) << name;
    for (const char* name : {"crash", "_cmp", "_exp"})
        EXPECT_TRUE(U::isEventNameAllowedForListeners(name)) << name;
}

TEST(ConnectorUtils, UserPropertiesOtherComponentsMaySetAndRead) {
    struct Case {
        const char* name;
        const char* origin;
        bool allowed;
    };
    for (const auto& c : std::vector<Case>{{"_ln", "zcm", true},
                                           {"_ln", "ziam", true},
                                           {"_ln", "crash", false},
                                           {"_ltv_USD", "zcm", false},
                                           {"_ltv_usd", "zcm", true},
                                           {"_ltv_USDX", "zcm", true},
                                           {"_cc3", "crash", false},
                                           {"_cc6", "crash", true},
                                           {"_cc33", "crash", true},
                                           {"_fot", "zcm", false},
                                           {"_sid", "zcm", false},
                                           {"", "zcm", false},
                                           {"color", "crash", true}}) {
        SCOPED_TRACE(std::string(c.name) + " from " + c.origin);
        EXPECT_EQ(U::isUserPropertyAllowed(c.name, c.origin), c.allowed);
    }
    EXPECT_TRUE(U::isUserPropertyAllowedForQuery("_fot"));
    EXPECT_TRUE(U::isUserPropertyAllowedForQuery("color"));
    EXPECT_FALSE(U::isUserPropertyAllowedForQuery("_fi"));
    EXPECT_FALSE(U::isUserPropertyAllowedForQuery(""));
}
