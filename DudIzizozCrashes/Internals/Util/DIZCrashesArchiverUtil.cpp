#include "DudIzizozCrashes/Internals/Util/DIZCrashesArchiverUtil.h"

#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/Model/DIZWrapperException.h"
#include "DudIzizozCrashes/Model/DIZWrapperExceptionModel.h"

void DIZCrashesArchiverUtil::addAllowedCrashesModuleClasses() {
    DIZUtility::addAllowedClasses({
        ArchiveClass::of<DIZAppleErrorLog>("DIZAppleErrorLog"),
        ArchiveClass::platform("NSDate"),
        ArchiveClass::of<DIZDevice>("DIZDevice"),
        ArchiveClass::of<DIZThread>("DIZThread"),
        ArchiveClass::of<DIZWrapperException>("DIZWrapperException"),
        ArchiveClass::of<DIZAbstractErrorLog>("DIZAbstractErrorLog"),
        ArchiveClass::of<DIZHandledErrorLog>("DIZHandledErrorLog"),
        ArchiveClass::of<DIZWrapperExceptionModel>("DIZWrapperExceptionModel"),
        ArchiveClass::of<DIZStackFrame>("DIZStackFrame"),
        ArchiveClass::of<DIZBinary>("DIZBinary"),
        ArchiveClass::of<DIZErrorAttachmentLog>("DIZErrorAttachmentLog"),
        // The error report is never archived; listing it makes no object of it either.
        ArchiveClass{"DIZErrorReport", nullptr},
        ArchiveClass::of<DIZWrapperSdk>("DIZWrapperSdk"),
        // The platform's value classes stand for the kinds of Value they carry.
        ArchiveClass::platform("NSUUID"),
        ArchiveClass::platform("NSDictionary"),
        ArchiveClass::platform("NSArray"),
        ArchiveClass::platform("NSNull"),
        ArchiveClass::of<DIZLogWithProperties>("DIZLogWithProperties"),
        ArchiveClass::of<DIZCoreSchemaLog>("DIZCoreSchemaLog"),
        ArchiveClass::platform("NSMutableData"),
        ArchiveClass::of<DIZExceptionModel>("DIZExceptionModel"),
        ArchiveClass::platform("NSString"),
        ArchiveClass::platform("NSNumber"),
        ArchiveClass::platform("NSMutableArray"),
    });
}
