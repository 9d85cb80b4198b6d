#pragma once
// Plays a scenario file against the agent on the simulated desktop: sets up the screens, the
// applications and their windows and (optionally) the stored settings, launches the agent, plays
// the steps, and writes one JSON line after launch and after each step. The file format and the
// lines are described in the README.
#include <filesystem>
#include <iosfwd>

namespace ScenarioPlayer {
inline constexpr int kMalformedScenario = 2;

// 0 when every step was played; kMalformedScenario, with the problem and its place written to
// `err`, for a file that cannot be read or a step that cannot be played.
int play(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
}  // namespace ScenarioPlayer
