// Cost of running an event-editing program once per event: a counting loop, a text build, and an
// array filled, mapped and sorted. Each program runs in a fresh run scope with a fresh budget, as
// every event does.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPRuntime.h"

namespace {

ZDMPValueRef N(double x) {
    return ZDMPNumberValue::make(x);
}
ZDMPValueRef S(std::u16string text) {
    return std::make_shared<ZDMPStringValue>(std::move(text));
}
ZDMPValueRef C(std::u16string code, ZDMPValueList arguments = {}) {
    return std::make_shared<ZDMPStatementValue>(std::move(code), std::move(arguments));
}
ZDMPValueRef Var(std::u16string name) {
    return C(u"15", {S(std::move(name))});
}
ZDMPValueRef Assign(std::u16string name, ZDMPValueRef value) {
    return C(u"3", {S(std::move(name)), std::move(value)});
}
// while (i < n) { body; i = i + 1 } with i declared and set to 0 first.
ZDMPValueList counted(double n, ZDMPValueList body) {
    return {C(u"41", {S(u"i")}), Assign(u"i", N(0)),
            C(u"42", {C(u"23", {Var(u"i"), N(n)}), Assign(u"i", C(u"0", {Var(u"i"), N(1)})),
                      ZDMPBoolean(false), C(u"46", std::move(body))})};
}
ZDMPValueRef method(ZDMPValueRef object, std::u16string name, ZDMPValueList arguments) {
    return C(u"2", {std::move(object), S(std::move(name)), C(u"7", std::move(arguments))});
}

void run(benchmark::State& state, const ZDMPValueList& program) {
    ZDMPRuntime runtime;
    for (auto _ : state) {
        runtime.resetInstructionCount();
        Error error;
        benchmark::DoNotOptimize(ZDMPEvaluator::executeStatements(program, runtime.getRunScope(), &error));
        if (ZDMPFailed(error)) state.SkipWithError("the program failed");
    }
}

void BM_CountingLoop(benchmark::State& state) {
    ZDMPValueList program = {C(u"41", {S(u"sum")}), Assign(u"sum", N(0))};
    for (auto& statement : counted(1000, {Assign(u"sum", C(u"0", {Var(u"sum"), Var(u"i")}))}))
        program.push_back(statement);
    run(state, program);
}
BENCHMARK(BM_CountingLoop)->Unit(benchmark::kMicrosecond);

void BM_TextBuild(benchmark::State& state) {
    ZDMPValueList program = {C(u"41", {S(u"t")}), Assign(u"t", S(u""))};
    for (auto& statement :
         counted(200, {Assign(u"t", C(u"0", {Var(u"t"), method(Var(u"i"), u"toString", {})}))}))
        program.push_back(statement);
    program.push_back(method(Var(u"t"), u"toUpperCase", {}));
    run(state, program);
}
BENCHMARK(BM_TextBuild)->Unit(benchmark::kMicrosecond);

void BM_ArrayFillMapSort(benchmark::State& state) {
    ZDMPValueList program = {C(u"41", {S(u"a")}), Assign(u"a", C(u"7"))};
    for (auto& statement :
         counted(200, {method(Var(u"a"), u"push", {C(u"25", {C(u"26", {Var(u"i"), N(7919)}), N(1000)})})}))
        program.push_back(statement);
    const ZDMPValueRef twice =
        C(u"51", {S(u""), C(u"7", {S(u"v")}), C(u"36", {C(u"26", {Var(u"v"), N(2)})})});
    const ZDMPValueRef ascending =
        C(u"51", {S(u""), C(u"7", {S(u"x"), S(u"y")}), C(u"36", {C(u"37", {Var(u"x"), Var(u"y")})})});
    program.push_back(method(method(Var(u"a"), u"map", {twice}), u"sort", {ascending}));
    run(state, program);
}
BENCHMARK(BM_ArrayFillMapSort)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
