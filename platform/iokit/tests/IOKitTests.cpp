#include <gtest/gtest.h>

#include "platform/iokit/IOKit.h"
#include "platform/iokit/testing/IOKitTesting.h"

namespace {

std::optional<Value> platformUUIDProperty() {
    io_service_t device = IOServiceGetMatchingService(kIOMainPortDefault, kIOPlatformExpertDeviceClass);
    EXPECT_NE(device, IO_OBJECT_NULL);
    auto property = IORegistryEntryCreateCFProperty(device, kIOPlatformUUIDKey);
    IOObjectRelease(device);
    return property;
}

}  // namespace

TEST(IOKit, ReadsThePlatformUUIDAsACanonicalUpperCaseUUID) {
    IOKitTesting::ScopedMachineIdPath path(QUORVANE_TEST_FIXTURES "/machine-id");
    EXPECT_EQ(platformUUIDProperty(), Value("01234567-89AB-CDEF-0123-456789ABCDEF"));
}

TEST(IOKit, HasNoPlatformUUIDWithoutAMachineIdentifier) {
    for (const char* file :
         {"/machine-id-not-hex", "/machine-id-short", "/machine-id-two-lines", "/absent", ""}) {
        // "" names the fixtures directory itself: not a file to read.
        IOKitTesting::ScopedMachineIdPath path(std::string(QUORVANE_TEST_FIXTURES) + file);
        EXPECT_EQ(platformUUIDProperty(), std::nullopt) << file;
    }
}

TEST(IOKit, KnowsOnlyThePlatformExpertDeviceAndItsUUID) {
    IOKitTesting::ScopedMachineIdPath path(QUORVANE_TEST_FIXTURES "/machine-id");
    EXPECT_EQ(IOServiceGetMatchingService(kIOMainPortDefault, "IOUSBDevice"), IO_OBJECT_NULL);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(IO_OBJECT_NULL, kIOPlatformUUIDKey), std::nullopt);
    io_service_t device = IOServiceGetMatchingService(kIOMainPortDefault, kIOPlatformExpertDeviceClass);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(device, "IOPlatformSerialNumber"), std::nullopt);
}
