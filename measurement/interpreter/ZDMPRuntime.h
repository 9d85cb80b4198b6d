#pragma once
// One interpreter instance: a root scope, a global scope below it that keeps a program's top-level
// names between runs, and the run budget. The statement count is kept in the budget, out of reach
// of every name a program can read or assign. Used on one thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include "measurement/interpreter/ZDMPNativeFunctions.h"
#include "measurement/interpreter/ZDMPRuntimeValue.h"
#include "measurement/wire/ZDMPBProgramMessages.h"

class ZDMPRuntime {
  public:
    ZDMPRuntime();
    // Empties every scope and value the runtime made that is still alive, so that closures kept in
    // the scope they were made in do not keep each other alive.
    ~ZDMPRuntime();
    ZDMPRuntime(const ZDMPRuntime&) = delete;
    ZDMPRuntime& operator=(const ZDMPRuntime&) = delete;

    static int64_t runtimeVersion() { return 0; }

    // Converts and evaluates each entity in the global scope; the first failure ends the run with
    // undefined. The result is the last entity's value.
    ZDMPValueRef executeStatements(const std::vector<std::shared_ptr<const ZDMPBRuntimeEntity>>& entities,
                                   Error* error);
    // A new, empty child of the global scope: names a run declares at its top level end with it.
    ZDMPScopeRef getRunScope();
    // Evaluations counted since the last reset, read as a 32-bit integer.
    int32_t getInstructionCount(Error* error) const;
    // Starts a new run's budget (statements and allocations).
    void resetInstructionCount();

    const ZDMPScopeRef& globalScope() const { return globalScope_; }
    // Makes the module "require" gives for `name` (replacing an earlier creator of that name).
    void setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name);

    // Between runs: frees the scopes and values that neither the global scope, the "require"
    // cache nor `roots` lead to. Values the caller still holds must be among the roots.
    void reclaimUnreachable(const ZDMPValueList& roots);
    size_t liveScopeCount() const;
    size_t liveValueCount() const;

  private:
    ZDMPScopeRef initScope_;
    ZDMPScopeRef globalScope_;
    std::shared_ptr<ZDMPDynamicProvider> provider_;
    std::shared_ptr<ZDMPRequire> require_;
};
