#include "measurement/interpreter/ZDMPRunBudget.h"

#include <algorithm>

#include "measurement/interpreter/ZDMPInterpreterErrors.h"

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

ZDMPRunBudget* ZDMPRunBudget::active() {
    return activeBudget;
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
