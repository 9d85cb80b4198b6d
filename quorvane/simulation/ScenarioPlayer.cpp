#include "quorvane/simulation/ScenarioPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <variant>

#include "Settings/SettingsTabViewController.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/Unicode.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "platform/windowserver/SimulatedDesktop.h"
#include "quorvane/AppDelegate.h"
#include "quorvane/CreateSpacesManager.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/ViewController.h"

namespace ScenarioPlayer {
namespace {

struct ScenarioError {
    std::string place;
    std::string problem;
};

// Every position and size, in points: far beyond any arrangement of displays, and small enough that
// sums of them and their conversions to whole numbers stay finite and exact.
constexpr double kMaxPoints = 1'000'000;
// A year of simulated time at most, so that every date the clock then gives stays printable.
constexpr double kMaxAdvanceSeconds = 366 * 24 * 3600;
// Far more than any scenario needs; a bigger file is a mistake, not a scenario.
constexpr std::uintmax_t kMaxScenarioBytes = 64 << 20;

// A value of the scenario with its place in the file, so every complaint can say where it is.
class Node {
  public:
    Node(const Value& value, std::string place) : value_(&value), place_(std::move(place)) {}

    [[noreturn]] void fail(const std::string& problem) const { throw ScenarioError{place_, problem}; }

    bool isNull() const { return value_->isNull(); }

    // The members of an object, refusing keys it does not know.
    const Dictionary& object(std::initializer_list<std::string_view> known) const {
        const Dictionary* dict = value_->asDictionary();
        if (!dict) fail("expected an object");
        for (const auto& [key, value] : *dict) {
            if (std::find(known.begin(), known.end(), key) == known.end()) child(key).fail("unknown key");
        }
        return *dict;
    }
    std::optional<Node> member(std::string_view key) const {
        const Value* found = value_->asDictionary() ? value_->asDictionary()->find(key) : nullptr;
        if (!found) return std::nullopt;
        return Node(*found, child(key).place_);
    }
    Node required(std::string_view key) const {
        auto found = member(key);
        if (!found) fail("missing \"" + std::string(key) + "\"");
        return *found;
    }
    std::vector<Node> array() const {
        const Value::Array* items = value_->asArray();
        if (!items) fail("expected a list");
        std::vector<Node> out;
        for (size_t i = 0; i < items->size(); ++i)
            out.emplace_back((*items)[i], place_ + "[" + std::to_string(i) + "]");
        return out;
    }
    double number() const {
        if (!value_->isInteger() && !value_->isReal()) fail("expected a number");
        double n = *value_->asReal();
        if (!std::isfinite(n)) fail("expected a finite number");
        return n;
    }
    // A position or size in points.
    double points() const {
        double n = number();
        if (n < -kMaxPoints || n > kMaxPoints)
            fail("expected a number from " + wholeNumber(-kMaxPoints) + " to " + wholeNumber(kMaxPoints));
        return n;
    }
    int64_t integer(int64_t min, int64_t max) const {
        if (!value_->isInteger()) fail("expected a whole number");
        int64_t n = *value_->asInteger();
        if (n < min || n > max)
            fail("expected a whole number from " + std::to_string(min) + " to " + std::to_string(max));
        return n;
    }
    bool boolean() const {
        if (!value_->isBool()) fail("expected true or false");
        return *value_->asBool();
    }
    const std::string& string() const {
        if (!value_->isString()) fail("expected a string");
        return *value_->asString();
    }
    std::vector<double> points(size_t count) const {
        auto items = array();
        if (items.size() != count) fail("expected " + std::to_string(count) + " numbers");
        std::vector<double> out;
        for (auto& item : items) out.push_back(item.points());
        return out;
    }
    // [x, y, width, height] with a size that is not negative (or, for a screen, not empty).
    CGRect rect(bool nonEmpty) const {
        auto n = points(4);
        if (n[2] < 0 || n[3] < 0 || (nonEmpty && (n[2] == 0 || n[3] == 0)))
            fail(nonEmpty ? "expected a width and height above 0"
                          : "expected a width and height of 0 or more");
        return {n[0], n[1], n[2], n[3]};
    }
    CGSize size() const {
        auto n = points(2);
        if (n[0] < 0 || n[1] < 0) fail("expected a width and height of 0 or more");
        return {n[0], n[1]};
    }

