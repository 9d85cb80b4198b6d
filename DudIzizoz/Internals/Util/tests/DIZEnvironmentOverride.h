#pragma once
// Sets environment variables for one test and puts the old values back afterwards.
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>

class DIZEnvironmentOverride {
public:
    ~DIZEnvironmentOverride() {
        for (const auto& [name, old] : saved_) {
            if (old) setenv(name.c_str(), old->c_str(), 1);
            else unsetenv(name.c_str());
        }
        tzset();
    }
    // A null value removes the variable.
    void set(const std::string& name, const char* value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) setenv(name.c_str(), value, 1);
        else unsetenv(name.c_str());
        tzset();
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};
