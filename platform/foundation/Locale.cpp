#include "platform/foundation/Locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/foundation/Bundle.h"

namespace {

bool allOf(const std::string& s, int (*test)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(),
                                     [test](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

std::string mapped(std::string s, int (*convert)(int)) {
    for (char& c : s) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

Locale::Locale(const std::string& identifier) {
    // Encoding (".UTF-8") and modifier ("@euro") say nothing about language or region.
    std::string tag = identifier.substr(0, identifier.find_first_of(".@"));
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= tag.size()) {
        size_t end = tag.find_first_of("-_", start);
        if (end == std::string::npos) end = tag.size();
        parts.push_back(tag.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty() || !allOf(parts[0], isalpha) || parts[0].size() < 2 || parts[0].size() > 3) return;
    language_ = mapped(parts[0], tolower);
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (!script_ && !region_ && p.size() == 4 && allOf(p, isalpha)) {
            script_ = mapped(p.substr(0, 1), toupper) + mapped(p.substr(1), tolower);
        } else if (!region_ &&
                   ((p.size() == 2 && allOf(p, isalpha)) || (p.size() == 3 && allOf(p, isdigit)))) {
            region_ = mapped(p, toupper);
        }
    }
}

Locale Locale::current() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(variable); value && *value) {
            std::string id = value;
            if (id == "C" || id == "POSIX" || id.rfind("C.", 0) == 0) return Locale("");
            return Locale(id);
        }
    }
    return Locale("");
}

std::vector<std::string> Locale::preferredLanguages() {
    return Bundle::preferredLanguages();
}
