#include "crash_reporter/async/dzcrash_image_list.h"

#include <cstdlib>
#include <mutex>

#include "platform/dyld/dyld.h"
#include "platform/foundation/SystemLog.h"
#include "platform/mach/mach_port.h"

namespace {

void releaseImage(dzcrash_macho_image*& image) {
    dzcrash_macho_image_free(image);
    free(image);
    image = nullptr;
}

}  // namespace

dzcrash_image_list::dzcrash_image_list() : images(releaseImage) {}

dzcrash_image_list::~dzcrash_image_list() {
    if (task != MACH_PORT_NULL) mach_port_deallocate(mach_task_self(), task);
}

void dzcrash_image_list_init(dzcrash_image_list* list, task_t task) {
    list->task = task;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
}

void dzcrash_image_list_add(dzcrash_image_list* list, dzcrash_vm_address_t header_addr, const char* path) {
    auto* image = static_cast<dzcrash_macho_image*>(calloc(1, sizeof(dzcrash_macho_image)));
    if (!image) return;
    if (dzcrash_macho_image_init(image, list->task, path, header_addr) != DZCRASH_ESUCCESS) {
        free(image);
        return;
    }
    auto* node = list->images.append(image);
    if (!node) {
        dzcrash_macho_image_free(image);
        free(image);
        return;
    }
    __atomic_store_n(&image->list_node, node, __ATOMIC_RELEASE);
}

void dzcrash_image_list_remove(dzcrash_image_list* list, dzcrash_vm_address_t header_addr) {
    list->images.set_reading(true);
    for (auto* node = list->images.next(nullptr); node; node = list->images.next(node)) {
        if (node->value->header_addr != header_addr) continue;
        list->images.remove(node);
        break;
    }
    list->images.set_reading(false);
    // The walk above counted as a reader, so the removal itself could not free the record.
    list->images.free_unread();
}

void dzcrash_image_list_set_reading(dzcrash_image_list* list, bool reading) noexcept {
    list->images.set_reading(reading);
}

// From the record's own node, which still leads on once the record has left the list. A reader
// that met the record before its node was noted walks from the head to find it.
dzcrash_macho_image* dzcrash_image_list_next(dzcrash_image_list* list,
                                             const dzcrash_macho_image* previous) noexcept {
    using node_t = decltype(list->images)::node;
    const node_t* node = nullptr;
    if (previous) {
        node = static_cast<const node_t*>(__atomic_load_n(&previous->list_node, __ATOMIC_ACQUIRE));
        if (!node) {
            node = list->images.next(nullptr);
            while (node && node->value != previous) node = list->images.next(node);
            if (!node) return nullptr;
        }
    }
    const node_t* following = list->images.next(node);
    return following ? following->value : nullptr;
}

dzcrash_macho_image* dzcrash_image_list_find(dzcrash_image_list* list,
                                             dzcrash_vm_address_t address) noexcept {
    for (auto* node = list->images.next(nullptr); node; node = list->images.next(node)) {
        if (dzcrash_macho_image_contains_address(node->value, address)) return node->value;
    }
    return nullptr;
}

namespace {

dzcrash_image_list* sharedList = nullptr;

void imageAdded(const void* header, intptr_t) {
    Dl_info info;
    if (dyld_dladdr(header, &info) == 0) {
        NSLog("[DZCrashReporter] %s: dladdr(%p, ...) failed", "image_add_callback", header);
        return;
    }
    dzcrash_image_list_add(sharedList, reinterpret_cast<uintptr_t>(header), info.dli_fname);
}

void imageRemoved(const void* header, intptr_t) {
    dzcrash_image_list_remove(sharedList, reinterpret_cast<uintptr_t>(header));
}

}  // namespace

dzcrash_image_list* dzcrash_shared_image_list() {
    static std::once_flag once;
    std::call_once(once, [] {
        sharedList = new dzcrash_image_list();
        dzcrash_image_list_init(sharedList, mach_task_self());
        _dyld_register_func_for_add_image(imageAdded);
        _dyld_register_func_for_remove_image(imageRemoved);
    });
    return sharedList;
}
