#include "measurement/interpreter/ZDMPRunBudget.h"

#include <algorithm>

#include "measurement/interpreter/ZDMPInterpreterErrors.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

thread_local ZDMPRunBudget* activeBudget = nullptr;
thread_local int nestingDepth = 0;

}  // namespace

bool ZDMPRunBudget::countEvaluation(Error* error) {
    if (instructions_ >= kMaximumEvaluations) {
        ZDMPSetError(error, ZDMPErrorCode::budgetExhausted);
        return false;
    }
    ++instructions_;
    return true;
}

void ZDMPRunBudget::reset() {
    instructions_ = 0;
    allocatedBytes_ = 0;
}

bool ZDMPRunBudget::fitsBytes(double bytes, Error* error) {
    const double spent = activeBudget ? activeBudget->allocatedBytes_ : 0;
    if (spent + bytes <= kMaximumAllocationBytes) return true;
    ZDMPSetError(error, ZDMPErrorCode::budgetExhausted);
    return false;
}

bool ZDMPRunBudget::reserveBytes(double bytes, Error* error) {
    if (bytes <= 0) return true;
    if (!fitsBytes(bytes, error)) return false;
    if (activeBudget) activeBudget->allocatedBytes_ += bytes;
    return true;
}

ZDMPRunBudget::Activation::Activation(ZDMPRunBudget* budget) : previous_(activeBudget) {
    activeBudget = budget;
}

ZDMPRunBudget::Activation::~Activation() {
    activeBudget = previous_;
}

void ZDMPRunBudget::registerScope(const std::shared_ptr<ZDMPScope>& scope) {
    if (scopes_.size() >= pruneAt_) {
        std::erase_if(scopes_, [](const std::weak_ptr<ZDMPScope>& s) { return s.expired(); });
        pruneAt_ = std::max<size_t>(64, scopes_.size() * 2);
    }
    scopes_.push_back(scope);
}

void ZDMPRunBudget::releaseScopes() {
    std::vector<std::weak_ptr<ZDMPScope>> scopes;
    scopes.swap(scopes_);
    for (const auto& weak : scopes) {
        if (auto scope = weak.lock()) scope->removeAllValues();
    }
}

ZDMPNestingGuard::ZDMPNestingGuard() {
    ++nestingDepth;
}

ZDMPNestingGuard::~ZDMPNestingGuard() {
    --nestingDepth;
}

bool ZDMPNestingGuard::entered(Error* error) const {
    if (nestingDepth <= ZDMPRunBudget::kMaximumNesting) return true;
    ZDMPSetError(error, ZDMPErrorCode::budgetExhausted);
    return false;
}
