#pragma once
// The process's one connection to an X11 display, when it runs on one, and what the platform's
// stand-ins read and change through it: the window manager's client windows (its EWMH and ICCCM
// properties), the RandR monitors, and requests to the window manager. Only the X11 backends of
// the stand-ins include this header.
//
// The connection's events are read on the main run loop and handed to every handler in the order
// they came; a backend that needs more of the display (windows of its own, the keyboard) adds a
// handler and sends its requests on connection() rather than opening a second connection. Use it
// on the main thread.
//
// Rectangles are global points: root-window pixels with the origin moved to the top-left of the
// primary monitor, y growing downwards. A window's frame includes the window manager's decorations.
#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/windowserver/CGGeometry.h"

// Window-server layers the X11 window types map to: ordinary application windows are 0.
inline constexpr int kX11DesktopLayer = -2147483627;
inline constexpr int kX11DockLayer = 20;
inline constexpr int kX11OwnWindowLayer = 25;

struct X11Window {
    xcb_window_t id = 0;
    pid_t pid = 0;                // _NET_WM_PID; 0 when the client does not say
    std::string applicationName;  // the class part of WM_CLASS
    CGRect frame;
    int layer = 0;  // docks and panels, desktops and this process's own windows are not 0
    bool minimized = false;
    bool onCurrentWorkspace = true;  // on the current desktop, or on all of them
};

struct X11Screen {
    uint32_t id = 0;  // the monitor's name atom: the same for as long as the server runs
    CGRect bounds;
    CGRect visibleBounds;  // less what docks and panels reserve
};

class X11Desktop {
  public:
    // Connects to `displayName` (empty: $DISPLAY) and, from then on, the stand-ins act on that
    // display. `connectionLost` runs on the main thread if the server goes away. False, with one
    // line in `error`, when no display answers.
    static bool connect(const std::string& displayName, std::function<void()> connectionLost,
                        std::string* error);
    // Back to the simulated desktop; tests connect and disconnect around each case.
    static void disconnect();
    // The display the stand-ins act on; null while they act on the simulated desktop.
    static X11Desktop* current();

    ~X11Desktop();

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

    // What a backend keeps for this connection (its keyboard mapping, say): made on first use with
    // this desktop, and gone with the connection, before it closes.
    template <class T>
    T& extension() {
        static const char key = 0;
        auto& slot = extensions_[&key];
        if (!slot) slot = std::make_shared<T>(*this);
        return *static_cast<T*>(slot.get());
    }

    using EventHandler = std::function<void(const xcb_generic_event_t& event)>;
    uint64_t addEventHandler(EventHandler handler);
    void removeEventHandler(uint64_t token);

    // Primary monitor first, then the others in the server's order.
    std::vector<X11Screen> screens() const { return screens_; }
    // Run on the main thread after the monitors changed.
    uint64_t addScreenObserver(std::function<void()> observer);
    void removeScreenObserver(uint64_t token);

    // The window manager's client windows, front to back.
    std::vector<X11Window> windowsFrontToBack();
    // A client window of the window manager; none for any other window.
    std::optional<X11Window> window(xcb_window_t id);
    bool hasApplication(pid_t pid);
    // The owner of the active window.
    std::optional<pid_t> frontmostApplication();

    // Ask the window manager, as the window's own client would, and wait (a bounded time) for its
    // answer, so that what is read next shows the result. The window's own size hints apply.
    void moveWindow(xcb_window_t id, CGPoint frameOrigin);
    void resizeWindow(xcb_window_t id, CGSize frameSize);
    void raiseWindow(xcb_window_t id);
    // The window manager's active-window request: its desktop is shown, it is raised and focused.
    void activateWindow(xcb_window_t id);

  private:
    struct Atoms;
    struct Geometry {
        CGRect frame;
        int32_t left = 0, right = 0, top = 0, bottom = 0;  // decorations
        uint32_t gravity = 1;                              // the client's own win_gravity
    };

    X11Desktop(xcb_connection_t* connection, int screenNumber, std::function<void()> connectionLost);
    void readEvents();
    void handle(const xcb_generic_event_t& event);
    void refreshScreens();
    CGPoint origin() const;
    std::vector<xcb_window_t> clientWindows();
    std::vector<X11Window> describe(const std::vector<xcb_window_t>& ids);
    std::optional<Geometry> geometry(xcb_window_t id);
    void configure(xcb_window_t id, uint16_t mask, const std::vector<uint32_t>& values);
    bool waitForConfigureNotify(xcb_window_t id);

    xcb_connection_t* connection_;
    int screenNumber_;
    xcb_window_t root_;
    std::unique_ptr<Atoms> atoms_;
    std::function<void()> connectionLost_;
    uint64_t source_ = 0;
    uint8_t randrEventBase_ = 0;
    bool hasMonitors_ = false;
    CGPoint rootOrigin_;  // the primary monitor's top-left corner on the root window
    std::vector<X11Screen> screens_;
    std::vector<xcb_generic_event_t*> pending_;  // read while waiting for an answer; handled next
    std::map<uint64_t, std::shared_ptr<EventHandler>> handlers_;
    std::map<uint64_t, std::shared_ptr<std::function<void()>>> screenObservers_;
    uint64_t nextToken_ = 1;
    std::map<const void*, std::shared_ptr<void>> extensions_;
};
