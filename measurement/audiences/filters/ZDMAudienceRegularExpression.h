#pragma once
// A compiled audience pattern. Patterns come from the server and run on the engine's only worker
// queue for every event, so each search is bounded in time and backtracking stack: a pattern that
// would backtrack for ages answers "no answer" instead of stalling all measurement.
#include <memory>
#include <optional>
#include <string>

class ZDMAudienceRegularExpression {
  public:
    // A hundred steps of the matcher, about a million backtracking moves (tens of milliseconds):
    // far beyond what a sane pattern needs on an event value, short enough not to stall the queue.
    static constexpr int32_t kTimeLimitSteps = 100;
    static constexpr int32_t kStackLimitBytes = 1 << 20;

    // nullptr with the engine's error name in `error` when the pattern does not compile.
    static std::unique_ptr<ZDMAudienceRegularExpression> compile(const std::string& pattern,
                                                                 bool caseInsensitive, std::string* error);
    ~ZDMAudienceRegularExpression();

    // Whether a match starts anywhere in `text`; nullopt with the engine's error when the search
    // hit its limits or failed.
    std::optional<bool> search(const std::string& text, std::string* error) const;

  private:
    struct Compiled;
    explicit ZDMAudienceRegularExpression(std::unique_ptr<Compiled> compiled);
    std::unique_ptr<Compiled> compiled_;
};
