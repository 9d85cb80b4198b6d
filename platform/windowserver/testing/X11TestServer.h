#pragma once
// A real X server for a test: Xvfb on a display number it picks itself, with a small EWMH window
// manager (openbox) on it, and a client connection of the test's own that makes windows as other
// applications would (with their pid and class), presses keys through XTEST and reads back what the
// server and the window manager did. Everything it reports is read from the server, never from the
// code under test. Link xcb, xcb-ewmh, xcb-icccm, xcb-randr, xcb-xtest and xcb-keysyms.
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/windowserver/CGGeometry.h"
#include "testing/ChildProcess.h"
#include "testing/Eventually.h"

class X11TestServer {
  public:
    // A screen of `width` × `height` pixels, with one RandR monitor covering it.
    X11TestServer(int width = 1440, int height = 900) {
        const char* base = std::getenv("QUORVANE_TEST_TMP");
        std::random_device random;
        scratch_ = std::filesystem::path(base ? base : "/tmp") / ("x11-" + std::to_string(random()));
        std::filesystem::create_directories(scratch_);
        if (!startServer(width, height) || !connectClient() || !startWindowManager()) return;
        ready_ = true;
    }

    ~X11TestServer() {
        if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
        if (symbols_) xcb_key_symbols_free(symbols_);
        if (connection_) xcb_disconnect(connection_);
        for (pid_t child : {windowManager_, server_}) {
            if (child <= 0) continue;
            kill(child, SIGTERM);
            waitForChild(child, 20);
        }
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    // False when Xvfb or the window manager did not come up; the test then has nothing to test.
    bool ready() const { return ready_; }
    const std::string& display() const { return display_; }
    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

    struct WindowSpec {
        pid_t pid;
        std::string applicationClass;
        CGRect frame;                     // where the window manager is asked to put the frame
        std::optional<CGSize> maxSize{};  // of the undecorated window
    };

    // Maps a window and waits until the window manager manages it.
    xcb_window_t createWindow(const WindowSpec& spec) {
        const xcb_window_t window = xcb_generate_id(connection_);
        const auto width = static_cast<uint16_t>(spec.frame.size.width);
        const auto height = static_cast<uint16_t>(spec.frame.size.height);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, int16_t(spec.frame.origin.x),
                          int16_t(spec.frame.origin.y), width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 1, int32_t(spec.frame.origin.x),
                                          int32_t(spec.frame.origin.y));
        xcb_icccm_size_hints_set_size(&hints, 1, width, height);
        if (spec.maxSize)
            xcb_icccm_size_hints_set_max_size(&hints, int32_t(spec.maxSize->width),
                                              int32_t(spec.maxSize->height));
        xcb_icccm_set_wm_normal_hints(connection_, window, &hints);
        xcb_ewmh_set_wm_pid(&ewmh_, window, static_cast<uint32_t>(spec.pid));
        const std::string wmClass = spec.applicationClass + '\0' + spec.applicationClass;
        xcb_icccm_set_wm_class(connection_, window, static_cast<uint32_t>(wmClass.size() + 1),
                               wmClass.c_str());
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
        eventually([&] {
            auto stacking = stackingFrontToBack();
            if (std::find(stacking.begin(), stacking.end(), window) != stacking.end()) return true;
            wakeWindowManager();
            return false;
        });
        return window;
    }

    // The window manager's client windows, front to back.
    std::vector<xcb_window_t> stackingFrontToBack() {
        std::vector<xcb_window_t> out;
        xcb_ewmh_get_windows_reply_t stacking;
        if (xcb_ewmh_get_client_list_stacking_reply(&ewmh_, xcb_ewmh_get_client_list_stacking(&ewmh_, 0),
                                                    &stacking, nullptr)) {
            out.assign(stacking.windows, stacking.windows + stacking.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&stacking);
        }
        std::reverse(out.begin(), out.end());
        return out;
    }

    // Asks the window manager to activate the window, as a pager would.
    void activate(xcb_window_t window) {
        xcb_ewmh_request_change_active_window(&ewmh_, 0, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                              XCB_CURRENT_TIME, XCB_NONE);
        xcb_flush(connection_);
    }

