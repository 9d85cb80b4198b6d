#include "measurement/interpreter/fuzz/ZDMPProgramFuzzTarget.h"

#include <cstdio>
#include <cstdlib>

#include "measurement/interpreter/ZDMPEventEditing.h"
#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

// Program lines go nowhere: the monitor's queue and files are not what is being fuzzed.
class DiscardingLogger final : public ZDMPLoggerDelegate {
  public:
    void logWithLevel(int64_t, const std::u16string&, const std::vector<std::u16string>&, bool,
                      bool) override {}
};

void addHostModules(ZDMPEventEditing& editing) {
    editing.setModuleCreator(
        [] {
            return std::make_shared<ZDMPKeyValueStore>(
                u"internal.remoteConfig", [](const std::u16string& key) -> std::optional<std::u16string> {
                    if (key == u"measurement.upload.max_bundles") return u"100";
                    return std::nullopt;
                });
        },
        u"internal.remoteConfig");
    editing.setModuleCreator(
        [] {
            return std::make_shared<ZDMPObjectProvider>(u"internal.appMetadata", [] {
                return Value(Dictionary{{"platform", Value("macos")},
                                        {"package_name", Value("com.example.app")},
                                        {"zor_version", Value(101300)},
                                        {"app_version", Value("1.0")}});
            });
        },
        u"internal.appMetadata");
    editing.setModuleCreator(
        [] { return std::make_shared<ZDMPMessageLogger>(std::make_shared<DiscardingLogger>()); },
        u"internal.logger");
}

std::shared_ptr<ZDMPEvent> fixedEvent() {
    return ZDMPEvent::initWithName(
        "cycled", 10,
        {{"_c", Value(int64_t{1})}, {"value", Value(int64_t{3})}, {"f", Value(1.5)}, {"x", Value("t")}});
}

int64_t spent(ZDMPEventEditing& editing) {
    return editing.runtime().globalScope()->budget().instructionCount();
}

}  // namespace

ZDMPFuzzRun ZDMPFuzzProgram(const uint8_t* data, size_t size) {
    ZDMPFuzzRun run;
    const auto program = ZDMPBProgram::initWithBuffer(Data(data, data + size));
    if (!program) return run;
    run.decoded = true;
    ZDMPEventEditing editing;
    addHostModules(editing);
    Error error;
    run.loaded = editing.loadProgram(*program, &error);
    run.mostEvaluations = spent(editing);
    if (!run.loaded) return run;
    editing.handleEvent(fixedEvent(), &error);
    run.handled = !ZDMPFailed(error);
    run.mostEvaluations = std::max(run.mostEvaluations, spent(editing));
    return run;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZDMPFuzzRun run = ZDMPFuzzProgram(data, size);
    if (run.mostEvaluations > ZDMPRunBudget::kMaximumEvaluations) {
        std::fprintf(stderr, "a run spent %lld evaluations\n", static_cast<long long>(run.mostEvaluations));
        std::abort();
    }
    return 0;
}
