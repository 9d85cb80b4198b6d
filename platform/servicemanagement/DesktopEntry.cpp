#include "platform/servicemanagement/DesktopEntry.h"

#include <cctype>

namespace {

// The value escapes every string value of the format knows.
std::string escapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case ' ':
                out += i == 0 ? "\\s" : " ";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// An Exec argument is split on spaces and read by a shell-like quoting rule, and '%' starts a field
// code, so a path with any of these characters must be quoted and its '%' doubled.
std::string execArgument(std::string_view path) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = path.empty() || path.find_first_of(reserved) != std::string_view::npos;
    std::string out = quote ? "\"" : "";
    for (char c : path) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A key is letters, digits and '-', optionally followed by a locale in brackets ("Name[de]").
bool isKey(std::string_view key) {
    size_t bracket = key.find('[');
    std::string_view base = key.substr(0, bracket);
    if (base.empty()) return false;
    for (char c : base)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
    if (bracket == std::string_view::npos) return true;
    std::string_view locale = key.substr(bracket + 1);
    return locale.size() > 1 && locale.back() == ']' && locale.find_first_of("[]") == locale.size() - 1;
}

// How one boolean key bears on the switch: `offValue` switches the entry off, the other boolean
// leaves it on, anything else leaves it unknown.
DesktopEntry::Switch switchOf(std::string_view value, std::string_view offValue) {
    if (value == offValue) return DesktopEntry::Switch::off;
    if (value == "true" || value == "false") return DesktopEntry::Switch::on;
    return DesktopEntry::Switch::unknown;
}

}  // namespace

std::string DesktopEntry::autostartEntry(std::string_view name, std::string_view executable) {
    std::string out = "[Desktop Entry]\nType=Application\n";
    out += "Name=" + escapeValue(name) + "\n";
    out += "Exec=" + escapeValue(execArgument(executable)) + "\n";
    out += "Hidden=false\nX-GNOME-Autostart-enabled=true\n";
    return out;
}

std::optional<DesktopEntry::Switch> DesktopEntry::readSwitch(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    bool sawGroup = false;
    bool inDesktopEntry = false;
    Switch hidden = Switch::on;
    Switch autostartEnabled = Switch::on;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        std::string_view content = trim(line);
        if (content.empty() || content.front() == '#') continue;
        if (content.front() == '[') {
            if (content.back() != ']' || content.find_first_of("[]", 1) != content.size() - 1)
                return std::nullopt;
            std::string_view group = content.substr(1, content.size() - 2);
            // Only the first group may be the entry itself.
            if (!sawGroup && group != "Desktop Entry") return std::nullopt;
            inDesktopEntry = !sawGroup;
            sawGroup = true;
            continue;
        }
        size_t equals = content.find('=');
        if (!sawGroup || equals == std::string_view::npos) return std::nullopt;
        std::string_view key = trim(content.substr(0, equals));
        if (!isKey(key)) return std::nullopt;
        if (!inDesktopEntry) continue;
        std::string_view value = trim(content.substr(equals + 1));
        if (key == "Hidden") hidden = switchOf(value, "true");
        if (key == "X-GNOME-Autostart-enabled") autostartEnabled = switchOf(value, "false");
    }
    if (!sawGroup) return std::nullopt;
    if (hidden == Switch::off || autostartEnabled == Switch::off) return Switch::off;
    if (hidden == Switch::unknown || autostartEnabled == Switch::unknown) return Switch::unknown;
    return Switch::on;
}
