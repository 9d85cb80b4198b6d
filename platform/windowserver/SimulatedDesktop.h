#pragma once
// The one simulated desktop of the process: screens, running applications and their windows.
// The window-server, Accessibility, process-manager and SkyLight stand-ins read and change it, so
// the agent's calls really move, raise and focus windows; tests and the scenario player set it up
// and inspect it, and post the keyboard's and the mouse's events into its one input stream. All
// rectangles are in global window-server points (origin at the top-left of the first screen, y
// growing downwards).
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/windowserver/CGGeometry.h"
#include "platform/windowserver/CGWindow.h"

struct SimulatedScreen {
    CGDirectDisplayID displayID = 0;  // 0 when plugging: the desktop assigns the next free one
    CGRect bounds;
    // Room taken by the menu bar and the dock at each edge; the visible frame is what remains.
    CGFloat insetTop = 0, insetLeft = 0, insetBottom = 0, insetRight = 0;
};

struct SimulatedWindow {
    CGWindowID number = 0;
    pid_t ownerPid = 0;
    int layer = 0;  // 0 for ordinary application windows
    CGRect bounds;
    bool minimized = false;
    // A limit of 0 in a dimension means none; a resize beyond a limit stops at it.
    CGSize minSize, maxSize;
};

// One call that the agent made into the platform, as tests read it back.
struct SimulatedCall {
    std::string function;  // "SLPSSetFrontProcessWithOptions", "AXUIElementSetAttributeValue", ...
    pid_t pid = 0;
    CGWindowID window = 0;
    std::string name;               // attribute or action
    CGFloat first = 0, second = 0;  // point or size that was set
    uint32_t options = 0;
    Data bytes;  // event record
};

// One event of the keyboard or the mouse. `type` and `modifierFlags` carry the platform's
// event-type and modifier-flag values. An event meant for a window of this process names it by
// number and is located in that window's coordinates; any other is located in global points.
struct SimulatedInputEvent {
    uint32_t type = 0;
    uint64_t modifierFlags = 0;
    uint16_t keyCode = 0;
    std::string characters;
    CGPoint location;
    int windowNumber = 0;  // 0: none
};

// A subscriber's place in the input stream, given up when this goes.
class SimulatedInputSubscription {
  public:
    SimulatedInputSubscription() = default;
    SimulatedInputSubscription(SimulatedInputSubscription&& other) noexcept;
    SimulatedInputSubscription& operator=(SimulatedInputSubscription&& other) noexcept;
    ~SimulatedInputSubscription();

  private:
    friend class SimulatedDesktop;
    explicit SimulatedInputSubscription(uint64_t id) : id_(id) {}
    uint64_t id_ = 0;
};

class SimulatedDesktop {
  public:
    static SimulatedDesktop& shared();

    // Back to an empty desktop: no screens, applications, windows or calls; trusted; no prompts;
    // calls not recorded. Screen observers and input subscribers stay.
    void reset();

    // The one input stream of the keyboard and the mouse. An event goes to the event taps first,
    // then to the session's subscribers (hotkeys), then to the application's, each in the order
    // they subscribed, until one consumes it (answers true). Subscribers run on the posting thread with no
    // lock held, so they may post, subscribe and unsubscribe; one that unsubscribed meanwhile is skipped.
    enum class InputStage { EventTap, Session, Application };
    using InputSubscriber = std::function<bool(const SimulatedInputEvent& event)>;
    [[nodiscard]] SimulatedInputSubscription subscribeToInput(InputStage stage, InputSubscriber subscriber);
    // True when a subscriber consumed the event.
    bool postInput(const SimulatedInputEvent& event);

    // Screens, in the platform's order; the first is the primary screen.
    std::vector<SimulatedScreen> screens() const;
    CGDirectDisplayID plugScreen(SimulatedScreen screen);
    bool unplugScreen(CGDirectDisplayID displayID);
    // Observers learn of every plug and unplug, after the change, on the thread that made it.
    using ScreenObserver = std::function<void()>;
    uint64_t addScreenObserver(ScreenObserver observer);
    void removeScreenObserver(uint64_t token);

    // Applications and windows. A new window goes behind every existing one.
    void addApplication(pid_t pid, std::string name);
    bool hasApplication(pid_t pid) const;
    std::optional<std::string> applicationName(pid_t pid) const;
    bool addWindow(SimulatedWindow window);  // false for a taken number or an unknown owner
    std::optional<SimulatedWindow> window(CGWindowID number) const;
    std::vector<SimulatedWindow> windowsFrontToBack() const;
    std::vector<CGWindowID> windowsOfApplication(pid_t pid) const;  // front to back

    std::optional<pid_t> frontmostApplication() const;
    // Activating an application makes its front window key, as the platform does.
    void activateApplication(pid_t pid);
    // The key window of the frontmost application; none when it has not made one key.
    std::optional<CGWindowID> focusedWindow() const;

    // Effects of the platform calls.
    bool raiseWindow(CGWindowID number);
    bool setWindowPosition(CGWindowID number, CGPoint position);
    bool setWindowSize(CGWindowID number, CGSize size);  // kept within the window's limits
    bool setMinimized(CGWindowID number, bool minimized);
    // Makes `pid` frontmost and raises `window` when it is one of its windows; the key window
    // stays unset until the application is told which window to make key.
    bool setFrontProcess(pid_t pid, CGWindowID window);
    bool makeKeyWindow(CGWindowID number);

    // Accessibility trust and the number of times the system prompt was shown.
    bool trusted() const;
    void setTrusted(bool trusted);
    void noteTrustPrompt();
    int trustPrompts() const;

    // Calls are kept only while a test asks for them: a long-running agent makes some on every
    // hotkey press and would otherwise grow without end.
    void setRecordsCalls(bool records);
    void recordCall(SimulatedCall call);
    std::vector<SimulatedCall> calls() const;
    void clearCalls();

  private:
    friend class SimulatedInputSubscription;
    struct InputEntry {
        uint64_t id;
        InputStage stage;
        std::shared_ptr<InputSubscriber> subscriber;
    };

    SimulatedDesktop() = default;
    void unsubscribeFromInput(uint64_t id);
    bool isSubscribedToInput(uint64_t id) const;
    void notifyScreenObservers();
    SimulatedWindow* find(CGWindowID number);
    const SimulatedWindow* find(CGWindowID number) const;
    void raiseLocked(CGWindowID number);

    mutable std::mutex mutex_;
    std::vector<SimulatedScreen> screens_;
    CGDirectDisplayID nextDisplayID_ = 1;
    std::map<uint64_t, ScreenObserver> screenObservers_;
    uint64_t nextObserver_ = 1;
    std::vector<InputEntry> inputSubscribers_;  // session's first
    uint64_t nextInputSubscriber_ = 1;
    std::map<pid_t, std::string> applications_;
    std::vector<SimulatedWindow> windows_;  // front to back
    std::optional<pid_t> frontmost_;
    std::optional<CGWindowID> keyWindow_;
    bool trusted_ = true;
    int trustPrompts_ = 0;
    bool recordsCalls_ = false;
    std::vector<SimulatedCall> calls_;
};
