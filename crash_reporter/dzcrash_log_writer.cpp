#include "crash_reporter/dzcrash_log_writer.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "crash_reporter/async/DZCrashHostInfo.h"
#include "crash_reporter/async/DZCrashProcessInfo.h"
#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_frame_cursor.h"
#include "crash_reporter/async/dzcrash_sysctl.h"
#include "crash_reporter/format/dzcrash_report_file.h"
#include "crash_reporter/format/dzcrash_writer_pack.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/UUID.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/thread_act.h"
#include "platform/mach/vm_map.h"

namespace {

// Field numbers of the report message and its sections.
enum : uint32_t {
    kReportSystemInfo = 1,
    kReportApplicationInfo = 2,
    kReportThreads = 3,
    kReportBinaryImages = 4,
    kReportException = 5,
    kReportSignal = 6,
    kReportProcessInfo = 7,
    kReportMachineInfo = 8,
    kReportReportInfo = 9,
    kReportCustomData = 10,
};

constexpr int32_t kOperatingSystemMacOSX = 0;
constexpr int32_t kArchitectureX86_64 = 1;
constexpr int32_t kTypeEncodingMach = 1;

// ---- Set-up (ordinary code) ----

char* copyText(const char* text) {
    return strdup(text ? text : "");
}

char* copyText(const std::string& text) {
    return strdup(text.c_str());
}

// The executable's path with its NUL; the buffer grows until the link fits.
char* copyExecutablePath(size_t* length) {
    for (size_t size = 256; size <= 65536; size *= 2) {
        char* path = static_cast<char*>(malloc(size));
        if (!path) return nullptr;
        const ssize_t written = readlink("/proc/self/exe", path, size);
        if (written < 0) {
            free(path);
            return nullptr;
        }
        if (static_cast<size_t>(written) < size) {
            path[written] = '\0';
            *length = static_cast<size_t>(written) + 1;
            return path;
        }
        free(path);
    }
    return nullptr;
}

uint32_t readSysctlInt(const char* name) {
    int32_t value = 0;
    return dzcrash_sysctl_read_int(name, &value) ? static_cast<uint32_t>(value) : 0;
}

char* copyOSVersion() {
    auto host = DZCrashHostInfo::currentHostInfo();
    if (!host) return nullptr;
    const DZCrashHostInfoVersion& version = host->darwinVersion();
    char text[96];
    int length = snprintf(text, sizeof(text), "%ld.%ld", static_cast<long>(version.major),
                          static_cast<long>(version.minor));
    if (version.revision > 0 && length > 0 && static_cast<size_t>(length) < sizeof(text)) {
        snprintf(text + length, sizeof(text) - static_cast<size_t>(length), ".%ld",
                 static_cast<long>(version.revision));
    }
    return strdup(text);
}

// ---- Crash time: no allocation, no lock from here on ----

// Writes a message field: its body is measured first, then the key and length, then the body.
template <class Body>
size_t packMessage(dzcrash_report_sink* sink, uint32_t field, Body&& body) {
    size_t size = body(nullptr);
    const size_t head = dzcrash_writer_pack(sink, field, DZCRASH_WRITER_MESSAGE, &size);
    if (sink) body(sink);
    return head + size;
}

size_t packedMessageSize(uint32_t field, size_t body) {
    return dzcrash_writer_pack(nullptr, field, DZCRASH_WRITER_MESSAGE, &body) + body;
}

size_t packText(dzcrash_report_sink* sink, uint32_t field, const char* text) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_STRING, text ? text : "");
}

size_t packBool(dzcrash_report_sink* sink, uint32_t field, bool value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_BOOL, &value);
}

size_t packUInt64(dzcrash_report_sink* sink, uint32_t field, uint64_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_UINT64, &value);
}

size_t packUInt32(dzcrash_report_sink* sink, uint32_t field, uint32_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_UINT32, &value);
}

size_t packEnum(dzcrash_report_sink* sink, uint32_t field, int32_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_ENUM, &value);
}

