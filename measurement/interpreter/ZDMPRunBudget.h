#pragma once
// What one run of a program may spend: evaluations, bytes of new text and array slots, and nesting.
// The counts live here rather than in a scope, so a program can neither read nor reset them; every
// scope of a runtime reaches the same budget. Nesting is counted per thread, because deep recursion
// exhausts the thread's stack whichever runtime or value causes it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "measurement/interpreter/ZDMPReclaimer.h"
#include "platform/foundation/Error.h"

class ZDMPRunBudget {
  public:
    static constexpr int64_t kMaximumEvaluations = 1000000;
    static constexpr double kMaximumAllocationBytes = 64.0 * 1024 * 1024;
    static constexpr int kMaximumNesting = 512;

    int64_t instructionCount() const { return instructions_; }
    // Fails with code 18 once the run has evaluated its maximum; otherwise counts one evaluation.
    bool countEvaluation(Error* error);
    // Starts a new run: no evaluations and no allocations spent.
    void reset();

    // Fails with code 18, allocating nothing, when `bytes` more would pass the run's allocation
    // budget (the budget of the run active on this thread, or a single operation's share when none
    // is active); otherwise records them. Takes a double so that sizes computed from script numbers
    // cannot wrap.
    static bool reserveBytes(double bytes, Error* error);
    // Whether `bytes` more would still fit, charging nothing: for text being built that is charged
    // once it becomes a value.
    static bool fitsBytes(double bytes, Error* error);

    // Makes `budget` the one reserveBytes charges on this thread until the activation ends.
    class Activation {
      public:
        explicit Activation(ZDMPRunBudget* budget);
        ~Activation();
        Activation(const Activation&) = delete;
        Activation& operator=(const Activation&) = delete;

      private:
        ZDMPRunBudget* previous_;
    };

    // The budget of the run evaluating on this thread; nullptr outside runs.
    static ZDMPRunBudget* active();
    // Where the scopes and values of this budget's runs are registered.
    const std::shared_ptr<ZDMPReclaimer>& reclaimer() const { return reclaimer_; }

  private:
    int64_t instructions_ = 0;
    double allocatedBytes_ = 0;
    std::shared_ptr<ZDMPReclaimer> reclaimer_ = std::make_shared<ZDMPReclaimer>();
};

// One level of nesting for the life of the guard. `entered()` fails with code 18 when the thread
// is already kMaximumNesting levels deep, before the caller recurses any further.
class ZDMPNestingGuard {
  public:
    ZDMPNestingGuard();
    ~ZDMPNestingGuard();
    ZDMPNestingGuard(const ZDMPNestingGuard&) = delete;
    ZDMPNestingGuard& operator=(const ZDMPNestingGuard&) = delete;
    bool entered(Error* error) const;
    bool entered() const { return entered(nullptr); }
};
