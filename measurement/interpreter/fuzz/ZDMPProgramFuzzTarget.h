#pragma once
// One fuzzer input: the bytes as a program, loaded into event editing whose three host modules are
// small fakes, then run over one fixed event. Both the fuzzer and the corpus replay in the tests
// call this; the fuzzer treats a run past the evaluation budget as a finding.
#include <cstddef>
#include <cstdint>

struct ZDMPFuzzRun {
    bool decoded = false;
    bool loaded = false;
    bool handled = false;
    // The most evaluations the load or the event spent; never more than the budget.
    int64_t mostEvaluations = 0;
};

ZDMPFuzzRun ZDMPFuzzProgram(const uint8_t* data, size_t size);
