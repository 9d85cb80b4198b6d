#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"

#include "DudIzizoz/Internals/Context/DIZDeviceHistoryInfo.h"
#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"
#include "DudIzizoz/Internals/Context/DIZUserIdHistoryInfo.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Model/DIZTypedProperty.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

void DIZArchiverUtil::addAllowedDudIzizozModuleClasses() {
    DIZUtility::addAllowedClasses({
        ArchiveClass::of<DIZAbstractLog>("DIZAbstractLog"),
        ArchiveClass::platform("NSDate"),
        ArchiveClass::of<DIZDevice>("DIZDevice"),
        ArchiveClass::of<DIZDeviceHistoryInfo>("DIZDeviceHistoryInfo"),
        ArchiveClass::of<DIZSessionHistoryInfo>("DIZSessionHistoryInfo"),
        ArchiveClass::of<DIZUserIdHistoryInfo>("DIZUserIdHistoryInfo"),
        ArchiveClass::of<DIZAppExtension>("DIZAppExtension"),
        ArchiveClass::of<DIZCSExtensions>("DIZCSExtensions"),
        ArchiveClass::of<DIZCoreSchemaLog>("DIZCoreSchemaLog"),
        ArchiveClass::of<DIZCSData>("DIZCSData"),
        ArchiveClass::of<DIZDeviceExtension>("DIZDeviceExtension"),
        ArchiveClass::of<DIZLocExtension>("DIZLocExtension"),
        ArchiveClass::of<DIZMetadataExtension>("DIZMetadataExtension"),
        ArchiveClass::of<DIZNetExtension>("DIZNetExtension"),
        ArchiveClass::of<DIZOSExtension>("DIZOSExtension"),
        ArchiveClass::of<DIZProtocolExtension>("DIZProtocolExtension"),
        ArchiveClass::of<DIZSDKExtension>("DIZSDKExtension"),
        ArchiveClass::of<DIZUserExtension>("DIZUserExtension"),
        ArchiveClass::of<DIZStartServiceLog>("DIZStartServiceLog"),
        ArchiveClass::of<DIZBooleanTypedProperty>("DIZBooleanTypedProperty"),
        ArchiveClass::of<DIZDateTimeTypedProperty>("DIZDateTimeTypedProperty"),
        ArchiveClass::of<DIZDoubleTypedProperty>("DIZDoubleTypedProperty"),
        ArchiveClass::of<DIZLongTypedProperty>("DIZLongTypedProperty"),
        ArchiveClass::of<DIZStringTypedProperty>("DIZStringTypedProperty"),
        ArchiveClass::of<DIZTypedProperty>("DIZTypedProperty"),
        ArchiveClass::of<DIZHistoryInfo>("DIZHistoryInfo"),
        ArchiveClass::of<DIZLogWithProperties>("DIZLogWithProperties"),
        ArchiveClass::of<DIZWrapperSdk>("DIZWrapperSdk"),
        // Identifiers are archived as their text, and nothing is archived as an explicit null; the
        // two names stay listed so that the allow-list reads as the client's whole vocabulary.
        ArchiveClass::platform("NSUUID"),
        ArchiveClass::platform("NSDictionary"),
        ArchiveClass::platform("NSArray"),
        ArchiveClass::platform("NSNull"),
        ArchiveClass::platform("NSString"),
        ArchiveClass::platform("NSNumber"),
        ArchiveClass::platform("NSMutableArray"),
    });
    DIZUtility::addMigrationClasses({
        {"DZDeviceHistoryInfo", "DIZDeviceHistoryInfo"},
        {"DZDevice", "DIZDevice"},
        {"DZStartServiceLog", "DIZStartServiceLog"},
        {"DZSessionHistoryInfo", "DIZSessionHistoryInfo"},
        {"DZUserIdHistoryInfo", "DIZUserIdHistoryInfo"},
        {"DZLogWithProperties", "DIZLogWithProperties"},
        {"DZLogContainer", "DIZLogContainer"},
        {"DZWrapperSdk", "DIZWrapperSdk"},
        {"DZAbstractLog", "DIZAbstractLog"},
    });
}
