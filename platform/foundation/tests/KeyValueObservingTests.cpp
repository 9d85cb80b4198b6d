#include <gtest/gtest.h>

#include "platform/foundation/KeyValueObserving.h"

namespace {

// A model with one automatic key, one manual key and a key computed from both.
class Model : public NSKeyValueObserving {
  public:
    AnyObject valueForKeyPath(std::string_view keyPath) const override {
        if (keyPath == "name") return name ? AnyObject(Value(*name)) : AnyObject();
        if (keyPath == "count") return AnyObject(Value(count));
        if (keyPath == "summary") return AnyObject(Value((name ? *name : "") + std::to_string(count)));
        return {};
    }
    bool automaticallyNotifiesObserversForKey(std::string_view key) const override { return key != "count"; }
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(std::string_view key) const override {
        if (key == "summary") return {"name", "count"};
        return {};
    }
    void setName(std::optional<std::string> value) {
        changeValueForKey("name", [&] { name = std::move(value); });
    }
    void setCount(int64_t value) {
        changeValueForKey("count", [&] { count = value; });  // manual: posts nothing
    }

    std::optional<std::string> name;
    int64_t count = 0;
};

struct Notice {
    std::string keyPath;
    NSKeyValueChange change;
    void* context;
};

class Recorder : public NSKeyValueObserver {
  public:
    void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving&,
                                const NSKeyValueChange& change, void* context) override {
        notices.push_back({keyPath, change, context});
    }
    std::vector<Notice> notices;
};

std::string text(const std::optional<AnyObject>& value) {
    if (!value) return "<absent>";
    if (value->value() && value->value()->isNull()) return "<null>";
    return value->string() ? *value->string() : "<other>";
}

TEST(KeyValueObserving, OptionsChooseWhatEachNoticeCarries) {
    Model model;
    Recorder recorder;
    int context = 0;
    struct Case {
        NSKeyValueObservingOptions options;
        std::vector<std::string> expected;  // "prior old new" per notice
    } cases[] = {
        {0, {"no <absent> <absent>"}},
        {NSKeyValueObservingOptionNew, {"no <absent> b"}},
        {NSKeyValueObservingOptionOld | NSKeyValueObservingOptionNew, {"no a b"}},
        {NSKeyValueObservingOptionInitial | NSKeyValueObservingOptionNew, {"no <absent> a", "no <absent> b"}},
        {NSKeyValueObservingOptionPrior | NSKeyValueObservingOptionOld, {"yes a <absent>", "no a <absent>"}},
    };
    for (const auto& c : cases) {
        model.name = "a";
        recorder.notices.clear();
        model.addObserver(&recorder, "name", c.options, &context);
        model.setName("b");
        model.removeObserver(&recorder, "name", &context);
        model.setName("c");
        std::vector<std::string> seen;
        for (const auto& notice : recorder.notices) {
            EXPECT_EQ(notice.context, &context);
            seen.push_back(std::string(notice.change.notificationIsPrior ? "yes " : "no ") +
                           text(notice.change.oldValue) + " " + text(notice.change.newValue));
        }
        EXPECT_EQ(seen, c.expected) << c.options;
    }
}

TEST(KeyValueObserving, NilIsReportedAsNull) {
    Model model;
    model.name = "a";
    Recorder recorder;
    model.addObserver(&recorder, "name", NSKeyValueObservingOptionOld | NSKeyValueObservingOptionNew,
                      nullptr);
    model.setName(std::nullopt);
    ASSERT_EQ(recorder.notices.size(), 1u);
    EXPECT_EQ(text(recorder.notices[0].change.oldValue), "a");
    EXPECT_EQ(text(recorder.notices[0].change.newValue), "<null>");
}

TEST(KeyValueObserving, ManualKeysNotifyOnlyThroughTheirNoticesAndDependentKeysFollow) {
    Model model;
    Recorder recorder;
    model.addObserver(&recorder, "count", NSKeyValueObservingOptionNew, nullptr);
    model.addObserver(&recorder, "summary", NSKeyValueObservingOptionNew, nullptr);
    model.setCount(1);
    EXPECT_TRUE(recorder.notices.empty());

    model.willChangeValueForKey("count");
    model.count = 2;
    model.didChangeValueForKey("count");
    ASSERT_EQ(recorder.notices.size(), 2u);
    EXPECT_EQ(recorder.notices[0].keyPath, "count");
    EXPECT_EQ(*recorder.notices[0].change.newValue->value(), Value(2));
    EXPECT_EQ(recorder.notices[1].keyPath, "summary");
    EXPECT_EQ(text(recorder.notices[1].change.newValue), "2");

    model.setName("x");
    ASSERT_EQ(recorder.notices.size(), 3u);
    EXPECT_EQ(text(recorder.notices[2].change.newValue), "x2");
}

// An observer that stops observing when it hears the first notice, and one that goes between the
// will- and did-change notices: neither hears anything after that.
TEST(KeyValueObserving, ObserversMayLeaveFromTheirCallbackOrBetweenNotices) {
    Model model;
    struct Leaver : NSKeyValueObserver {
        Model* model;
        int heard = 0;
        void observeValueForKeyPath(const std::string&, NSKeyValueObserving&, const NSKeyValueChange&,
                                    void*) override {
            ++heard;
            model->removeObserver(this, "name", nullptr);
        }
    } leaver;
    leaver.model = &model;
    Recorder between;
    model.addObserver(&leaver, "name", NSKeyValueObservingOptionNew, nullptr);
    model.addObserver(&between, "name", NSKeyValueObservingOptionNew, nullptr);
    model.setName("a");
    model.setName("b");
    EXPECT_EQ(leaver.heard, 1);
    EXPECT_EQ(between.notices.size(), 2u);

    model.willChangeValueForKey("name");
    model.removeObserver(&between, "name", nullptr);
    model.didChangeValueForKey("name");
    EXPECT_EQ(between.notices.size(), 2u);
    model.removeObserver(&between, "name", nullptr);  // gone already: nothing happens
}

}  // namespace
