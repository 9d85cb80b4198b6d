#pragma once
// Programs a configuration carries in the tests of the library's modules and of the engine's write
// path through the real editor.
#include <string>

namespace interpreter_test {

// Binds the library's modules and the registering function.
inline const std::string kModules = R"((41 "r") (3 "r" (require "internal.registerCallback"))
    (41 "cfg") (3 "cfg" (require "internal.remoteConfig"))
    (41 "meta") (3 "meta" (require "internal.appMetadata"))
    (41 "logger") (3 "logger" (require "internal.logger"))
    (41 "log") (3 "log" (require "internal.eventLogger")) )";

// "cycled" becomes "cycled_x" carrying what the modules answer, and each "cycled_x" creates
// "extra" with origin "fa".
inline const std::string kRenameAndCreate = kModules + R"(
    (r 0 (51 "" (7 "e") (22 (20 (2 $e "getEventName" (7)) "cycled") (46
        (2 $e "setEventName" (7 "cycled_x"))
        (2 $e "setParamValue" (7 "bundles" (2 $cfg "getValue" (7 "measurement.upload.max_bundles" "none"))))
        (2 $e "setParamValue" (7 "interval" (2 $cfg "getValue" (7 "measurement.upload.debug_upload_interval" 0))))
        (2 $e "setParamValue" (7 "absent" (2 $cfg "getValue" (7 "absent" "default"))))
        (2 $e "setParamValue" (7 "platform" (16 (meta) "platform")))
        (2 $logger "log" (7 "edited")))) 0) (8 "type" "edit"))
    (r 0 (51 "" (7 "e") (22 (20 (2 $e "getEventName" (7)) "cycled_x")
        (46 (log "extra" (2 $e "getTimestamp" (7)) (8 "_o" "fa" "k" 1))))) (8 "type" "create")))";

// A callback that renames the event and then recurses without end.
inline const std::string kRecursingForever =
    R"((50 "down" (7 "n") (36 (down (0 $n 1)))) )" + kModules +
    R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "x")) (down 0)) (8 "type" "edit")))";

}  // namespace interpreter_test
