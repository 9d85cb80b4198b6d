#pragma once
// A level of the chain of variable tables in which programs declare, assign and look up names.
// A child keeps its parent alive; every scope reaches the run budget of the tree it belongs to.
#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPPropertyMap.h"
#include "measurement/interpreter/ZDMPRunBudget.h"

class ZDMPScope : public std::enable_shared_from_this<ZDMPScope> {
  public:
    ~ZDMPScope();
    ZDMPScope(const ZDMPScope&) = delete;
    ZDMPScope& operator=(const ZDMPScope&) = delete;
    // A root scope (no parent) starts a budget of its own; a child shares its parent's.
    static ZDMPScopeRef initWithParentScope(ZDMPScopeRef parent);
    ZDMPScopeRef createChildScope();

    const ZDMPScopeRef& parentScope() const { return parent_; }
    // Whether this scope or an ancestor holds the name.
    bool hasName(const std::u16string& name) const;
    // Declares (or resets) the name here, unless this level is immutable.
    void addValue(ZDMPValueRef value, const std::u16string& name);
    // As addValue, and the name becomes constant at this level.
    void addImmutableValue(ZDMPValueRef value, const std::u16string& name);
    // Assignment: where the nearest level holding the name is, else created here. A constant or
    // an immutable level keeps its value silently.
    void setValue(ZDMPValueRef value, const std::u16string& name);
    // From the nearest level holding the name; undefined when none does.
    const ZDMPValueRef& valueForName(const std::u16string& name) const;
    void makeImmutable() { contents_.makeImmutable(); }

    ZDMPRunBudget& budget() const { return *budget_; }
    // Empties this level, to break reference cycles nothing reachable holds.
    void removeAllValues() { contents_.removeAll(); }
    // The values of this level and the parent, for the reclaimer's walk.
    void collectReferences(ZDMPReferences& references) const;

  private:
    ZDMPScope(ZDMPScopeRef parent, std::shared_ptr<ZDMPRunBudget> budget)
        : parent_(std::move(parent)), budget_(std::move(budget)) {}
    static ZDMPScopeRef make(ZDMPScopeRef parent, std::shared_ptr<ZDMPRunBudget> budget);

    ZDMPScopeRef parent_;
    std::shared_ptr<ZDMPRunBudget> budget_;
    ZDMPPropertyMap contents_;
};
