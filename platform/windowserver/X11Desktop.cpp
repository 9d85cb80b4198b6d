#include "platform/windowserver/X11Desktop.h"

#include <poll.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "platform/dispatch/DispatchQueue.h"

struct X11Desktop::Atoms {
    xcb_ewmh_connection_t ewmh;
};

namespace {
std::atomic<X11Desktop*> connected{nullptr};

// How long a window-manager request may take to be answered before the caller reads on: long
// enough for a busy window manager, short enough that one that never answers cannot stall the agent.
constexpr auto kWindowManagerPatience = std::chrono::seconds(1);

template <class Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
Owned<Reply> own(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

bool hasAtom(const xcb_ewmh_get_atoms_reply_t& atoms, xcb_atom_t atom) {
    return std::find(atoms.atoms, atoms.atoms + atoms.atoms_len, atom) != atoms.atoms + atoms.atoms_len;
}

CGRect intersection(const CGRect& a, const CGRect& b) {
    const CGFloat x1 = std::max(a.minX(), b.minX()), y1 = std::max(a.minY(), b.minY());
    const CGFloat x2 = std::min(a.maxX(), b.maxX()), y2 = std::min(a.maxY(), b.maxY());
    if (x2 <= x1 || y2 <= y1) return a;
    return {x1, y1, x2 - x1, y2 - y1};
}

// How far the window manager shifts a requested position for the client's win_gravity: the
// reference point of the frame lands where the same point of the undecorated window would be.
CGFloat gravityShift(uint32_t gravity, bool horizontal, int32_t before, int32_t after) {
    if (gravity == XCB_GRAVITY_STATIC) return before;
    if (gravity < XCB_GRAVITY_NORTH_WEST || gravity > XCB_GRAVITY_SOUTH_EAST) return 0;
    const uint32_t place = horizontal ? (gravity - 1) % 3 : (gravity - 1) / 3;  // 0 start, 1 centre, 2 end
    return place * (before + after) / 2.0;
}
}  // namespace

bool X11Desktop::connect(const std::string& displayName, std::function<void()> connectionLost,
                         std::string* error) {
    int screenNumber = 0;
    xcb_connection_t* connection =
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        if (error) *error = "cannot connect to the X11 display";
        return false;
    }
    disconnect();
    connected.store(new X11Desktop(connection, screenNumber, std::move(connectionLost)));
    return true;
}

void X11Desktop::disconnect() {
    delete connected.exchange(nullptr);
}

X11Desktop* X11Desktop::current() {
    return connected.load();
}

