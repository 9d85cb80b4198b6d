#pragma once
// Signal and signal-code names as reports carry them. Reports keep one numbering whatever the host
// (the one of the tables below), so a host's signal and code are translated once, where a signal is
// captured. Everything here is async-signal-safe.

// The name of a signal in the report's numbering, null for numbers outside the table.
const char* dzcrash_signal_name(int signal) noexcept;
// The name of a code of a signal in the report's numbering, null for pairs outside the table.
const char* dzcrash_signal_code_name(int signal, int code) noexcept;

// A host signal and code in the report's numbering.
struct dzcrash_report_signal_t {
    int signal;            // the report's number; the host's own when `has_counterpart` is false
    int code;              // the report's code; 0 for every code a sender rather than a fault sets
    bool has_counterpart;  // whether the report's numbering has this signal at all
};

dzcrash_report_signal_t dzcrash_signal_from_host(int host_signal, int host_code) noexcept;
// The report's name for a translated signal: the table's, or null when there is none or the host
// signal has no counterpart. Where it is null the report writes "#" and `signal`, so a host signal
// that the table lacks appears with its host number, never under another signal's name.
const char* dzcrash_report_signal_name(const dzcrash_report_signal_t* signal) noexcept;
