#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/dyld/dyld.h"
#include "platform/dyld/testing/DyldTesting.h"

namespace {

struct Image {
    const void* header;
    intptr_t slide;
    const char* name;
    bool addedByTest;
};

bool sameImage(const Image& a, const Image& b) {
    return a.header == b.header && std::string_view(a.name) == b.name;
}

class Loader {
  public:
    // Held across an event and the callbacks it causes, as the loader holds its own lock, so that
    // every callback sees the events in the order they happened.
    std::mutex events;

    std::vector<Image> images() {
        std::lock_guard lock(state_);
        scanOnceLocked();
        return images_;
    }

    // Registers and answers the images loaded now, in one step, so that no event falls between.
    std::vector<Image> registerCallback(dyld_image_callback callback, bool add) {
        std::lock_guard lock(state_);
        scanOnceLocked();
        (add ? added_ : removed_).push_back(callback);
        return images_;
    }

    std::vector<dyld_image_callback> callbacks(bool add) {
        std::lock_guard lock(state_);
        return add ? added_ : removed_;
    }

    // Compares the loader's objects with the list and updates it; answers what came and went.
    void rescan(std::vector<Image>& came, std::vector<Image>& went) {
        std::vector<Image> now = loadedObjects();
        std::lock_guard lock(state_);
        if (!scanned_) {
            images_ = now;
            scanned_ = true;
            return;
        }
        std::vector<Image> kept;
        for (const Image& image : images_) {
            const bool present =
                image.addedByTest || std::any_of(now.begin(), now.end(),
                                                 [&](const Image& other) { return sameImage(image, other); });
            (present ? kept : went).push_back(image);
        }
        for (const Image& image : now) {
            const bool listed = std::any_of(kept.begin(), kept.end(),
                                            [&](const Image& other) { return sameImage(image, other); });
            if (!listed) {
                kept.push_back(image);
                came.push_back(image);
            }
        }
        images_ = std::move(kept);
    }

    Image addTestImage(const void* header, const char* name, intptr_t slide) {
        std::lock_guard lock(state_);
        scanOnceLocked();
        Image image{header, slide, intern(name), true};
        images_.push_back(image);
        return image;
    }

    bool removeTestImage(const void* header, Image& removed) {
        std::lock_guard lock(state_);
        auto found = std::find_if(images_.begin(), images_.end(), [&](const Image& image) {
            return image.addedByTest && image.header == header;
        });
        if (found == images_.end()) return false;
        removed = *found;
        images_.erase(found);
        return true;
    }

  private:
    void scanOnceLocked() {
        if (scanned_) return;
        images_ = loadedObjects();
        scanned_ = true;
    }

    // Names of images, kept for the life of the process because callers hold on to them.
    const char* intern(const std::string& name) {
        std::lock_guard lock(names_);
        return internedNames_.insert(name).first->c_str();
    }

    static std::string mainProgramPath() {
        char path[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
        return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
    }

    std::vector<Image> loadedObjects() {
        struct Found {
            const void* header;
            intptr_t slide;
            std::string name;
        };
        std::vector<Found> found;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* context) {
                // The ELF header is mapped by the segment that starts at file offset 0.
                for (int index = 0; index < info->dlpi_phnum; ++index) {
                    const ElfW(Phdr)& header = info->dlpi_phdr[index];
                    if (header.p_type != PT_LOAD || header.p_offset != 0) continue;
                    static_cast<std::vector<Found>*>(context)->push_back(
                        {reinterpret_cast<const void*>(info->dlpi_addr + header.p_vaddr),
                         static_cast<intptr_t>(info->dlpi_addr), info->dlpi_name ? info->dlpi_name : ""});
                    break;
                }
                return 0;
            },
            &found);
        std::vector<Image> objects;
        for (size_t index = 0; index < found.size(); ++index) {
            // The loader names the main program (always the first object) with an empty string.
            std::string name =
                index == 0 && found[index].name.empty() ? mainProgramPath() : found[index].name;
            objects.push_back({found[index].header, found[index].slide, intern(name), false});
        }
        return objects;
    }

    std::mutex state_;
    std::vector<Image> images_;
    bool scanned_ = false;
    std::vector<dyld_image_callback> added_;
    std::vector<dyld_image_callback> removed_;
    std::mutex names_;
    std::set<std::string> internedNames_;
};

// Made once and never destroyed, so that no thread or exit handler meets a dead loader.
Loader& loader() {
    static Loader* const instance = new Loader();
    return *instance;
}

void report(const std::vector<Image>& images, bool add) {
    if (images.empty()) return;
    for (dyld_image_callback callback : loader().callbacks(add)) {
        for (const Image& image : images) callback(image.header, image.slide);
    }
}

void reportChanges() {
    std::vector<Image> came;
    std::vector<Image> went;
    loader().rescan(came, went);
    report(went, false);
    report(came, true);
}

void registerCallback(dyld_image_callback callback, bool add) {
    if (!callback) return;
    std::lock_guard events(loader().events);
    const std::vector<Image> loaded = loader().registerCallback(callback, add);
    if (!add) return;
    for (const Image& image : loaded) callback(image.header, image.slide);
}

}  // namespace

void _dyld_register_func_for_add_image(dyld_image_callback callback) {
    registerCallback(callback, true);
}

void _dyld_register_func_for_remove_image(dyld_image_callback callback) {
    registerCallback(callback, false);
}

uint32_t _dyld_image_count() {
    return static_cast<uint32_t>(loader().images().size());
}

const void* _dyld_get_image_header(uint32_t index) {
    const std::vector<Image> images = loader().images();
    return index < images.size() ? images[index].header : nullptr;
}

const char* _dyld_get_image_name(uint32_t index) {
    const std::vector<Image> images = loader().images();
    return index < images.size() ? images[index].name : nullptr;
}

intptr_t _dyld_get_image_vmaddr_slide(uint32_t index) {
    const std::vector<Image> images = loader().images();
    return index < images.size() ? images[index].slide : 0;
}

int dyld_dladdr(const void* header, Dl_info* info) {
    if (!info) return 0;
    for (const Image& image : loader().images()) {
        if (image.header != header) continue;
        *info = Dl_info{};
        info->dli_fname = image.name;
        info->dli_fbase = const_cast<void*>(image.header);
        return 1;
    }
    return 0;
}

void* dyld_dlopen(const char* path, int mode) {
    std::lock_guard events(loader().events);
    void* handle = dlopen(path, mode);
    if (handle) reportChanges();
    return handle;
}

int dyld_dlclose(void* handle) {
    std::lock_guard events(loader().events);
    const int result = dlclose(handle);
    reportChanges();
    return result;
}

void DyldTesting::addImage(const void* header, const char* name, intptr_t slide) {
    std::lock_guard events(loader().events);
    report({loader().addTestImage(header, name, slide)}, true);
}

void DyldTesting::removeImage(const void* header) {
    std::lock_guard events(loader().events);
    Image removed{};
    if (loader().removeTestImage(header, removed)) report({removed}, false);
}