size_t packBytes(dzcrash_report_sink* sink, uint32_t field, const void* data, size_t length) {
    dzcrash_writer_bytes bytes{length, data};
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_BYTES, &bytes);
}

// "#" and the decimal number, into `out` (room for 13 bytes).
const char* numberName(int value, char* out) {
    char digits[12];
    size_t count = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t at = 0;
    out[at++] = '#';
    if (value < 0) out[at++] = '-';
    while (count > 0) out[at++] = digits[--count];
    out[at] = '\0';
    return out;
}

struct WriteContext {
    dzcrash_log_writer_state* writer;
    dzcrash_image_list* imageList;
    task_t task;
};

// The symbol find_symbol reports, copied while its callback runs (it caps names at 255 bytes).
struct FoundSymbol {
    bool found;
    uint64_t start;
    char name[256];
};

void keepSymbol(dzcrash_vm_address_t address, const char* name, void* context) {
    auto* symbol = static_cast<FoundSymbol*>(context);
    symbol->found = true;
    symbol->start = address;
    size_t length = 0;
    while (name && name[length] != '\0' && length < sizeof(symbol->name) - 1) {
        symbol->name[length] = name[length];
        ++length;
    }
    symbol->name[length] = '\0';
}

void lookUpSymbol(const WriteContext& context, uint64_t pc, FoundSymbol* symbol) {
    symbol->found = false;
    if (context.writer->symbolication_strategy == 0) return;
    dzcrash_macho_image* image = dzcrash_image_list_find(context.imageList, pc);
    if (!image) return;
    if (dzcrash_macho_find_symbol(image, context.writer->symbolication_strategy, nullptr, pc, keepSymbol,
                                  symbol) != DZCRASH_ESUCCESS) {
        symbol->found = false;
    }
}

size_t packFrame(dzcrash_report_sink* sink, uint32_t field, const WriteContext& context, uint64_t pc) {
    FoundSymbol symbol;
    lookUpSymbol(context, pc, &symbol);
    return packMessage(sink, field, [&](dzcrash_report_sink* out) {
        size_t size = packUInt64(out, 3, pc);
        if (symbol.found) {
            size += packMessage(out, 6, [&](dzcrash_report_sink* symbolOut) {
                return packText(symbolOut, 1, symbol.name) + packUInt64(symbolOut, 2, symbol.start);
            });
        }
        return size;
    });
}

struct ThreadWalk {
    uint32_t frames;
    size_t bodySize;
};

// Writes (or, with no sink, measures) a thread's body: number, crashed flag, the crashed thread's
// registers before its first frame, and at most `maxFrames` frames. Measuring also stops before the
// frame that would take the whole thread field past `budget`. With no state, the thread is written
// with its number and flag only.
ThreadWalk walkThread(dzcrash_report_sink* sink, const WriteContext& context, uint32_t number, bool crashed,
                      const dzcrash_async_thread_state* state, uint32_t maxFrames, size_t budget) {
    ThreadWalk walk{0, packUInt32(sink, 1, number) + packBool(sink, 3, crashed)};
    if (!state || maxFrames == 0) return walk;
    dzcrash_async_frame_cursor cursor;
    dzcrash_async_frame_cursor_init(&cursor, context.task, state, context.imageList);
    while (walk.frames < maxFrames && dzcrash_async_frame_cursor_next(&cursor) == DZCRASH_FRAME_ESUCCESS) {
        uint64_t pc = 0;
        if (dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &pc) != DZCRASH_FRAME_ESUCCESS) break;
        size_t step = 0;
        if (walk.frames == 0 && crashed) {
            const size_t count = dzcrash_async_frame_cursor_get_regcount(&cursor);
            for (size_t reg = 0; reg < count; ++reg) {
                uint64_t value = 0;
                if (dzcrash_async_frame_cursor_get_reg(&cursor, static_cast<dzcrash_regnum_t>(reg), &value) !=
                    DZCRASH_FRAME_ESUCCESS) {
                    value = 0;
                }
                const char* name =
                    dzcrash_async_frame_cursor_get_regname(&cursor, static_cast<dzcrash_regnum_t>(reg));
                step += packMessage(sink, 4, [&](dzcrash_report_sink* out) {
                    return packText(out, 1, name) + packUInt64(out, 2, value);
                });
            }
        }
        step += packFrame(sink, 2, context, pc);
        if (!sink && packedMessageSize(kReportThreads, walk.bodySize + step) > budget) break;
        walk.bodySize += step;
        ++walk.frames;
    }
    dzcrash_async_frame_cursor_free(&cursor);
    return walk;
}

