#pragma once
// A point in time as seconds since 2001-01-01 00:00:00 UTC (the platform's reference date).
// "now" always comes from the process clock, so tests control it.
#include <compare>
#include <cstdint>

class Date {
  public:
    static constexpr double kReferenceToUnix = 978307200.0;  // seconds from 1970 to 2001

    constexpr Date() = default;
    static Date now();
    static constexpr Date fromReference(double seconds) { return Date(seconds); }
    static constexpr Date fromUnix(double seconds) { return Date(seconds - kReferenceToUnix); }
    static constexpr Date fromUnixMillis(int64_t ms) { return fromUnix(static_cast<double>(ms) / 1000.0); }
    static Date distantPast() { return Date(-63114076800.0); }
    static Date distantFuture() { return Date(63113904000.0); }

    constexpr double timeIntervalSinceReferenceDate() const { return seconds_; }
    constexpr double timeIntervalSince1970() const { return seconds_ + kReferenceToUnix; }
    int64_t unixMillis() const;
    constexpr double timeIntervalSince(Date other) const { return seconds_ - other.seconds_; }
    constexpr Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }

    constexpr auto operator<=>(const Date&) const = default;

  private:
    constexpr explicit Date(double seconds) : seconds_(seconds) {}
    double seconds_ = 0;
};
