#pragma once
// The images loaded in a task, kept up to date by ordinary code from the loader's notifications and
// read at crash time. Readers mark the list as being read for as long as they hold an image from
// it: a record removed meanwhile stays intact until no reader is left.
#include "crash_reporter/async/dzcrash_macho_image.h"
#include "crash_reporter/async/dzcrash_safe_list.h"

struct dzcrash_image_list {
    dzcrash_image_list();
    ~dzcrash_image_list();  // no reader may be active any more
    dzcrash_image_list(const dzcrash_image_list&) = delete;
    dzcrash_image_list& operator=(const dzcrash_image_list&) = delete;

    task_t task = MACH_PORT_NULL;  // one send-right reference held once initialised
    dzcrash_safe_list<dzcrash_macho_image*> images;
};

// Ordinary code only.
void dzcrash_image_list_init(dzcrash_image_list* list, task_t task);
// Reads the image at `header_addr` and appends it; an image that cannot be read is skipped.
void dzcrash_image_list_add(dzcrash_image_list* list, dzcrash_vm_address_t header_addr, const char* path);
void dzcrash_image_list_remove(dzcrash_image_list* list, dzcrash_vm_address_t header_addr);

// Async-signal-safe.
void dzcrash_image_list_set_reading(dzcrash_image_list* list, bool reading) noexcept;
// The image after `previous`, or the first when it is null; null at the end. From an image removed
// while the caller reads, the walk goes on with the image that followed it.
dzcrash_macho_image* dzcrash_image_list_next(dzcrash_image_list* list,
                                             const dzcrash_macho_image* previous) noexcept;
// The first image whose text holds `address`, or null.
dzcrash_macho_image* dzcrash_image_list_find(dzcrash_image_list* list, dzcrash_vm_address_t address) noexcept;

// The list of the own task, made on first use once per process and never destroyed: it registers
// for the loader's add-image notification (which reports every image loaded so far), then for its
// remove-image notification. The reporter's class set-up calls it.
dzcrash_image_list* dzcrash_shared_image_list();
