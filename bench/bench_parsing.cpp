// Cost of reading and writing JSON and binary property lists as the input grows tenfold: each
// benchmark runs at a small and a ten times larger size, so the ratio of the two times shows
// whether the cost grows linearly (about 10x) or worse.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/JSON.h"
#include "platform/foundation/PropertyList.h"

namespace {

// `[{},{},...]` with `count` empty objects: three bytes each.
std::string emptyObjects(int64_t count) {
    std::string text = "[";
    for (int64_t i = 0; i < count; ++i) text += i == 0 ? "{}" : ",{}";
    return text + "]";
}

void BM_JsonParseEmptyObjects(benchmark::State& state) {
    const std::string text = emptyObjects(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(json::parse(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_JsonParseEmptyObjects)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// One dictionary of `count` keys, each holding a small record, as a large settings export would.
Value wideDictionary(int64_t count) {
    Dictionary entries;
    for (int64_t i = 0; i < count; ++i) {
        entries.set(
            "key" + std::to_string(i),
            Value(Dictionary{{"name", Value("item " + std::to_string(i))},
                             {"values", Value(Value::Array{Value(i), Value(0.5 * i), Value(true)})}}));
    }
    return Value(std::move(entries));
}

void BM_JsonWriteWideDictionary(benchmark::State& state) {
    const Value value = wideDictionary(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = json::write(value);
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_JsonWriteWideDictionary)->Arg(5'000)->Arg(50'000)->Unit(benchmark::kMillisecond);

void BM_JsonParseWideDictionary(benchmark::State& state) {
    const std::string text = json::write(wideDictionary(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(json::parse(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_JsonParseWideDictionary)->Arg(5'000)->Arg(50'000)->Unit(benchmark::kMillisecond);

// The floor for the dictionary cases: indexing the same keys in a bare hash map. Where memory
// access rather than the algorithm grows faster than the size, this grows just as fast.
void BM_BaselineHashMapOfKeys(benchmark::State& state) {
    std::vector<std::string> keys;
    for (int64_t i = 0; i < state.range(0); ++i) keys.push_back("key" + std::to_string(i));
    for (auto _ : state) {
        std::unordered_map<std::string, size_t> index;
        for (const auto& key : keys) index.emplace(key, index.size());
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(BM_BaselineHashMapOfKeys)->Arg(5'000)->Arg(50'000)->Unit(benchmark::kMillisecond);

Data binaryList(const Value& value) {
    auto bytes = plist::write(value);
    return bytes ? *bytes : Data();
}

void readBinaryList(benchmark::State& state, const Data& bytes) {
    if (!plist::read(bytes)) state.SkipWithError("the property list does not read back");
    for (auto _ : state) benchmark::DoNotOptimize(plist::read(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_PlistReadArray(benchmark::State& state) {
    Value::Array items;
    for (int64_t i = 0; i < state.range(0); ++i) items.emplace_back(i);
    readBinaryList(state, binaryList(Value(std::move(items))));
}
BENCHMARK(BM_PlistReadArray)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

void BM_PlistReadDictionary(benchmark::State& state) {
    Dictionary entries;
    for (int64_t i = 0; i < state.range(0); ++i) entries.set("key" + std::to_string(i), Value(i));
    readBinaryList(state, binaryList(Value(std::move(entries))));
}
BENCHMARK(BM_PlistReadDictionary)->Arg(5'000)->Arg(50'000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // glibc moves its mmap threshold as blocks come and go, so at some sizes every iteration maps
    // fresh pages for the result and the figure measures page faults, not parsing. Fixed
    // thresholds keep the heap warm at every size.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
