// The fuzzer's seed corpus replayed through its entry in the normal build: every program of the
// conformance table (and a few using the host modules and activities) is a seed, and no seed may
// crash or pass the evaluation budget.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/interpreter/fuzz/ZDMPProgramFuzzTarget.h"
#include "measurement/interpreter/tests/ConformanceRows.h"
#include "measurement/interpreter/tests/ProgramText.h"

using namespace interpreter_test;

namespace {

namespace fs = std::filesystem;

Data contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Seeds are named by their content, so that writing them again adds only new ones.
std::string seedName(const Data& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "seed-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// Beyond the table: the host modules the fuzzer's fakes stand for, and activities.
const ProgramSource kModulePrograms[] = {
    {R"((41 "cfg") (3 "cfg" (require "internal.remoteConfig")) (41 "meta") (3 "meta" (require "internal.appMetadata"))
        (41 "logger") (3 "logger" (require "internal.logger")) (41 "r") (3 "r" (require "internal.registerCallback"))
        (r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "b" (2 $cfg "getValue" (7 "measurement.upload.max_bundles" 0))))
            (2 $e "setParamValue" (7 "p" (16 (meta) "platform"))) (2 $logger "log" (7 5 "edited" "a" "b" "c" "d"))
            (2 (16 $logger "silent") "log" (7 6 "quiet")) 0) (8 "type" "edit")))"},
    {R"((50 "rules" (7 "o") (41 "r") (3 "r" (require "internal.registerCallback"))
        (r 0 (51 "" (7 "e") (2 $e "setEventName" (7 (16 $o "to"))) 0) (8 "type" "edit" "priority" (16 $o "at")))))",
     {{"rules", R"((8 "to" "first" "at" 2) (8 "to" "second" "at" 1))"}}},
    {R"((41 "v") (3 "v" (2 (require "internal.platform") "getVersion" (7))))", {{"v", "(8)"}}},
    // Comparators that change the array they sort, and one answering at random: the fuzzer's
    // sanitizer build replays these first on every run.
    {R"((41 "a") (3 "a" (7 5 3 9 1 7 2 8)) (2 $a "sort" (7 (51 "" (7 "x" "y") (2 $a "push" (7 $x)) (2 $a "pop" (7))
        (2 $a "shift" (7)) (2 $a "unshift" (7 $y)) (36 (37 $x $y))))))"},
    {R"((41 "n") (3 "n" 1) (41 "a") (3 "a" (7 5 3 9 1 7 2 8 4 6)) (2 $a "sort" (7 (51 "" (7 "x" "y")
        (3 "n" (25 (0 (26 $n 7) 3) 11)) (36 (37 $n 5))))))"},
};

std::vector<Data> tablePrograms() {
    std::vector<Data> programs;
    for (const Row& row : kRows) programs.push_back(programBytes({programOf(row)}));
    for (const ProgramSource& source : kModulePrograms) programs.push_back(programBytes(source));
    return programs;
}

}  // namespace

// With QUORVANE_WRITE_FUZZ_SEEDS set, the table's programs are written into the corpus first.
TEST(ZDMPProgramFuzzCorpus, EveryTableProgramIsASeed) {
    const fs::path corpus = QUORVANE_FUZZ_CORPUS;
    if (std::getenv("QUORVANE_WRITE_FUZZ_SEEDS")) {
        for (const Data& program : tablePrograms()) {
            std::ofstream out(corpus / seedName(program), std::ios::binary);
            out.write(reinterpret_cast<const char*>(program.data()),
                      static_cast<std::streamsize>(program.size()));
        }
    }
    std::set<Data> seeds;
    for (const auto& entry : fs::directory_iterator(corpus)) seeds.insert(contentsOf(entry.path()));
    for (const Data& program : tablePrograms())
        EXPECT_TRUE(seeds.contains(program))
            << seedName(program) << " is missing: run this test with QUORVANE_WRITE_FUZZ_SEEDS=1";
}

TEST(ZDMPProgramFuzzCorpus, EverySeedRunsWithinTheBudget) {
    size_t seeds = 0, loaded = 0, handled = 0;
    for (const auto& entry : fs::directory_iterator(QUORVANE_FUZZ_CORPUS)) {
        const Data bytes = contentsOf(entry.path());
        const ZDMPFuzzRun run = ZDMPFuzzProgram(bytes.data(), bytes.size());
        EXPECT_TRUE(run.decoded) << entry.path();
        EXPECT_LE(run.mostEvaluations, ZDMPRunBudget::kMaximumEvaluations) << entry.path();
        ++seeds;
        loaded += run.loaded;
        handled += run.handled;
    }
    EXPECT_GE(seeds, std::size(kRows));
    // Most seeds load and get through the event; the failure rows do not.
    EXPECT_GT(loaded, seeds / 2);
    EXPECT_GT(handled, seeds / 2);
}

TEST(ZDMPProgramFuzzCorpus, BytesThatAreNoProgramEndQuietly) {
    const std::vector<Data> inputs = {{}, {0xff}, {0x0a, 0x05, 0x08}, {0x0a, 0x02, 0x08, 0x09}};
    for (const Data& bytes : inputs) {
        const ZDMPFuzzRun run = ZDMPFuzzProgram(bytes.data(), bytes.size());
        EXPECT_LE(run.mostEvaluations, ZDMPRunBudget::kMaximumEvaluations);
    }
}