// One thread field with `frames` frames whose body measured `bodySize`; walking a stack is the
// dearest part of a report, so it is not measured again.
void writeThread(dzcrash_report_sink* sink, const WriteContext& context, uint32_t number, bool crashed,
                 const dzcrash_async_thread_state* state, const ThreadWalk& measured) {
    size_t bodySize = measured.bodySize;
    dzcrash_writer_pack(sink, kReportThreads, DZCRASH_WRITER_MESSAGE, &bodySize);
    walkThread(sink, context, number, crashed, state, measured.frames, SIZE_MAX);
}

size_t packImage(dzcrash_report_sink* sink, const dzcrash_macho_image* image) {
    return packMessage(sink, kReportBinaryImages, [&](dzcrash_report_sink* out) {
        size_t size = packUInt64(out, 2, image->text_size);
        size += packUInt64(out, 1, image->header_addr);
        size += packText(out, 3, image->name);
        uint8_t uuid[16];
        if (dzcrash_macho_image_uuid(image, uuid) == DZCRASH_ESUCCESS)
            size += packBytes(out, 4, uuid, sizeof(uuid));
        size += packMessage(out, 5, [&](dzcrash_report_sink* processor) {
            return packEnum(processor, 1, kTypeEncodingMach) +
                   packUInt64(processor, 2, static_cast<uint64_t>(dzcrash_macho_image_cpu_type(image))) +
                   packUInt64(processor, 3, static_cast<uint64_t>(dzcrash_macho_image_cpu_subtype(image)));
        });
        return size;
    });
}

// Images in list order while each still fits `budget`; an image that does not is left out whole.
size_t packImages(dzcrash_report_sink* sink, dzcrash_image_list* list, size_t budget) {
    size_t total = 0;
    for (dzcrash_macho_image* image = dzcrash_image_list_next(list, nullptr); image;
         image = dzcrash_image_list_next(list, image)) {
        const size_t size = packImage(nullptr, image);
        if (size > budget - total) continue;
        if (sink) packImage(sink, image);
        total += size;
    }
    return total;
}

size_t packExceptionBody(dzcrash_report_sink* sink, const WriteContext& context, size_t frames) {
    const auto& exception = context.writer->uncaught_exception;
    size_t size = packText(sink, 1, exception.name) + packText(sink, 2, exception.reason);
    for (size_t i = 0; i < frames; ++i) size += packFrame(sink, 3, context, exception.callstack[i]);
    return size;
}

// How many of the exception's frames fit `budget` with the rest of it; -1 when not even its name and
// reason do.
long exceptionFramesFitting(const WriteContext& context, size_t budget) {
    const auto& exception = context.writer->uncaught_exception;
    size_t body = packExceptionBody(nullptr, context, 0);
    if (packedMessageSize(kReportException, body) > budget) return -1;
    size_t count = exception.callstack_count < kDZCrashLogWriterMaxFrames ? exception.callstack_count
                                                                          : kDZCrashLogWriterMaxFrames;
    size_t frames = 0;
    for (; frames < count; ++frames) {
        const size_t step = packFrame(nullptr, 3, context, exception.callstack[frames]);
        if (packedMessageSize(kReportException, body + step) > budget) break;
        body += step;
    }
    return static_cast<long>(frames);
}