X11Desktop::X11Desktop(xcb_connection_t* connection, int screenNumber, std::function<void()> connectionLost)
    : connection_(connection),
      screenNumber_(screenNumber),
      atoms_(std::make_unique<Atoms>()),
      connectionLost_(std::move(connectionLost)) {
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber_ && screens.rem; ++i) xcb_screen_next(&screens);
    root_ = screens.data->root;
    xcb_ewmh_init_atoms_replies(&atoms_->ewmh, xcb_ewmh_init_atoms(connection_, &atoms_->ewmh), nullptr);

    const uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootEvents);
    const auto* randr = xcb_get_extension_data(connection_, &xcb_randr_id);
    if (randr && randr->present) {
        auto version = own(
            xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
        hasMonitors_ = version && (version->major_version > 1 || version->minor_version >= 5);
        randrEventBase_ = randr->first_event;
        xcb_randr_select_input(connection_, root_,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
    refreshScreens();
    xcb_flush(connection_);
    source_ = RunLoop::addSource(xcb_get_file_descriptor(connection_), [this] { readEvents(); });
}

X11Desktop::~X11Desktop() {
    extensions_.clear();
    if (source_) RunLoop::removeSource(source_);
    for (auto* event : pending_) std::free(event);
    xcb_ewmh_connection_wipe(&atoms_->ewmh);
    xcb_disconnect(connection_);
}

uint64_t X11Desktop::addEventHandler(EventHandler handler) {
    const uint64_t token = nextToken_++;
    handlers_.emplace(token, std::make_shared<EventHandler>(std::move(handler)));
    return token;
}

void X11Desktop::removeEventHandler(uint64_t token) {
    handlers_.erase(token);
}

uint64_t X11Desktop::addScreenObserver(std::function<void()> observer) {
    const uint64_t token = nextToken_++;
    screenObservers_.emplace(token, std::make_shared<std::function<void()>>(std::move(observer)));
    return token;
}

void X11Desktop::removeScreenObserver(uint64_t token) {
    screenObservers_.erase(token);
}

// What a wait set aside comes first, then what the connection has.
void X11Desktop::readEvents() {
    for (;;) {
        xcb_generic_event_t* event = nullptr;
        if (!pending_.empty()) {
            event = pending_.front();
            pending_.erase(pending_.begin());
        } else {
            event = xcb_poll_for_event(connection_);
        }
        if (!event) break;
        auto owned = own(event);
        handle(*event);
    }
    if (source_ && xcb_connection_has_error(connection_)) {
        RunLoop::removeSource(source_);
        source_ = 0;
        if (connectionLost_) connectionLost_();
    }
}

void X11Desktop::handle(const xcb_generic_event_t& event) {
    const uint8_t type = event.response_type & 0x7F;
    const bool rootConfigured = type == XCB_CONFIGURE_NOTIFY &&
                                reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == root_;
    const bool randrChanged = randrEventBase_ && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                                  type == randrEventBase_ + XCB_RANDR_NOTIFY);
    if (rootConfigured || randrChanged) {
        auto before = screens_;
        refreshScreens();
        const bool changed = !std::equal(before.begin(), before.end(), screens_.begin(), screens_.end(),
                                         [](const X11Screen& a, const X11Screen& b) {
                                             return a.id == b.id && CGRectEqualToRect(a.bounds, b.bounds);
                                         });
        if (changed) {
            std::vector<std::shared_ptr<std::function<void()>>> observers;
            for (const auto& [token, observer] : screenObservers_) observers.push_back(observer);
            for (const auto& observer : observers) (*observer)();
        }
    }
    std::vector<std::shared_ptr<EventHandler>> handlers;
    for (const auto& [token, handler] : handlers_) handlers.push_back(handler);
    for (const auto& handler : handlers) (*handler)(event);
}

void X11Desktop::refreshScreens() {
    std::vector<X11Screen> found;
    if (hasMonitors_) {
        auto reply = own(xcb_randr_get_monitors_reply(
            connection_, xcb_randr_get_monitors(connection_, root_, 1), nullptr));
        for (auto it = reply ? xcb_randr_get_monitors_monitors_iterator(reply.get())
                             : xcb_randr_monitor_info_iterator_t{};
             it.rem; xcb_randr_monitor_info_next(&it)) {
            X11Screen screen{
                it.data->name,
                {CGFloat(it.data->x), CGFloat(it.data->y), CGFloat(it.data->width), CGFloat(it.data->height)},
                {}};
            if (it.data->primary)
                found.insert(found.begin(), screen);
            else
                found.push_back(screen);
        }
    }
    if (found.empty()) {
        auto geometry =
            own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), nullptr));
        if (geometry)
            found.push_back({root_, {0, 0, CGFloat(geometry->width), CGFloat(geometry->height)}, {}});
    }
    // The work area is the part of the root that docks and panels leave, on the current desktop.
    std::optional<CGRect> workArea;
    uint32_t desktop = 0;
    xcb_ewmh_get_current_desktop_reply(
        &atoms_->ewmh, xcb_ewmh_get_current_desktop(&atoms_->ewmh, screenNumber_), &desktop, nullptr);
    xcb_ewmh_get_workarea_reply_t areas;
    if (xcb_ewmh_get_workarea_reply(&atoms_->ewmh, xcb_ewmh_get_workarea(&atoms_->ewmh, screenNumber_),
                                    &areas, nullptr)) {
        if (desktop < areas.workarea_len) {
            const auto& area = areas.workarea[desktop];
            workArea = CGRect{CGFloat(area.x), CGFloat(area.y), CGFloat(area.width), CGFloat(area.height)};
        }
        xcb_ewmh_get_workarea_reply_wipe(&areas);
    }
    const CGPoint primary = found.empty() ? CGPoint{} : found.front().bounds.origin;
    for (auto& screen : found) {
        screen.visibleBounds = workArea ? intersection(screen.bounds, *workArea) : screen.bounds;
        screen.bounds.origin = {screen.bounds.origin.x - primary.x, screen.bounds.origin.y - primary.y};
        screen.visibleBounds.origin = {screen.visibleBounds.origin.x - primary.x,
                                       screen.visibleBounds.origin.y - primary.y};
    }
    rootOrigin_ = primary;
    screens_ = std::move(found);
}