  private:
    static std::string wholeNumber(double n) { return std::to_string(static_cast<int64_t>(n)); }

    Node child(std::string_view key) const {
        return Node(*value_, place_.empty() ? std::string(key) : place_ + "." + std::string(key));
    }

    const Value* value_;
    std::string place_;
};

constexpr int64_t kMaxPid = std::numeric_limits<pid_t>::max();
constexpr double kBackgroundWaitSeconds = 5;
constexpr int64_t kMaxWindowID = std::numeric_limits<CGWindowID>::max();
constexpr int64_t kMaxFlags = std::numeric_limits<int64_t>::max();
constexpr int64_t kMaxRow = std::numeric_limits<int>::max();
// The status menu's item that opens the preferences window on the "Spaces" pane.
constexpr const char* kSpacesMenuTitle = "Spaces ...";

struct ScenarioApp {
    pid_t pid;
    std::string name;
    std::vector<SimulatedWindow> windows;
};

struct ScenarioSpace {
    std::string name;
    Coordinates coordinates;
    std::shared_ptr<MASShortcut> shortcut;
    std::string size;
};

struct ScenarioDefaults {
    // Absent: nothing stored; present without a flag: stored as no modifier.
    std::optional<std::optional<NSEventModifierFlags>> resizeModifier;
    std::optional<bool> firstLaunch;
    std::vector<ScenarioSpace> spaces;
};

struct Press {
    int64_t keyCode;
    NSEventModifierFlags modifierFlags;
};
struct Unplug {
    size_t index;
};
struct Plug {
    SimulatedScreen screen;
};
struct MenuPick {
    std::string title;
};
struct Advance {
    double seconds;
};
struct CreateSpace {
    std::string name;
    CGRect frame;  // global, top-left origin
};
struct DeleteSpace {
    size_t row;
};
struct Step {
    std::string place;
    std::variant<Press, Unplug, Plug, MenuPick, Advance, CreateSpace, DeleteSpace> action;
};

struct Scenario {
    std::vector<SimulatedScreen> screens;
    bool trusted = true;
    std::vector<ScenarioApp> apps;
    std::optional<pid_t> frontmost;
    std::optional<ScenarioDefaults> defaults;
    std::vector<Step> steps;
};

SimulatedScreen readScreen(const Node& node) {
    node.object({"bounds", "insets"});
    SimulatedScreen screen;
    screen.bounds = node.required("bounds").rect(true);
    if (auto insets = node.member("insets")) {
        insets->object({"top", "left", "bottom", "right"});
        auto inset = [&](const char* key) {
            auto value = insets->member(key);
            if (!value) return 0.0;
            double n = value->number();
            if (n < 0) value->fail("expected 0 or more");
            return n;
        };
        screen.insetTop = inset("top");
        screen.insetLeft = inset("left");
        screen.insetBottom = inset("bottom");
        screen.insetRight = inset("right");
        if (screen.insetTop + screen.insetBottom >= screen.bounds.size.height ||
            screen.insetLeft + screen.insetRight >= screen.bounds.size.width)
            insets->fail("the insets leave no visible area");
    }
    return screen;
}

SimulatedWindow readWindow(const Node& node, pid_t owner) {
    node.object({"id", "frame", "layer", "minimized", "minSize", "maxSize"});
    SimulatedWindow window;
    window.ownerPid = owner;
    window.number = static_cast<CGWindowID>(node.required("id").integer(1, kMaxWindowID));
    window.bounds = node.required("frame").rect(false);
    if (auto layer = node.member("layer")) window.layer = static_cast<int>(layer->integer(-10000, 10000));
    if (auto minimized = node.member("minimized")) window.minimized = minimized->boolean();
    if (auto minSize = node.member("minSize")) window.minSize = minSize->size();
    if (auto maxSize = node.member("maxSize")) window.maxSize = maxSize->size();
    return window;
}

std::shared_ptr<MASShortcut> readShortcut(const Node& node) {
    node.object({"keyCode", "modifierFlags"});
    return MASShortcut::shortcutWithKeyCode(
        node.required("keyCode").integer(0, 0xFFFF),
        static_cast<NSEventModifierFlags>(node.required("modifierFlags").integer(0, kMaxFlags)));
}

ScenarioSpace readSpace(const Node& node) {
    node.object({"name", "coordinates", "shortcut", "size"});
    ScenarioSpace space;
    space.name = node.required("name").string();
    auto n = node.required("coordinates").points(4);
    std::copy(n.begin(), n.end(), space.coordinates.begin());
    if (auto shortcut = node.member("shortcut"); shortcut && !shortcut->isNull())
        space.shortcut = readShortcut(*shortcut);
    space.size = kLooseSize;
    if (auto size = node.member("size")) {
        space.size = size->string();
        if (!readSpaceSize(space.size)) size->fail("expected \"all\" or a whole number of points");
    }
    return space;
}

ScenarioDefaults readDefaults(const Node& node) {
    node.object({"resizeModifier", "firstLaunch", "spaces"});
    ScenarioDefaults defaults;
    if (auto modifier = node.member("resizeModifier")) {
        defaults.resizeModifier = modifier->isNull()
                                      ? std::optional<NSEventModifierFlags>()
                                      : static_cast<NSEventModifierFlags>(modifier->integer(0, kMaxFlags));
    }
    if (auto first = node.member("firstLaunch")) defaults.firstLaunch = first->boolean();
    if (auto spaces = node.member("spaces"))
        for (auto& space : spaces->array()) defaults.spaces.push_back(readSpace(space));
    return defaults;
}

Step readStep(const Node& node) {
    const Dictionary& members =
        node.object({"press", "unplug", "plug", "menu", "advance", "createSpace", "deleteSpace"});
    if (members.size() != 1)
        node.fail(
            "expected exactly one of \"press\", \"unplug\", \"plug\", \"menu\", \"advance\", "
            "\"createSpace\", \"deleteSpace\"");
    std::string kind = members.begin()->first;
    Node value = node.required(kind);
    Step step{std::string(), Advance{0}};
    if (kind == "press") {
        value.object({"keyCode", "modifierFlags"});
        step.action =
            Press{value.required("keyCode").integer(0, 0xFFFF),
                  static_cast<NSEventModifierFlags>(value.required("modifierFlags").integer(0, kMaxFlags))};
    } else if (kind == "unplug") {
        step.action = Unplug{static_cast<size_t>(value.integer(0, 1000))};
    } else if (kind == "plug") {
        step.action = Plug{readScreen(value)};
    } else if (kind == "menu") {
        step.action = MenuPick{value.string()};
    } else if (kind == "createSpace") {
        value.object({"name", "frame"});
        step.action = CreateSpace{value.required("name").string(), value.required("frame").rect(true)};
    } else if (kind == "deleteSpace") {
        step.action = DeleteSpace{static_cast<size_t>(value.integer(0, kMaxRow))};
    } else {
        double seconds = value.number();
        if (seconds < 0) value.fail("expected 0 or more seconds");
        if (seconds > kMaxAdvanceSeconds)
            value.fail("expected at most " + std::to_string(static_cast<int64_t>(kMaxAdvanceSeconds)) +
                       " seconds");
        step.action = Advance{seconds};
    }
    return step;
}

Scenario readScenario(const Value& root) {
    Node top(root, "");
    top.object({"screens", "trusted", "apps", "frontmost", "defaults", "steps"});
    Scenario scenario;
    for (auto& screen : top.required("screens").array()) scenario.screens.push_back(readScreen(screen));
    if (auto trusted = top.member("trusted")) scenario.trusted = trusted->boolean();

    std::set<int64_t> pids, windowIDs;
    if (auto apps = top.member("apps")) {
        for (auto& node : apps->array()) {
            node.object({"pid", "name", "windows"});
            Node pidNode = node.required("pid");
            ScenarioApp app{
                static_cast<pid_t>(pidNode.integer(1, kMaxPid)), node.required("name").string(), {}};
            if (!pids.insert(app.pid).second) pidNode.fail("another application has this pid");
            if (auto windows = node.member("windows")) {
                for (auto& windowNode : windows->array()) {
                    app.windows.push_back(readWindow(windowNode, app.pid));
                    if (!windowIDs.insert(app.windows.back().number).second)
                        windowNode.required("id").fail("another window has this id");
                }
            }
            scenario.apps.push_back(std::move(app));
        }
    }
    if (auto frontmost = top.member("frontmost"); frontmost && !frontmost->isNull()) {
        scenario.frontmost = static_cast<pid_t>(frontmost->integer(1, kMaxPid));
        if (!pids.count(*scenario.frontmost)) frontmost->fail("no application has this pid");
    }
    if (auto defaults = top.member("defaults")) scenario.defaults = readDefaults(*defaults);
    if (auto steps = top.member("steps")) {
        auto nodes = steps->array();
        for (size_t i = 0; i < nodes.size(); ++i) {
            scenario.steps.push_back(readStep(nodes[i]));
            scenario.steps.back().place = "steps[" + std::to_string(i) + "]";
        }
    }
    return scenario;
}

// The place of a syntax error, as the JSON reader reports it ("parse error at line 3, column 5: ...").
std::string syntaxProblem(const std::string& text, const Error& error) {
    try {
        auto parsed = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {  // a syntax error, or a number too large for a double
        std::string what = e.what();
        auto start = what.find("] ");
        return start == std::string::npos ? what : what.substr(start + 2);
    }
    return error.description;
}

void storeDefaults(const ScenarioDefaults& stored, const std::vector<CGRect>& screens) {
    auto defaults = UserDefaults::standardUserDefaults();
    if (stored.resizeModifier) {
        UserDefaultsManager::saveResizeModifier(*stored.resizeModifier);
    } else {
        defaults->removeObjectForKey(UserDefaultsManager::kResizeKey);
    }
    if (stored.firstLaunch) {
        defaults->setObject(*stored.firstLaunch, UserDefaultsManager::kFirstLaunchKey);
    } else {
        defaults->removeObjectForKey(UserDefaultsManager::kFirstLaunchKey);
    }
    auto workspace = std::make_shared<Workspace>(screens);
    std::vector<std::shared_ptr<Group>> groups;
    for (const auto& space : stored.spaces) {
        auto group = std::make_shared<Group>(space.name, space.shortcut, space.coordinates);
        group->setSize(space.size);
        groups.push_back(group);
    }
    workspace->setGroups(std::move(groups));
    UserDefaultsManager::saveWorkspaces({workspace});
}

void setUpDesktop(const Scenario& scenario) {
    auto& desktop = SimulatedDesktop::shared();
    desktop.reset();
    for (const auto& screen : scenario.screens) desktop.plugScreen(screen);
    desktop.setTrusted(scenario.trusted);
    for (const auto& app : scenario.apps) {
        desktop.addApplication(app.pid, app.name);
        for (const auto& window : app.windows) desktop.addWindow(window);
    }
    if (scenario.frontmost) desktop.activateApplication(*scenario.frontmost);
}

Value number(CGFloat n) {
    if (std::nearbyint(n) == n && std::abs(n) < 1e15) return static_cast<int64_t>(n);
    return n;
}

Value menuTitles(const NSMenu& menu) {
    Value::Array items;
    for (const auto& item : menu.itemArray()) {
        if (item->isSeparatorItem()) {
            items.push_back("-");
        } else if (item->submenu()) {
            items.push_back(Dictionary{{item->title(), menuTitles(*item->submenu())}});
        } else {
            items.push_back(item->title());
        }
    }
    return items;
}

// Picks the item with `title` in the menu or, depth first, in its submenus.
bool pickMenuItem(NSMenu& menu, const std::string& title) {
    for (size_t i = 0; i < menu.numberOfItems(); ++i) {
        auto item = menu.itemArray()[i];
        if (item->isSeparatorItem()) continue;
        if (item->title() == title) {
            menu.performActionForItemAtIndex(i);
            return true;
        }
        if (item->submenu() && pickMenuItem(*item->submenu(), title)) return true;
    }
    return false;
}

class Player {
  public:
    Player(std::ostream& out) : out_(out) {
        UsageEvents::observe([this](const std::string& name) { events_.push_back(name); });
    }
    ~Player() { UsageEvents::observe(nullptr); }

    void run(const Scenario& scenario) {
        // The measurement library was loaded as the process started, on the system clock; for the
        // scenario it loads as the scenario's clock begins, or its data would lie in that clock's
        // future and its first upload would not wait for the launch's initial delay.
        ZDMAnalytics::setLoadTimestamp(clock_->now());
        setUpDesktop(scenario);
        if (scenario.defaults) storeDefaults(*scenario.defaults, UserDefaultsManager::currentScreenFrames());
        auto interface = loadMainInterface();
        delegate_ = interface.delegate;
        app_ = NSApplication::sharedApplication();
        app_->setDelegate(delegate_);
        app_->finishLaunching();
        settle();
        printLine(0);
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            play(scenario.steps[i]);
            settle();
            printLine(i + 1);
        }
    }

  private:
    void play(const Step& step) {
        auto& desktop = SimulatedDesktop::shared();
        if (auto* press = std::get_if<Press>(&step.action)) {
            SimulatedInputEvent key;
            key.type = static_cast<uint32_t>(NSEventType::KeyDown);
            key.keyCode = static_cast<uint16_t>(press->keyCode);
            key.modifierFlags = press->modifierFlags;
            desktop.postInput(key);
        } else if (auto* unplug = std::get_if<Unplug>(&step.action)) {
            auto screens = desktop.screens();
            if (unplug->index >= screens.size())
                throw ScenarioError{step.place + ".unplug",
                                    "no screen at index " + std::to_string(unplug->index) + " (" +
                                        std::to_string(screens.size()) + " attached)"};
            desktop.unplugScreen(screens[unplug->index].displayID);
        } else if (auto* plug = std::get_if<Plug>(&step.action)) {
            desktop.plugScreen(plug->screen);
        } else if (auto* pick = std::get_if<MenuPick>(&step.action)) {
            pickStatusMenuItem(pick->title, step.place + ".menu");
        } else if (auto* advance = std::get_if<Advance>(&step.action)) {
            // First what earlier steps set off, so that the timers it arms exist before time moves.
            awaitBackgroundWork();
            clock_->advance(advance->seconds);
            awaitBackgroundWork();
        } else if (auto* create = std::get_if<CreateSpace>(&step.action)) {
            createSpace(*create, step.place + ".createSpace");
        } else if (auto* remove = std::get_if<DeleteSpace>(&step.action)) {
            deleteSpace(remove->row, step.place + ".deleteSpace");
        }
    }

    void pickStatusMenuItem(const std::string& title, const std::string& place) {
        auto item = delegate_->statusBarItem();
        if (!item || !item->menu() || !pickMenuItem(*item->menu(), title))
            throw ScenarioError{place, "the status menu has no item \"" + title + "\""};
    }

    // The "Spaces" pane as the user reaches it: on screen already, or through the status menu's
    // "Spaces ...", which opens the preferences window on it.
    struct ShownPane {
        std::shared_ptr<ViewController> pane;
        std::shared_ptr<NSWindow> window;
    };
    ShownPane spacesPane(const std::string& place) {
        if (app_->isTerminated()) throw ScenarioError{place, "the agent has quit"};
        if (auto shown = shownSpacesPane(); shown.pane) return shown;
        pickStatusMenuItem(kSpacesMenuTitle, place);
        RunLoop::runUntilIdle();
        if (auto shown = shownSpacesPane(); shown.pane) return shown;
        throw ScenarioError{place, "the Spaces pane did not open"};
    }

    static ShownPane shownSpacesPane() {
        for (const auto& window : NSWindow::orderedWindows()) {
            auto tabs = std::dynamic_pointer_cast<SettingsTabViewController>(window->contentViewController());
            if (!tabs || !tabs->activeTab()) continue;
            if (auto pane = std::dynamic_pointer_cast<ViewController>(tabs->panes().at(*tabs->activeTab())))
                return {pane, window};
        }
        return {};
    }

    // A click on the pane outside the rows clears the selection, which leaves "+" enabled and "−"
    // waiting for a row to be picked.
    static void clickPaneBackground(const ShownPane& shown) {
        simulate::click(shown.window, shown.pane->view()->convertPointToView({5, 5}, nullptr));
    }

    // "+", a drag over the frame on the overlay of the screen whose visible area holds it, the name
    // typed into the preview, and "Done".
    void createSpace(const CreateSpace& create, const std::string& place) {
        auto screens = NSScreen::screens();
        // In the screens' coordinates: origin at the bottom-left of the first screen, y up.
        const CGFloat primaryTop = screens.empty() ? 0 : screens.front()->frame().maxY();
        const CGRect frame{create.frame.origin.x, primaryTop - create.frame.maxY(), create.frame.width(),
                           create.frame.height()};
        auto holder = std::find_if(screens.begin(), screens.end(), [&](const auto& screen) {
            return CGRectIntersection(screen->visibleFrame(), frame) == frame;
        });
        if (holder == screens.end())
            throw ScenarioError{place + ".frame", "no screen holds this frame in its visible area"};
        const size_t screenIndex = holder - screens.begin();

        auto shown = spacesPane(place);
        clickPaneBackground(shown);
        simulate::click(shown.window, simulate::centerOf(*shown.pane->editSpacesButton()->button()));
        auto overlays = CreateSpacesManager::shared();
        if (overlays->windows().size() != screens.size())
            throw ScenarioError{place, "the create overlay did not open"};
        auto overlayWindow = overlays->windows()[screenIndex];
        auto overlay = overlays->views()[screenIndex];

        // Corners just inside the frame, so that the drag covers exactly the grid cells it overlaps.
        const CGFloat dx = std::min<CGFloat>(0.25, frame.width() / 4),
                      dy = std::min<CGFloat>(0.25, frame.height() / 4);
        auto inWindow = [&](CGFloat x, CGFloat y) { return overlayWindow->convertPointFromScreen({x, y}); };
        const CGPoint topLeft = inWindow(frame.minX() + dx, frame.maxY() - dy),
                      bottomRight = inWindow(frame.maxX() - dx, frame.minY() + dy);
        simulate::movePointer({create.frame.midX(), create.frame.midY()});
        simulate::drag(overlayWindow, topLeft, bottomRight);
        // A corner under the overlay's menu or message starts no selection; the other one does.
        if (!overlay->coors()) simulate::drag(overlayWindow, bottomRight, topLeft);
        if (!overlay->coors()) {
            overlays->closeAllWindows();
            throw ScenarioError{place + ".frame", "the create overlay took no selection there"};
        }
        auto preview = overlay->spaceView();
        simulate::click(overlayWindow, simulate::centerOf(*preview->groupNameLabel()->textField()));
        simulate::type(overlayWindow, create.name);
        simulate::click(overlayWindow, simulate::centerOf(*overlay->floatingMenu()->doneButton()));
    }

    // Picks the row, then "−".
    void deleteSpace(size_t row, const std::string& place) {
        auto shown = spacesPane(place);
        const auto& list = shown.pane->collectionView();
        const int rows = list->numberOfItemsInSection(0);
        if (row >= static_cast<size_t>(rows))
            throw ScenarioError{place, "the Spaces pane has no row " + std::to_string(row) + " (" +
                                           std::to_string(rows) + (rows == 1 ? " row)" : " rows)")};
        const NSIndexPath path{0, static_cast<int>(row)};
        clickPaneBackground(shown);
        simulate::click(shown.window, simulate::centerOf(*list->itemAtIndexPath(path)->view()));
        if (list->selectionIndexPaths() != NSIndexPathSet{path})
            throw ScenarioError{place,
                                "row " + std::to_string(row) + " of the Spaces pane cannot be selected"};
        simulate::click(shown.window, simulate::centerOf(*shown.pane->deleteSpacesButton()->button()));
    }

    // Lets the work that the agent runs off the main thread (the reporting client's queues and the
    // HTTP requests they send) finish, for at most kBackgroundWaitSeconds of real time, so that
    // what a step sets off does not depend on thread timing.
    static void awaitBackgroundWork() { BackgroundActivity::waitUntilSettled(kBackgroundWaitSeconds); }

    // Runs what the step set off on the main queue and lets the measurement library store what it
    // was handed, so that a line shows a step's effects; a terminated agent holds no hotkeys.
    void settle() {
        RunLoop::runUntilIdle();
        ZDMWaitUntilMeasurementIdle(kBackgroundWaitSeconds);
        if (app_->isTerminated()) MASShortcutMonitor::sharedMonitor()->unregisterAllShortcuts();
    }

    void printLine(size_t step) {
        auto& desktop = SimulatedDesktop::shared();
        Dictionary windows;
        for (const auto& w : desktop.windowsFrontToBack()) {
            windows.set(std::to_string(w.number),
                        Value::Array{number(w.bounds.origin.x), number(w.bounds.origin.y),
                                     number(w.bounds.size.width), number(w.bounds.size.height)});
        }
        std::vector<std::pair<int64_t, NSEventModifierFlags>> keys;
        for (const auto& s : MASShortcutMonitor::sharedMonitor()->registeredShortcuts())
            keys.emplace_back(s.keyCode(), s.modifierFlags());
        std::sort(keys.begin(), keys.end());
        Value::Array hotkeys;
        for (auto& [code, flags] : keys) hotkeys.push_back(Value::Array{code, flags});
        Value::Array events(events_.begin(), events_.end());
        events_.clear();

        auto frontmost = desktop.frontmostApplication();
        auto focused = desktop.focusedWindow();
        Dictionary line{{"step", static_cast<int64_t>(step)},
                        {"frontmost", frontmost ? Value(static_cast<int64_t>(*frontmost)) : Value()},
                        {"focused", focused ? Value(static_cast<int64_t>(*focused)) : Value()},
                        {"windows", std::move(windows)},
                        {"hotkeys", std::move(hotkeys)},
                        {"events", std::move(events)}};
        if (step == 0) {
            auto item = delegate_->statusBarItem();
            line.set("menu", item && item->menu() ? menuTitles(*item->menu()) : Value(Value::Array{}));
        }
        out_ << json::write(line) << '\n' << std::flush;
    }

    std::ostream& out_;
    ScopedManualClock clock_;
    std::vector<std::string> events_;
    std::shared_ptr<AppDelegate> delegate_;
    std::shared_ptr<NSApplication> app_;
};

// A directory cannot be read as text and a device such as /dev/zero never ends: readFile refuses
// both without blocking, and anything above the size limit.
std::optional<std::string> readScenarioFile(const std::filesystem::path& file, std::string& problem) {
    Error error;
    auto bytes = FileLocations::readFile(file, &error, kMaxScenarioBytes);
    if (bytes) return stringFromData(*bytes);
    std::error_code statusError;
    if (error.code == FileLocations::kFileReadTooLargeError)
        problem = "is larger than " + std::to_string(kMaxScenarioBytes >> 20) + " MiB";
    else if (std::filesystem::exists(file, statusError) &&
             !std::filesystem::is_regular_file(file, statusError))
        problem = "is not a regular file";
    else
        problem = "cannot be read";
    return std::nullopt;
}

// Error lines quote the file's bytes (keys, titles, what the JSON reader last read) to a terminal:
// control characters (C0, DEL and C1) and bytes that are not UTF-8 are written as \xNN, so a file
// cannot move the cursor, recolour the terminal or retitle it.
std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t length = utf8SequenceLength(text, i);
        // C1 controls, U+0080 to U+009F, are C2 80 to C2 9F.
        bool c1 = byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (length == 0 || c1 || byte < 0x20 || byte == 0x7F) {
            size_t end = i + std::max<size_t>(length, 1);
            for (; i < end; ++i) {
                auto escaped = static_cast<unsigned char>(text[i]);
                out += {'\\', 'x', kHex[escaped >> 4], kHex[escaped & 0xF]};
            }
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace

int play(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
    auto fail = [&](const std::string& place, const std::string& problem) {
        err << printable("quorvane: " + file.string() + ": " + (place.empty() ? "" : place + ": ") + problem)
            << '\n';
        return kMalformedScenario;
    };
    std::string problem;
    auto read = readScenarioFile(file, problem);
    if (!read) return fail("", problem);
    const std::string& text = *read;
    Error error;
    auto root = json::parse(text, &error);
    if (!root) return fail("", syntaxProblem(text, error));
    try {
        Scenario scenario = readScenario(*root);
        Player player(out);
        player.run(scenario);
    } catch (const ScenarioError& e) {
        return fail(e.place.empty() ? "top level" : e.place, e.problem);
    }
    return 0;
}
}  // namespace ScenarioPlayer