size_t packSignal(dzcrash_report_sink* sink, const dzcrash_log_writer_signal* signal) {
    return packMessage(sink, kReportSignal, [&](dzcrash_report_sink* out) {
        char nameBuffer[16];
        char codeBuffer[16];
        const char* name = dzcrash_report_signal_name(&signal->signal);
        if (!name) name = numberName(signal->signal.signal, nameBuffer);
        const char* code = signal->signal.has_counterpart
                               ? dzcrash_signal_code_name(signal->signal.signal, signal->signal.code)
                               : nullptr;
        if (!code) code = numberName(signal->signal.code, codeBuffer);
        size_t size = packText(out, 1, name) + packText(out, 2, code) + packUInt64(out, 3, signal->address);
        if (const dzcrash_log_writer_mach_exception* mach = signal->mach_exception) {
            size += packMessage(out, 4, [&](dzcrash_report_sink* machOut) {
                size_t machSize = packUInt64(machOut, 1, mach->type);
                for (size_t i = 0; i < mach->code_count; ++i) {
                    machSize += packUInt64(machOut, 2, static_cast<uint64_t>(mach->codes[i]));
                }
                return machSize;
            });
        }
        return size;
    });
}

void writeFixedSections(dzcrash_report_sink* sink, const dzcrash_log_writer_state* writer) {
    packMessage(sink, kReportReportInfo, [&](dzcrash_report_sink* out) {
        return packBool(out, 1, writer->user_requested) +
               packBytes(out, 2, writer->uuid, sizeof(writer->uuid));
    });
    timespec now{};
    const int64_t timestamp = clock_gettime(CLOCK_REALTIME, &now) == 0 ? now.tv_sec : 0;
    packMessage(sink, kReportSystemInfo, [&](dzcrash_report_sink* out) {
        return packEnum(out, 1, kOperatingSystemMacOSX) + packText(out, 2, writer->system_info.os_version) +
               packText(out, 5, writer->system_info.os_build) + packEnum(out, 3, kArchitectureX86_64) +
               dzcrash_writer_pack(out, 4, DZCRASH_WRITER_INT64, &timestamp);
    });
    const auto& machine = writer->machine_info;
    packMessage(sink, kReportMachineInfo, [&](dzcrash_report_sink* out) {
        size_t size = machine.model ? packText(out, 1, machine.model) : 0;
        size += packMessage(out, 2, [&](dzcrash_report_sink* processor) {
            return packEnum(processor, 1, kTypeEncodingMach) + packUInt64(processor, 2, machine.cpu_type) +
                   packUInt64(processor, 3, machine.cpu_subtype);
        });
        return size + packUInt32(out, 3, machine.processor_count) +
               packUInt32(out, 4, machine.logical_processor_count);
    });
    const auto& application = writer->application_info;
    packMessage(sink, kReportApplicationInfo, [&](dzcrash_report_sink* out) {
        return packText(out, 1, application.app_identifier) + packText(out, 2, application.app_version) +
               packText(out, 3, application.app_marketing_version);
    });
    const auto& process = writer->process_info;
    packMessage(sink, kReportProcessInfo, [&](dzcrash_report_sink* out) {
        size_t size = packText(out, 1, process.process_name);
        size += packUInt32(out, 2, static_cast<uint32_t>(process.process_id));
        size += process.process_path ? packBytes(out, 3, process.process_path, process.process_path_length)
                                     : packText(out, 3, "");
        size += packText(out, 4, process.parent_process_name);
        size += packUInt32(out, 5, static_cast<uint32_t>(process.parent_process_id));
        size += packBool(out, 6, process.native);
        return size + packUInt64(out, 7, process.start_time);
    });
}

// The other threads of the task, suspended for the write. At most kMaxTracked threads are tracked
// (and so suspended); the flags live here because nothing may be allocated.
struct SuspendedThreads {
    static constexpr size_t kMaxTracked = 4096;
    thread_act_array_t threads = nullptr;
    mach_msg_type_number_t count = 0;
    uint8_t suspended[kMaxTracked / 8] = {};

    bool isSuspended(size_t index) const {
        return index < kMaxTracked && (suspended[index / 8] & (1u << (index % 8))) != 0;
    }
};