CGPoint X11Desktop::origin() const {
    return rootOrigin_;
}

std::vector<xcb_window_t> X11Desktop::clientWindows() {
    std::vector<xcb_window_t> out;
    xcb_ewmh_get_windows_reply_t stacking;
    if (xcb_ewmh_get_client_list_stacking_reply(
            &atoms_->ewmh, xcb_ewmh_get_client_list_stacking(&atoms_->ewmh, screenNumber_), &stacking,
            nullptr)) {
        out.assign(stacking.windows, stacking.windows + stacking.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&stacking);
    }
    std::reverse(out.begin(), out.end());  // the window manager lists them bottom to top
    return out;
}

std::vector<X11Window> X11Desktop::windowsFrontToBack() {
    return describe(clientWindows());
}

std::optional<X11Window> X11Desktop::window(xcb_window_t id) {
    auto clients = clientWindows();
    if (std::find(clients.begin(), clients.end(), id) == clients.end()) return std::nullopt;
    auto described = describe({id});
    if (described.empty()) return std::nullopt;
    return described.front();
}

bool X11Desktop::hasApplication(pid_t pid) {
    if (pid <= 0) return false;
    auto windows = windowsFrontToBack();
    return std::any_of(windows.begin(), windows.end(), [&](const X11Window& w) { return w.pid == pid; });
}

std::optional<pid_t> X11Desktop::frontmostApplication() {
    xcb_window_t active = XCB_NONE;
    if (!xcb_ewmh_get_active_window_reply(
            &atoms_->ewmh, xcb_ewmh_get_active_window(&atoms_->ewmh, screenNumber_), &active, nullptr) ||
        active == XCB_NONE)
        return std::nullopt;
    auto described = window(active);
    if (!described || described->pid <= 0) return std::nullopt;
    return described->pid;
}

