#pragma once
// The Objective-C metadata of an image — classes, categories and their method lists — read from the
// task without the runtime, to name the method whose implementation covers a pc in a stripped image.
// Both the legacy layout of 32-bit images (__OBJC,__module_info) and the current one
// (__objc_classlist, __objc_catlist and their companions) are walked. Everything read is a bounded
// task read or a verified access into a section's memory object. Async-signal-safe: no heap, no lock.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_mobject.h"
#include "crash_reporter/async/dzcrash_macho_image.h"

struct dzcrash_async_objc_section_t {
    dzcrash_async_mobject_t mobj;
    bool mapped;
};

struct dzcrash_async_objc_class_cache_entry_t {
    dzcrash_vm_address_t class_data;
    dzcrash_vm_address_t class_ro;
};
inline constexpr uint32_t DZCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS = 1024;

// Kept for one report: the sections of the image walked last stay mapped for the next lookup in it.
struct dzcrash_async_objc_cache_t {
    const dzcrash_macho_image* image;  // whose sections are mapped; null at first
    bool got_objc2_info;               // a current-layout walk completed: skip the legacy attempt
    dzcrash_async_objc_section_t objc_const;
    dzcrash_async_objc_section_t objc_const_ax;
    dzcrash_async_objc_section_t objc_methlist;
    dzcrash_async_objc_section_t selrefs;
    dzcrash_async_objc_section_t classlist;
    dzcrash_async_objc_section_t catlist;
    dzcrash_async_objc_section_t objc_data;
    dzcrash_async_objc_section_t data;
    // DZCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS entries taken with one vm_allocate on the first insert;
    // null when not yet taken or when that failed.
    dzcrash_async_objc_class_cache_entry_t* class_cache;
};

// Clears the cache; always DZCRASH_ESUCCESS.
dzcrash_error_t objc_cache_init(dzcrash_async_objc_cache_t* cache) noexcept;
// Unmaps every section and releases the class cache.
void objc_cache_free(dzcrash_async_objc_cache_t* cache) noexcept;

// A NUL-terminated string of the task, copied on first use through a mapping that grows a page at
// a time until it holds the NUL.
struct dzcrash_async_remote_string_t {
    const dzcrash_macho_image* image;
    dzcrash_vm_address_t address;
    dzcrash_async_mobject_t mobj;
    bool loaded;
    dzcrash_vm_size_t length;  // without the NUL
};
void dzcrash_async_remote_string_init(dzcrash_async_remote_string_t* string, const dzcrash_macho_image* image,
                                      dzcrash_vm_address_t address) noexcept;
// The mapping's error when the string cannot be copied; DZCRASH_EINVAL when its NUL lies beyond
// what could be mapped.
dzcrash_error_t dzcrash_async_remote_string_length(dzcrash_async_remote_string_t* string,
                                                   dzcrash_vm_size_t* length) noexcept;
// The local copy, valid until free; DZCRASH_EACCESS when it cannot be given.
dzcrash_error_t dzcrash_async_remote_string_pointer(dzcrash_async_remote_string_t* string,
                                                    const char** pointer) noexcept;
void dzcrash_async_remote_string_free(dzcrash_async_remote_string_t* string) noexcept;

// One method: whether it is a class method, its class's and its own name, its implementation.
using dzcrash_async_objc_found_method_cb = void (*)(bool is_class_method,
                                                    dzcrash_async_remote_string_t* class_name,
                                                    dzcrash_async_remote_string_t* method_name,
                                                    dzcrash_vm_address_t imp, void* context);

// Calls `callback` for every method of the image. DZCRASH_EACCESS without a cache, DZCRASH_ENOTFOUND
// when the image has no Objective-C metadata, DZCRASH_EINVALID_DATA for metadata that points outside
// the sections it belongs in, a task read's error as it came.
dzcrash_error_t dzcrash_async_objc_parse(const dzcrash_macho_image* image, dzcrash_async_objc_cache_t* cache,
                                         dzcrash_async_objc_found_method_cb callback, void* context) noexcept;
// The method whose implementation is the greatest at or below `pc` (the first found of equals);
// DZCRASH_ENOTFOUND when every implementation lies above it.
dzcrash_error_t dzcrash_async_objc_find_method(const dzcrash_macho_image* image,
                                               dzcrash_async_objc_cache_t* cache, dzcrash_vm_address_t pc,
                                               dzcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept;