void suspendOthers(SuspendedThreads* list, thread_t self) {
    if (task_threads(mach_task_self(), &list->threads, &list->count) != KERN_SUCCESS) {
        list->threads = nullptr;
        list->count = 0;
        return;
    }
    for (size_t i = 0; i < list->count && i < SuspendedThreads::kMaxTracked; ++i) {
        if (list->threads[i] == self) continue;
        if (thread_suspend(list->threads[i]) == KERN_SUCCESS) list->suspended[i / 8] |= 1u << (i % 8);
    }
}

void resumeOthers(SuspendedThreads* list) {
    for (size_t i = 0; i < list->count; ++i) {
        if (list->isSuspended(i)) thread_resume(list->threads[i]);
        mach_port_deallocate(mach_task_self(), list->threads[i]);
    }
    if (list->threads) {
        vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(list->threads),
                      list->count * sizeof(thread_act_t));
    }
}

// The state a thread is written with: the supplied one for the calling thread, the suspended
// thread's own otherwise; null when there is none to be had.
const dzcrash_async_thread_state* stateOfThread(thread_t thread, thread_t self, bool suspended,
                                                const dzcrash_async_thread_state* supplied,
                                                dzcrash_async_thread_state* storage) {
    if (thread == self) {
        if (!supplied) return nullptr;
        dzcrash_async_thread_state_copy(storage, supplied);
        return storage;
    }
    if (!suspended) return nullptr;
    return dzcrash_async_thread_state_from_thread(storage, thread) == DZCRASH_ESUCCESS ? storage : nullptr;
}

size_t remainingBudget(const dzcrash_report_sink* sink) {
    if (sink->limit == 0) return SIZE_MAX;
    return sink->accepted < sink->limit ? sink->limit - sink->accepted : 0;
}

size_t subtractClamped(size_t budget, size_t size) {
    return size < budget ? budget - size : 0;
}

// The thread list could not be read: the crashed thread alone, so the report still decodes.
void writeCrashedThreadAlone(dzcrash_report_sink* sink, const WriteContext& context, thread_t crashed,
                             thread_t self, const dzcrash_async_thread_state* supplied, size_t budget) {
    const bool suspended = crashed != self && thread_suspend(crashed) == KERN_SUCCESS;
    dzcrash_async_thread_state storage;
    const dzcrash_async_thread_state* state = stateOfThread(crashed, self, suspended, supplied, &storage);
    if (crashed == self && !state) return;
    const ThreadWalk walk = walkThread(nullptr, context, 0, true, state, kDZCrashLogWriterMaxFrames, budget);
    writeThread(sink, context, 0, true, state, walk);
    if (suspended) thread_resume(crashed);
}

}  // namespace

dzcrash_error_t dzcrash_log_writer_init(dzcrash_log_writer_state* writer, const char* app_identifier,
                                        const char* app_version, const char* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested) {
    memset(writer, 0, sizeof(*writer));
    writer->symbolication_strategy = symbolication_strategy;
    writer->user_requested = user_requested;
    const UUID uuid;
    memcpy(writer->uuid, uuid.bytes().data(), sizeof(writer->uuid));
    writer->application_info.app_identifier = copyText(app_identifier);
    writer->application_info.app_version = copyText(app_version);
    if (app_marketing_version)
        writer->application_info.app_marketing_version = copyText(app_marketing_version);

    auto process = DZCrashProcessInfo::currentProcessInfo();
    if (!process) return DZCRASH_EINVAL;
    auto& info = writer->process_info;
    info.process_id = process->processID();
    if (process->processName()) info.process_name = copyText(*process->processName());
    info.start_time = static_cast<uint64_t>(process->startTime().tv_sec);
    info.process_path = copyExecutablePath(&info.process_path_length);
    info.parent_process_id = process->parentProcessID();
    if (auto parent = DZCrashProcessInfo::initWithProcessID(info.parent_process_id)) {
        if (parent->processName()) info.parent_process_name = copyText(*parent->processName());
    }

    writer->machine_info.model = dzcrash_sysctl_copy_string("hw.model");
    writer->machine_info.cpu_type = readSysctlInt("hw.cputype");
    writer->machine_info.cpu_subtype = readSysctlInt("hw.cpusubtype");
    writer->machine_info.processor_count = readSysctlInt("hw.physicalcpu_max");
    writer->machine_info.logical_processor_count = readSysctlInt("hw.logicalcpu_max");
    int32_t native = 1;
    info.native = !(dzcrash_sysctl_read_int("sysctl.proc_native", &native) && native == 0);

    writer->system_info.os_build = dzcrash_sysctl_copy_string("kern.osversion");
    writer->system_info.os_version = copyOSVersion();
    return DZCRASH_ESUCCESS;
}

