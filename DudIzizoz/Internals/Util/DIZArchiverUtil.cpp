#include "DudIzizoz/Internals/Util/DIZArchiverUtil.h"

#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"
#include "DudIzizoz/Internals/Context/DIZUserIdHistoryInfo.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

void DIZArchiverUtil::addAllowedDudIzizozModuleClasses() {
    DIZUtility::addAllowedClasses({
        ArchiveClass::platform("NSDate"),
        ArchiveClass::of<DIZSessionHistoryInfo>("DIZSessionHistoryInfo"),
        ArchiveClass::of<DIZUserIdHistoryInfo>("DIZUserIdHistoryInfo"),
        ArchiveClass::of<DIZHistoryInfo>("DIZHistoryInfo"),
        ArchiveClass::platform("NSUUID"),
        ArchiveClass::platform("NSDictionary"),
        ArchiveClass::platform("NSArray"),
        ArchiveClass::platform("NSNull"),
        ArchiveClass::platform("NSString"),
        ArchiveClass::platform("NSNumber"),
        ArchiveClass::platform("NSMutableArray"),
    });
    DIZUtility::addMigrationClasses({
        {"DZSessionHistoryInfo", "DIZSessionHistoryInfo"},
        {"DZUserIdHistoryInfo", "DIZUserIdHistoryInfo"},
    });
}
