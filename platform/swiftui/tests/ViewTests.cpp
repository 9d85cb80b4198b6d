#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/swiftui/View.h"
#include "platform/swiftui/testing/HostingView.h"

namespace {

class Text : public View {};

// A modifier made of other modifiers, as an app's own modifiers are.
class Tracked : public ViewModifier {
  public:
    Tracked(std::vector<std::string>& calls, std::string name) : calls_(calls), name_(std::move(name)) {}
    std::shared_ptr<const View> body(Content content) const override {
        return content->modifier(
            std::make_shared<_AppearanceActionModifier>([this] { calls_.push_back("appear " + name_); },
                                                        [this] { calls_.push_back("disappear " + name_); }));
    }

  private:
    std::vector<std::string>& calls_;
    std::string name_;
};

TEST(View, AModifiedViewRunsItsAppearanceActionsEachTimeItAppears) {
    std::vector<std::string> calls;
    const auto view = std::make_shared<Text>()
                          ->modifier(std::make_shared<Tracked>(calls, "inner"))
                          ->modifier(std::make_shared<Tracked>(calls, "outer"));
    HostingView host(view);
    host.appear();
    host.disappear();
    host.appear();
    EXPECT_EQ(calls, (std::vector<std::string>{"appear outer", "appear inner", "disappear outer",
                                               "disappear inner", "appear outer", "appear inner"}));
}

TEST(View, EmptyActionsAndPlainViewsAreHostedQuietly) {
    const auto view =
        std::make_shared<Text>()->modifier(std::make_shared<_AppearanceActionModifier>(nullptr, nullptr));
    HostingView host(view);
    host.appear();
    host.disappear();
    HostingView(std::make_shared<Text>()).appear();
    SUCCEED();
}

TEST(View, ModifiedContentKeepsItsContentAndModifier) {
    const auto text = std::make_shared<Text>();
    const auto action = std::make_shared<_AppearanceActionModifier>([] {}, nullptr);
    const auto modified = std::dynamic_pointer_cast<const ModifiedContent>(text->modifier(action));
    ASSERT_NE(modified, nullptr);
    EXPECT_EQ(modified->content(), text);
    EXPECT_EQ(modified->modifier(), action);
    EXPECT_EQ(modified->body(), text) << "the host, not the body, runs the actions";
}

}  // namespace
