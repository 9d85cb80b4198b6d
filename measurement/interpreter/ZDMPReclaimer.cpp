#include "measurement/interpreter/ZDMPReclaimer.h"

#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/interpreter/ZDMPRuntimeValue.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

// Scalars hold nothing: only these can lead further.
bool mayHoldReferences(const ZDMPRuntimeValue& value) {
    switch (value.kind()) {
        case ZDMPValueKind::map:
        case ZDMPValueKind::function:
        case ZDMPValueKind::array:
        case ZDMPValueKind::control:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::shared_ptr<ZDMPReclaimer> ZDMPReclaimer::active() {
    ZDMPRunBudget* budget = ZDMPRunBudget::active();
    return budget ? budget->reclaimer() : nullptr;
}

void ZDMPReclaimer::reclaimUnreachable(const ZDMPReferences& roots) {
    std::unordered_set<const void*> reached;
    // An explicit work list: a long chain of maps must not recurse once per link.
    ZDMPReferences work = roots;
    while (!work.values.empty() || !work.scopes.empty()) {
        if (!work.scopes.empty()) {
            const ZDMPScope* scope = work.scopes.back();
            work.scopes.pop_back();
            if (scope && reached.insert(scope).second) scope->collectReferences(work);
            continue;
        }
        const ZDMPRuntimeValue* value = work.values.back();
        work.values.pop_back();
        if (value && mayHoldReferences(*value) && reached.insert(value).second)
            value->collectReferences(work);
    }
    release(&reached);
}

void ZDMPReclaimer::releaseAll() {
    release(nullptr);
}

void ZDMPReclaimer::release(const std::unordered_set<const void*>* keep) {
    std::vector<std::shared_ptr<ZDMPRuntimeValue>> values;
    std::vector<std::shared_ptr<ZDMPScope>> scopes;
    for (ZDMPRuntimeValue* value : values_)
        if (!keep || !keep->contains(value))
            if (auto held = value->weak_from_this().lock()) values.push_back(std::move(held));
    for (ZDMPScope* scope : scopes_)
        if (!keep || !keep->contains(scope))
            if (auto held = scope->weak_from_this().lock()) scopes.push_back(std::move(held));
    for (const auto& value : values) value->releaseReferences();
    for (const auto& scope : scopes) scope->removeAllValues();
}
