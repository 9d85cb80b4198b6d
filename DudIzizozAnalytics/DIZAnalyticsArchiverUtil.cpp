#include "DudIzizozAnalytics/DIZAnalyticsArchiverUtil.h"

#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozAnalytics/Model/DIZEventLog.h"
#include "DudIzizozAnalytics/Model/DIZPageLog.h"
#include "DudIzizozAnalytics/Model/DIZStartSessionLog.h"

void DIZAnalyticsArchiverUtil::addAllowedAnalyitcsModuleClasses() {
    DIZUtility::addAllowedClasses({
        ArchiveClass::of<DIZSessionHistoryInfo>("DIZSessionHistoryInfo"),
        ArchiveClass::platform("NSDate"),
        ArchiveClass::of<DIZDevice>("DIZDevice"),
        ArchiveClass::of<DIZAbstractLog>("DIZAbstractLog"),
        ArchiveClass::of<DIZEventLog>("DIZEventLog"),
        ArchiveClass::of<DIZPageLog>("DIZPageLog"),
        ArchiveClass::of<DIZEventProperties>("DIZEventProperties"),
        ArchiveClass::of<DIZLogWithNameAndProperties>("DIZLogWithNameAndProperties"),
        ArchiveClass::of<DIZBooleanTypedProperty>("DIZBooleanTypedProperty"),
        ArchiveClass::of<DIZDateTimeTypedProperty>("DIZDateTimeTypedProperty"),
        ArchiveClass::of<DIZDoubleTypedProperty>("DIZDoubleTypedProperty"),
        ArchiveClass::of<DIZLongTypedProperty>("DIZLongTypedProperty"),
        ArchiveClass::of<DIZStringTypedProperty>("DIZStringTypedProperty"),
        ArchiveClass::of<DIZTypedProperty>("DIZTypedProperty"),
        ArchiveClass::of<DIZStartSessionLog>("DIZStartSessionLog"),
        ArchiveClass::platform("NSDictionary"),
        ArchiveClass::platform("NSString"),
        ArchiveClass::platform("NSNumber"),
        ArchiveClass::platform("NSMutableArray"),
    });
}
