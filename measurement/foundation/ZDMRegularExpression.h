#pragma once
// Regular expressions that arrive from the server, in the engine's own syntax. They run on the
// measurement worker queue, so every search is bounded in matcher steps and backtracking stack: a
// pattern that would backtrack for ages fails with a time-out instead of stalling all measurement.
// A compiled expression keeps search state, so it serves one search at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/foundation/Error.h"

// Failures of the engine: the code is the engine's status, the description that status's name.
inline constexpr const char* kZDMRegularExpressionErrorDomain = "ICURegularExpressionErrorDomain";

class ZDMRegularExpression {
  public:
    // A hundred matcher steps, about a million backtracking moves (tens of milliseconds): far beyond
    // what a sane pattern needs on an event value, short enough not to stall the queue.
    static constexpr int32_t kTimeLimitSteps = 100;
    static constexpr int32_t kStackLimitBytes = 1 << 20;

    // Counted in the code units of the searched text: UTF-16 units or UTF-8 bytes.
    struct Match {
        size_t location;
        size_t length;
    };

    // nullptr with the engine's error when the pattern does not compile.
    static std::unique_ptr<ZDMRegularExpression> compile(std::u16string_view pattern, bool caseInsensitive,
                                                         Error* error);
    static std::unique_ptr<ZDMRegularExpression> compile(std::string_view pattern, bool caseInsensitive,
                                                         Error* error);
    ~ZDMRegularExpression();

    // The first match in the whole of `text`: nullopt when there is none (`error` untouched), or
    // when the search passed a limit or failed (with the engine's error).
    std::optional<Match> firstMatch(std::u16string_view text, Error* error) const;
    std::optional<Match> firstMatch(std::string_view text, Error* error) const;

  private:
    struct Compiled;
    explicit ZDMRegularExpression(std::unique_ptr<Compiled> compiled);
    std::unique_ptr<Compiled> compiled_;
};

// Compiles `pattern` without options and answers its first match in `text`, as firstMatch does;
// a pattern that does not compile gives nullopt with the engine's error.
std::optional<ZDMRegularExpression::Match> ZDMFirstRegularExpressionMatch(std::u16string_view pattern,
                                                                          std::u16string_view text,
                                                                          Error* error);