// Every request goes out before the first reply is awaited: one round trip for the whole list.
std::vector<X11Window> X11Desktop::describe(const std::vector<xcb_window_t>& ids) {
    auto& ewmh = atoms_->ewmh;
    struct Requests {
        xcb_translate_coordinates_cookie_t position;
        xcb_get_geometry_cookie_t geometry;
        xcb_get_property_cookie_t extents, pid, windowClass, type, state, desktop;
    };
    std::vector<Requests> requests;
    for (xcb_window_t id : ids) {
        requests.push_back({xcb_translate_coordinates(connection_, id, root_, 0, 0),
                            xcb_get_geometry(connection_, id), xcb_ewmh_get_frame_extents(&ewmh, id),
                            xcb_ewmh_get_wm_pid(&ewmh, id), xcb_icccm_get_wm_class(connection_, id),
                            xcb_ewmh_get_wm_window_type(&ewmh, id), xcb_ewmh_get_wm_state(&ewmh, id),
                            xcb_ewmh_get_wm_desktop(&ewmh, id)});
    }
    uint32_t currentDesktop = 0;
    const bool knowsDesktop = xcb_ewmh_get_current_desktop_reply(
        &ewmh, xcb_ewmh_get_current_desktop(&ewmh, screenNumber_), &currentDesktop, nullptr);
    const CGPoint offset = origin();
    const pid_t self = getpid();

    std::vector<X11Window> out;
    for (size_t i = 0; i < ids.size(); ++i) {
        Requests& r = requests[i];
        auto position = own(xcb_translate_coordinates_reply(connection_, r.position, nullptr));
        auto geometry = own(xcb_get_geometry_reply(connection_, r.geometry, nullptr));
        xcb_ewmh_get_extents_reply_t extents{};
        const bool hasExtents = xcb_ewmh_get_frame_extents_reply(&ewmh, r.extents, &extents, nullptr);
        uint32_t pid = 0;
        xcb_ewmh_get_wm_pid_reply(&ewmh, r.pid, &pid, nullptr);
        xcb_icccm_get_wm_class_reply_t windowClass;
        std::string name;
        if (xcb_icccm_get_wm_class_reply(connection_, r.windowClass, &windowClass, nullptr)) {
            name = windowClass.class_name ? windowClass.class_name : "";
            xcb_icccm_get_wm_class_reply_wipe(&windowClass);
        }
        xcb_ewmh_get_atoms_reply_t types, states;
        int layer = 0;
        if (xcb_ewmh_get_wm_window_type_reply(&ewmh, r.type, &types, nullptr)) {
            if (hasAtom(types, ewmh._NET_WM_WINDOW_TYPE_DESKTOP))
                layer = kX11DesktopLayer;
            else if (hasAtom(types, ewmh._NET_WM_WINDOW_TYPE_DOCK))
                layer = kX11DockLayer;
            xcb_ewmh_get_atoms_reply_wipe(&types);
        }
        bool minimized = false;
        if (xcb_ewmh_get_wm_state_reply(&ewmh, r.state, &states, nullptr)) {
            minimized = hasAtom(states, ewmh._NET_WM_STATE_HIDDEN);
            xcb_ewmh_get_atoms_reply_wipe(&states);
        }
        uint32_t desktop = 0;
        const bool hasDesktop = xcb_ewmh_get_wm_desktop_reply(&ewmh, r.desktop, &desktop, nullptr);
        if (!position || !geometry) continue;  // gone meanwhile

        X11Window window;
        window.id = ids[i];
        window.pid = static_cast<pid_t>(pid);
        window.applicationName = std::move(name);
        if (!hasExtents) extents = {};
        window.frame = {CGFloat(position->dst_x) - extents.left - offset.x,
                        CGFloat(position->dst_y) - extents.top - offset.y,
                        CGFloat(geometry->width + extents.left + extents.right),
                        CGFloat(geometry->height + extents.top + extents.bottom)};
        window.layer = window.pid == self ? kX11OwnWindowLayer : layer;
        window.minimized = minimized;
        window.onCurrentWorkspace =
            !knowsDesktop || !hasDesktop || desktop == 0xFFFFFFFF || desktop == currentDesktop;
        out.push_back(std::move(window));
    }
    return out;
}

std::optional<X11Desktop::Geometry> X11Desktop::geometry(xcb_window_t id) {
    auto described = describe({id});
    if (described.empty()) return std::nullopt;
    Geometry g;
    g.frame = described.front().frame;
    xcb_ewmh_get_extents_reply_t extents{};
    if (xcb_ewmh_get_frame_extents_reply(&atoms_->ewmh, xcb_ewmh_get_frame_extents(&atoms_->ewmh, id),
                                         &extents, nullptr)) {
        g.left = extents.left;
        g.right = extents.right;
        g.top = extents.top;
        g.bottom = extents.bottom;
    }
    xcb_size_hints_t hints{};
    if (xcb_icccm_get_wm_normal_hints_reply(connection_, xcb_icccm_get_wm_normal_hints(connection_, id),
                                            &hints, nullptr) &&
        (hints.flags & XCB_ICCCM_SIZE_HINT_P_WIN_GRAVITY))
        g.gravity = hints.win_gravity;
    return g;
}

