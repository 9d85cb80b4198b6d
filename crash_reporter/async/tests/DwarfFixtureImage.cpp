#include "DwarfFixtureImage.h"

#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "platform/mach/mach_port.h"

struct DwarfFixtureImage::Parts {
    MachOFixture image;
    dzcrash_image_list list;
};

DwarfFixtureImage::DwarfFixtureImage(const std::vector<uint8_t>& ehFrame)
    : parts_(std::make_unique<Parts>()) {
    parts_->image.textSections = {{"__text", std::vector<uint8_t>(kCodeSize, 0x90)}, {"__eh_frame", ehFrame}};
    parts_->image.place();
    dzcrash_image_list_init(&parts_->list, mach_task_self());
    dzcrash_image_list_add(&parts_->list, parts_->image.headerAddress(), "/fixture/Dwarf.dylib");
}

DwarfFixtureImage::~DwarfFixtureImage() = default;

dzcrash_image_list* DwarfFixtureImage::list() const {
    return &parts_->list;
}

uint64_t DwarfFixtureImage::codeAddress() const {
    return parts_->image.loaded(parts_->image.sectionAddress(0));
}

uint64_t DwarfFixtureImage::ehFrameAddress() const {
    return parts_->image.loaded(parts_->image.sectionAddress(1));
}
