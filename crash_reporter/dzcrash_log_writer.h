#pragma once
// The crash log writer. Set-up (init, set_exception, store_custom_data, release) runs in ordinary
// code and copies every fact that does not change during the run into plain buffers of the state.
// The crash-time write then suspends the other threads, walks every stack and encodes the report
// into a report sink: it allocates nothing (beyond the kernel's own thread list), takes no lock
// and throws nothing.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/dzcrash_signal.h"
#include "crash_reporter/format/dzcrash_report_sink.h"
#include "platform/foundation/Exception.h"

// Every text is a malloc'd NUL-terminated copy, null when absent.
struct dzcrash_log_writer_state {
    uint32_t symbolication_strategy;  // 0 writes no symbols
    bool user_requested;
    uint8_t uuid[16];

    struct {
        char* os_version;
        char* os_build;
    } system_info;

    struct {
        char* model;
        uint64_t cpu_type;
        uint64_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;

    struct {
        char* app_identifier;
        char* app_version;
        char* app_marketing_version;
    } application_info;

    struct {
        char* process_name;
        pid_t process_id;
        // The executable's path; its length counts the terminating NUL, which is written too.
        char* process_path;
        size_t process_path_length;
        char* parent_process_name;
        pid_t parent_process_id;
        bool native;
        uint64_t start_time;  // seconds since 1970
    } process_info;

    struct {
        bool has_exception;
        char* name;
        char* reason;
        uint64_t* callstack;
        size_t callstack_count;
    } uncaught_exception;

    struct {
        uint8_t* data;
        size_t length;
        bool present;
    } custom_data;
};

// A Mach exception that the crash came through: its type and codes.
struct dzcrash_log_writer_mach_exception {
    uint64_t type;
    const int64_t* codes;
    size_t code_count;
};

// The signal a report names: translated into the report's numbering (a host signal without a
// counterpart is written "#<number>", as is a code the table lacks), its fault address and, on the
// Mach road, the exception.
struct dzcrash_log_writer_signal {
    dzcrash_report_signal_t signal;
    uint64_t address;
    const dzcrash_log_writer_mach_exception* mach_exception;  // null on the signal road
};

// At most this many frames are written per thread and per exception.
inline constexpr uint32_t kDZCrashLogWriterMaxFrames = 512;
// The size limit of a report file.
inline constexpr size_t kDZCrashReportFileLimit = 262144;

// Zeroes the state and fills it. DZCRASH_EINVAL when the current process cannot be described (the
// state then holds only the strategy, flag, UUID and application facts, and still needs a release).
dzcrash_error_t dzcrash_log_writer_init(dzcrash_log_writer_state* writer, const char* app_identifier,
                                        const char* app_version, const char* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested);
// Records the uncaught exception; a second one is a fatal error.
void dzcrash_log_writer_set_exception(dzcrash_log_writer_state* writer, const ExceptionRecord& exception);
// Replaces the custom data; null clears it.
void dzcrash_log_writer_store_custom_data(dzcrash_log_writer_state* writer, const uint8_t* data,
                                          size_t length);

// Writes the whole report to `sink`, which keeps it within its limit: the fixed sections, the
// signal, the crashed thread, the images, the exception and the custom data get their room first,
// and whatever no longer fits (a thread, a frame, an image) is left out whole, so the file always
// decodes. `crashed_thread_state` is the calling thread's state: it is written with it (as the
// crashed thread when it is the one named), and left out when it is null.
dzcrash_error_t dzcrash_log_writer_write(dzcrash_log_writer_state* writer, thread_t crashed_thread,
                                         dzcrash_image_list* image_list, dzcrash_report_sink* sink,
                                         const dzcrash_log_writer_signal* signal,
                                         const dzcrash_async_thread_state* crashed_thread_state) noexcept;
dzcrash_error_t dzcrash_log_writer_finish(dzcrash_log_writer_state* writer) noexcept;
// Frees every buffer of the state.
void dzcrash_log_writer_release(dzcrash_log_writer_state* writer);

// Opens `path` (created or truncated, mode 0644), writes the report within kDZCrashReportFileLimit
// and closes it. DZCRASH_EINTERNAL when the open, the flush or the close fails (the callers then
// count no report as written); otherwise the writer's result.
dzcrash_error_t dzcrash_write_report_file(dzcrash_log_writer_state* writer, const char* path,
                                          dzcrash_image_list* image_list, thread_t crashed_thread,
                                          const dzcrash_async_thread_state* crashed_thread_state,
                                          const dzcrash_log_writer_signal* signal) noexcept;
