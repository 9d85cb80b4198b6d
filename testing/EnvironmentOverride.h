#pragma once
// Sets environment variables for one test and puts the old values back when it goes out of scope,
// also when a failed assertion leaves the test early: a binary run whole as one process must not
// hand one test's environment to the next. Every change is followed by tzset(): the C library
// reads TZ once and keeps it.
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>

class EnvironmentOverride {
  public:
    EnvironmentOverride() = default;
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    ~EnvironmentOverride() {
        for (const auto& [name, old] : saved_) {
            if (old)
                setenv(name.c_str(), old->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        tzset();
    }
    // A null value removes the variable. The value from before the first change is the one restored.
    void set(const std::string& name, const char* value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name.c_str(), value, 1);
        else
            unsetenv(name.c_str());
        tzset();
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};
