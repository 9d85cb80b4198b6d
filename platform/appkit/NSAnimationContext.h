#pragma once
// Animation groups on the process clock. Changes made through an animator inside a group take the
// group's duration: they are recorded when made and take effect when the duration has passed on
// the clock (at once for a duration of 0). A group's completion runs after its duration.
#include <functional>
#include <optional>
#include <string>

// The pacing of an animation, by the platform's names ("easeInEaseOut", "linear", ...).
struct CAMediaTimingFunction {
    std::string name;
    static CAMediaTimingFunction functionWithName(std::string name) { return {std::move(name)}; }
    bool operator==(const CAMediaTimingFunction&) const = default;
};
inline constexpr const char* kCAMediaTimingFunctionEaseInEaseOut = "easeInEaseOut";
inline constexpr const char* kCAMediaTimingFunctionLinear = "linear";

class NSAnimationContext {
  public:
    // The context of the innermost running group; outside any group, the default context
    // (0.25 seconds, no timing function).
    static NSAnimationContext& currentContext();
    // Runs `changes` inside a new group, synchronously; `completion` (if any) after the duration.
    static void runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                  std::function<void()> completion = {});
    // How many groups have run since the start of the process (tests compare counts).
    static int groupsRun();
    static bool isInsideGroup();

    double duration() const { return duration_; }
    void setDuration(double seconds) { duration_ = seconds; }
    const std::optional<CAMediaTimingFunction>& timingFunction() const { return timing_; }
    void setTimingFunction(std::optional<CAMediaTimingFunction> timing) { timing_ = std::move(timing); }
    bool allowsImplicitAnimation() const { return implicit_; }
    void setAllowsImplicitAnimation(bool allows) { implicit_ = allows; }

    // Runs `apply` once the current context's duration has passed on the clock (at once for 0).
    static void afterCurrentDuration(std::function<void()> apply);

  private:
    double duration_ = 0.25;
    std::optional<CAMediaTimingFunction> timing_;
    bool implicit_ = false;
};