void dzcrash_log_writer_set_exception(dzcrash_log_writer_state* writer, const ExceptionRecord& exception) {
    auto& record = writer->uncaught_exception;
    if (record.has_exception) fatalError("writer->uncaught_exception.has_exception == false");
    record.has_exception = true;
    record.name = copyText(exception.name());
    record.reason = copyText(exception.reason());
    const auto& addresses = exception.callStackReturnAddresses();
    if (!addresses.empty()) {
        record.callstack = static_cast<uint64_t*>(malloc(addresses.size() * sizeof(uint64_t)));
        if (record.callstack) {
            memcpy(record.callstack, addresses.data(), addresses.size() * sizeof(uint64_t));
            record.callstack_count = addresses.size();
        }
    }
}

void dzcrash_log_writer_store_custom_data(dzcrash_log_writer_state* writer, const uint8_t* data,
                                          size_t length) {
    auto& custom = writer->custom_data;
    free(custom.data);
    custom = {};
    if (!data) return;
    // A copy even of no bytes, so that empty data is written as present.
    custom.data = static_cast<uint8_t*>(malloc(length > 0 ? length : 1));
    if (!custom.data) return;
    if (length > 0) memcpy(custom.data, data, length);
    custom.length = length;
    custom.present = true;
}

dzcrash_error_t dzcrash_log_writer_write(dzcrash_log_writer_state* writer, thread_t crashed_thread,
                                         dzcrash_image_list* image_list, dzcrash_report_sink* sink,
                                         const dzcrash_log_writer_signal* signal,
                                         const dzcrash_async_thread_state* crashed_thread_state) noexcept {
    const thread_t self = dzcrash_thread_self();
    SuspendedThreads list;
    suspendOthers(&list, self);
    const WriteContext context{writer, image_list, mach_task_self()};

    dzcrash_report_sink_write(sink, kDZCrashReportFileMagic, sizeof(kDZCrashReportFileMagic));
    dzcrash_report_sink_write(sink, &kDZCrashReportFileVersion, 1);
    writeFixedSections(sink, writer);

    dzcrash_image_list_set_reading(image_list, true);

    // Room is handed out before anything is written, in order of what a report is worth least
    // without: the signal, the crashed thread, the images, the exception, the custom data; the
    // other threads share what is left. Each pass below measures exactly what it later writes.
    size_t budget = subtractClamped(remainingBudget(sink), packSignal(nullptr, signal));

    long crashedIndex = -1;
    uint32_t crashedFrames = 0;
    for (size_t i = 0; i < list.count; ++i) {
        if (list.threads[i] != crashed_thread) continue;
        dzcrash_async_thread_state storage;
        const dzcrash_async_thread_state* state =
            stateOfThread(list.threads[i], self, list.isSuspended(i), crashed_thread_state, &storage);
        if (list.threads[i] == self && !state) break;
        const ThreadWalk walk =
            walkThread(nullptr, context, 0, true, state, kDZCrashLogWriterMaxFrames, budget);
        crashedIndex = static_cast<long>(i);
        crashedFrames = walk.frames;
        // The thread's number is not known yet; a number below 2^21 takes at most three more bytes.
        budget = subtractClamped(budget, packedMessageSize(kReportThreads, walk.bodySize) + 3);
        break;
    }

    const size_t imageBudget = budget;
    budget -= packImages(nullptr, image_list, imageBudget);

    long exceptionFrames = -1;
    if (writer->uncaught_exception.has_exception) {
        exceptionFrames = exceptionFramesFitting(context, budget);
        if (exceptionFrames >= 0) {
            budget -= packedMessageSize(
                kReportException, packExceptionBody(nullptr, context, static_cast<size_t>(exceptionFrames)));
        }
    }

    const auto& custom = writer->custom_data;
    bool writeCustomData = false;
    if (custom.present) {
        const size_t size = packBytes(nullptr, kReportCustomData, custom.data, custom.length);
        writeCustomData = size <= budget;
        if (writeCustomData) budget -= size;
    }

    uint32_t number = 0;
    if (list.count == 0) {
        writeCrashedThreadAlone(sink, context, crashed_thread, self, crashed_thread_state, budget);
    }
    for (size_t i = 0; i < list.count; ++i) {
        const thread_t thread = list.threads[i];
        dzcrash_async_thread_state storage;
        if (static_cast<long>(i) == crashedIndex) {
            const dzcrash_async_thread_state* state =
                stateOfThread(thread, self, list.isSuspended(i), crashed_thread_state, &storage);
            const ThreadWalk walk =
                walkThread(nullptr, context, number, true, state, crashedFrames, SIZE_MAX);
            writeThread(sink, context, number++, true, state, walk);
            continue;
        }
        // The calling thread is shown with the state its caller holds, and left out without one. On the
        // Mach road that is the exception server's thread, written beside the faulting one.
        if (thread == self && !crashed_thread_state) continue;
        const bool crashed = thread == crashed_thread;
        const dzcrash_async_thread_state* state =
            stateOfThread(thread, self, list.isSuspended(i), crashed_thread_state, &storage);
        const ThreadWalk walk =
            walkThread(nullptr, context, number, crashed, state, kDZCrashLogWriterMaxFrames, SIZE_MAX);
        const size_t size = packedMessageSize(kReportThreads, walk.bodySize);
        if (size > budget) continue;
        budget -= size;
        writeThread(sink, context, number++, crashed, state, walk);
    }

    packImages(sink, image_list, imageBudget);
    dzcrash_image_list_set_reading(image_list, false);

    if (exceptionFrames >= 0) {
        packMessage(sink, kReportException, [&](dzcrash_report_sink* out) {
            return packExceptionBody(out, context, static_cast<size_t>(exceptionFrames));
        });
    }
    packSignal(sink, signal);
    if (writeCustomData) packBytes(sink, kReportCustomData, custom.data, custom.length);

    resumeOthers(&list);
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t dzcrash_log_writer_finish(dzcrash_log_writer_state*) noexcept {
    return DZCRASH_ESUCCESS;
}

void dzcrash_log_writer_release(dzcrash_log_writer_state* writer) {
    free(writer->system_info.os_version);
    free(writer->system_info.os_build);
    free(writer->machine_info.model);
    free(writer->application_info.app_identifier);
    free(writer->application_info.app_version);
    free(writer->application_info.app_marketing_version);
    free(writer->process_info.process_name);
    free(writer->process_info.process_path);
    free(writer->process_info.parent_process_name);
    free(writer->uncaught_exception.name);
    free(writer->uncaught_exception.reason);
    free(writer->uncaught_exception.callstack);
    free(writer->custom_data.data);
    memset(writer, 0, sizeof(*writer));
}

dzcrash_error_t dzcrash_write_report_file(dzcrash_log_writer_state* writer, const char* path,
                                          dzcrash_image_list* image_list, thread_t crashed_thread,
                                          const dzcrash_async_thread_state* crashed_thread_state,
                                          const dzcrash_log_writer_signal* signal) noexcept {
    const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return DZCRASH_EINTERNAL;
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, fd, kDZCrashReportFileLimit);
    const dzcrash_error_t result =
        dzcrash_log_writer_write(writer, crashed_thread, image_list, &sink, signal, crashed_thread_state);
    dzcrash_log_writer_finish(writer);
    const bool flushed = dzcrash_report_sink_flush(&sink);
    const bool closed = dzcrash_report_sink_close(&sink);
    return flushed && closed ? result : DZCRASH_EINTERNAL;
}
