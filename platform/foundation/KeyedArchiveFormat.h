#pragma once
// The names and limits that the keyed archiver and unarchiver must agree on.
#include <cstdint>

namespace keyed_archive {

inline constexpr const char* kArchiverName = "NSKeyedArchiver";
inline constexpr uint64_t kVersion = 100000;

inline constexpr const char* kArchiverKey = "$archiver";
inline constexpr const char* kVersionKey = "$version";
inline constexpr const char* kTopKey = "$top";
inline constexpr const char* kObjectsKey = "$objects";
inline constexpr const char* kNullObject = "$null";
inline constexpr const char* kClassKey = "$class";
inline constexpr const char* kClassNameKey = "$classname";
inline constexpr const char* kClassesKey = "$classes";

inline constexpr const char* kArrayClass = "NSArray";
inline constexpr const char* kDictionaryClass = "NSDictionary";
inline constexpr const char* kDateClass = "NSDate";
inline constexpr const char* kObjectClass = "NSObject";

inline constexpr const char* kObjectsField = "NS.objects";
inline constexpr const char* kKeysField = "NS.keys";
inline constexpr const char* kTimeField = "NS.time";

// Objects and collections nested deeper than this are neither written nor read, so an archive
// that one side accepts the other can read, and a hostile one cannot exhaust the stack.
inline constexpr int kMaxNesting = 256;

}  // namespace keyed_archive