    xcb_window_t activeWindow() {
        xcb_window_t active = XCB_NONE;
        xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, 0), &active, nullptr);
        return active;
    }

    // The window's own rectangle on the root, and its frame with the window manager's decorations.
    CGRect clientRect(xcb_window_t window) {
        auto position = own(xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr));
        auto geometry =
            own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
        if (!position || !geometry) return CGRectZero;
        return {CGFloat(position->dst_x), CGFloat(position->dst_y), CGFloat(geometry->width),
                CGFloat(geometry->height)};
    }

    CGRect frameRect(xcb_window_t window) {
        CGRect client = clientRect(window);
        xcb_ewmh_get_extents_reply_t extents{};
        xcb_ewmh_get_frame_extents_reply(&ewmh_, xcb_ewmh_get_frame_extents(&ewmh_, window), &extents,
                                         nullptr);
        return {client.origin.x - extents.left, client.origin.y - extents.top,
                client.size.width + extents.left + extents.right,
                client.size.height + extents.top + extents.bottom};
    }

    // Presses and releases `key` with the modifier keys held, as a user at the keyboard would.
    void press(xcb_keysym_t key, const std::vector<xcb_keysym_t>& modifiers = {}) {
        for (xcb_keysym_t modifier : modifiers) fake(XCB_KEY_PRESS, modifier);
        fake(XCB_KEY_PRESS, key);
        fake(XCB_KEY_RELEASE, key);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) fake(XCB_KEY_RELEASE, *it);
        xcb_flush(connection_);
    }

    // Whether another client holds a grab of `key` with these X modifiers on the root. The server is
    // grabbed meanwhile, so the probe's own grab cannot take the keys from a client registering them.
    bool keyTakenByAnother(xcb_keysym_t key, uint16_t modifiers) {
        xcb_grab_server(connection_);
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, keycode(key),
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        auto error = own(xcb_request_check(connection_, cookie));
        if (!error) xcb_ungrab_key(connection_, keycode(key), root_, modifiers);
        xcb_ungrab_server(connection_);
        xcb_flush(connection_);
        return error && error->error_code == XCB_ACCESS;
    }

    // Holds a grab of the key, as another program's shortcut would.
    bool grabKey(xcb_keysym_t key, uint16_t modifiers) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, keycode(key),
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        return !own(xcb_request_check(connection_, cookie));
    }

    // A RandR monitor; the first that takes the server's one output replaces the monitor it made.
    void setMonitor(const std::string& name, CGRect bounds, bool primary, bool takesOutput) {
        std::vector<uint8_t> request(sizeof(xcb_randr_monitor_info_t) + sizeof(xcb_randr_output_t), 0);
        auto* info = reinterpret_cast<xcb_randr_monitor_info_t*>(request.data());
        info->name = atom(name);
        info->primary = primary;
        info->x = int16_t(bounds.origin.x);
        info->y = int16_t(bounds.origin.y);
        info->width = uint16_t(bounds.size.width);
        info->height = uint16_t(bounds.size.height);
        info->width_in_millimeters = uint32_t(bounds.size.width / 4);
        info->height_in_millimeters = uint32_t(bounds.size.height / 4);
        if (takesOutput) {
            info->nOutput = 1;
            *reinterpret_cast<xcb_randr_output_t*>(info + 1) = output();
        }
        // Sent by hand: the library's request builder miscounts a monitor without outputs.
        struct {
            uint8_t major, minor;
            uint16_t length;
            xcb_window_t window;
        } header{0, XCB_RANDR_SET_MONITOR, 0, root_};
        iovec parts[4];
        parts[2] = {&header, sizeof header};
        parts[3] = {request.data(),
                    sizeof(xcb_randr_monitor_info_t) + info->nOutput * sizeof(xcb_randr_output_t)};
        xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        own(xcb_request_check(connection_,
                              {xcb_send_request(connection_, XCB_REQUEST_CHECKED, parts + 2, &protocol)}));
    }

    void deleteMonitor(const std::string& name) {
        own(xcb_request_check(connection_, xcb_randr_delete_monitor_checked(connection_, root_, atom(name))));
    }

  private:
    template <class Reply>
    static std::unique_ptr<Reply, decltype(&std::free)> own(Reply* reply) {
        return {reply, &std::free};
    }

    // -displayfd lets the server choose a free display number and say it once it accepts clients.
    bool startServer(int width, int height) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) return false;
        fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
        server_ = spawnChild(
            {"/usr/bin/Xvfb", "-displayfd", std::to_string(pipeEnds[1]), "-screen", "0",
             std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp", "-noreset"},
            {.quiet = true});
        close(pipeEnds[1]);
        std::string number;
        pollfd readable{pipeEnds[0], POLLIN, 0};
        while (server_ > 0 && poll(&readable, 1, int(kTestPatience.count() * 1000)) > 0) {
            char c;
            if (read(pipeEnds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        close(pipeEnds[0]);
        if (number.empty()) return false;
        display_ = ":" + number;
        return true;
    }

    bool connectClient() {
        connection_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) return false;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        ewmhReady_ = xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr);
        symbols_ = xcb_key_symbols_alloc(connection_);
        return ewmhReady_ && symbols_;
    }

    // A configuration of the test's own: no key bindings of the window manager's to collide with.
    bool startWindowManager() {
        const auto config = scratch_ / "rc.xml";
        std::ofstream(config) << R"(<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <theme><name>Clearlooks</name></theme>
  <desktops><number>2</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
)";
        const std::string home = scratch_.string();
        windowManager_ =
            spawnChild({"/usr/bin/openbox", "--sm-disable", "--config-file", config.string()},
                       {.environment = {"DISPLAY=" + display_, "HOME=" + home, "XDG_CONFIG_HOME=" + home,
                                        "XDG_CACHE_HOME=" + home, "XDG_DATA_HOME=" + home},
                        .quiet = true});
        if (windowManager_ <= 0) return false;
        return eventually([&] {
            xcb_window_t check = XCB_NONE;
            return xcb_ewmh_get_supporting_wm_check_reply(
                       &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, root_), &check, nullptr) &&
                   check != XCB_NONE;
        });
    }

    // Just after it starts, the window manager may sit on a request it has read but not handled
    // until its connection brings something new: a property change on the root does.
    void wakeWindowManager() {
        const uint32_t nothing = 0;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root_, atom("_QUORVANE_TEST_WAKE"),
                            XCB_ATOM_CARDINAL, 32, 1, &nothing);
        xcb_flush(connection_);
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym) {
        auto codes = own(xcb_key_symbols_get_keycode(symbols_, keysym));
        return codes ? codes.get()[0] : 0;
    }

    void fake(uint8_t type, xcb_keysym_t keysym) {
        xcb_test_fake_input(connection_, type, keycode(keysym), XCB_CURRENT_TIME, root_, 0, 0, 0);
    }

    xcb_atom_t atom(const std::string& name) {
        auto reply = own(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(name.size()), name.c_str()), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    xcb_randr_output_t output() {
        auto resources = own(xcb_randr_get_screen_resources_current_reply(
            connection_, xcb_randr_get_screen_resources_current(connection_, root_), nullptr));
        if (!resources || resources->num_outputs == 0) return XCB_NONE;
        return xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
    }

    std::filesystem::path scratch_;
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    xcb_key_symbols_t* symbols_ = nullptr;
    bool ready_ = false;
};
