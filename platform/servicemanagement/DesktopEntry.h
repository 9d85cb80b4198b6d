#pragma once
// The small part of the desktop-entry format that autostart entries need: writing an entry that
// starts one program, and reading back whether an entry is switched on.
#include <optional>
#include <string>
#include <string_view>

namespace DesktopEntry {

// An application entry named `name` that runs `executable` without arguments at session start.
std::string autostartEntry(std::string_view name, std::string_view executable);

enum class Switch { on, off, unknown };

// Whether the entry's "Desktop Entry" group has it switched on ("Hidden" and
// "X-GNOME-Autostart-enabled"); unknown when one of them is neither "true" nor "false" and neither
// switches it off. No result when `text` is not a desktop entry.
std::optional<Switch> readSwitch(std::string_view text);

}  // namespace DesktopEntry
