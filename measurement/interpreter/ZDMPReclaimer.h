#pragma once
// Reference cycles are part of ordinary programs: a function holds the scope it was defined in
// while that scope holds the function, and maps or arrays can hold themselves. Counted references
// never free those, so every scope and every map, array and function value a runtime makes is
// registered here, and after a load or an event the runtime clears the ones nothing reachable
// holds any more, which frees them.
#include <cstddef>
#include <memory>
#include <unordered_set>
#include <vector>

class ZDMPRuntimeValue;
class ZDMPScope;

// What one value or scope holds, gathered for the walk from the roots.
struct ZDMPReferences {
    std::vector<const ZDMPRuntimeValue*> values;
    std::vector<const ZDMPScope*> scopes;
};

class ZDMPReclaimer {
  public:
    // The reclaimer of the run evaluating on this thread; nullptr outside runs.
    static std::shared_ptr<ZDMPReclaimer> active();

    void addValue(ZDMPRuntimeValue* value) { values_.insert(value); }
    void removeValue(ZDMPRuntimeValue* value) { values_.erase(value); }
    void addScope(ZDMPScope* scope) { scopes_.insert(scope); }
    void removeScope(ZDMPScope* scope) { scopes_.erase(scope); }
    size_t liveValueCount() const { return values_.size(); }
    size_t liveScopeCount() const { return scopes_.size(); }

    // Clears every registered scope and value not reachable from the roots.
    void reclaimUnreachable(const ZDMPReferences& roots);
    // Clears every registered scope and value: the runtime is going away.
    void releaseAll();

  private:
    // Empties the given ones, then lets them go: the emptying breaks the cycles, so the last
    // reference dropped here frees them (and their destructors unregister them).
    void release(const std::unordered_set<const void*>* keep);

    std::unordered_set<ZDMPRuntimeValue*> values_;
    std::unordered_set<ZDMPScope*> scopes_;
};