// A position request names where the undecorated window would stand; the window manager puts the
// frame there according to the window's gravity.
void X11Desktop::moveWindow(xcb_window_t id, CGPoint frameOrigin) {
    auto g = geometry(id);
    if (!g) return;
    const CGPoint root{frameOrigin.x + origin().x, frameOrigin.y + origin().y};
    const auto x =
        static_cast<int32_t>(std::lround(root.x + gravityShift(g->gravity, true, g->left, g->right)));
    const auto y =
        static_cast<int32_t>(std::lround(root.y + gravityShift(g->gravity, false, g->top, g->bottom)));
    configure(id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, {uint32_t(x), uint32_t(y)});
}

// The frame keeps its top-left corner whatever the window's gravity, so the position goes along.
void X11Desktop::resizeWindow(xcb_window_t id, CGSize frameSize) {
    auto g = geometry(id);
    if (!g) return;
    const auto width = std::max<long>(1, std::lround(frameSize.width) - g->left - g->right);
    const auto height = std::max<long>(1, std::lround(frameSize.height) - g->top - g->bottom);
    const CGPoint root{g->frame.origin.x + origin().x, g->frame.origin.y + origin().y};
    const auto x =
        static_cast<int32_t>(std::lround(root.x + gravityShift(g->gravity, true, g->left, g->right)));
    const auto y =
        static_cast<int32_t>(std::lround(root.y + gravityShift(g->gravity, false, g->top, g->bottom)));
    configure(id,
              XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
              {uint32_t(x), uint32_t(y), uint32_t(width), uint32_t(height)});
}

void X11Desktop::raiseWindow(xcb_window_t id) {
    configure(id, XCB_CONFIG_WINDOW_STACK_MODE, {XCB_STACK_MODE_ABOVE});
}

void X11Desktop::activateWindow(xcb_window_t id) {
    xcb_ewmh_request_change_active_window(&atoms_->ewmh, screenNumber_, id, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, XCB_NONE);
    xcb_flush(connection_);
}

// The window manager answers a client's configure request with a ConfigureNotify, a real one when
// the window changed size and one it sends itself otherwise, even when nothing changed. Reading
// the window's attributes first is a round trip: every event from before the request is then
// already here and set aside, so only the answer ends the wait.
void X11Desktop::configure(xcb_window_t id, uint16_t mask, const std::vector<uint32_t>& values) {
    auto attributes = own(
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, id), nullptr));
    if (!attributes) return;
    if (!(attributes->your_event_mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY)) {
        const uint32_t events = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, id, XCB_CW_EVENT_MASK, &events);
    }
    while (auto* event = xcb_poll_for_queued_event(connection_)) pending_.push_back(event);
    xcb_configure_window(connection_, id, mask, values.data());
    xcb_flush(connection_);
    waitForConfigureNotify(id);
}

bool X11Desktop::waitForConfigureNotify(xcb_window_t id) {
    const auto deadline = std::chrono::steady_clock::now() + kWindowManagerPatience;
    for (;;) {
        while (auto* event = xcb_poll_for_event(connection_)) {
            pending_.push_back(event);
            if ((event->response_type & 0x7F) == XCB_CONFIGURE_NOTIFY &&
                reinterpret_cast<xcb_configure_notify_event_t*>(event)->window == id)
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(connection_)) return false;
        pollfd readable{xcb_get_file_descriptor(connection_), POLLIN, 0};
        poll(&readable, 1, static_cast<int>(left.count()));
    }
}
