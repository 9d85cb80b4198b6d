#include "measurement/interpreter/ZDMPScope.h"

ZDMPScopeRef ZDMPScope::make(ZDMPScopeRef parent, std::shared_ptr<ZDMPRunBudget> budget) {
    ZDMPScopeRef scope(new ZDMPScope(std::move(parent), std::move(budget)));
    scope->budget_->reclaimer()->addScope(scope.get());
    return scope;
}

ZDMPScope::~ZDMPScope() {
    budget_->reclaimer()->removeScope(this);
}

void ZDMPScope::collectReferences(ZDMPReferences& references) const {
    contents_.collectValues(references.values);
    references.scopes.push_back(parent_.get());
}

ZDMPScopeRef ZDMPScope::initWithParentScope(ZDMPScopeRef parent) {
    auto budget = parent ? parent->budget_ : std::make_shared<ZDMPRunBudget>();
    return make(std::move(parent), std::move(budget));
}

ZDMPScopeRef ZDMPScope::createChildScope() {
    return make(shared_from_this(), budget_);
}

bool ZDMPScope::hasName(const std::u16string& name) const {
    for (const ZDMPScope* level = this; level; level = level->parent_.get()) {
        if (level->contents_.hasName(name)) return true;
    }
    return false;
}

void ZDMPScope::addValue(ZDMPValueRef value, const std::u16string& name) {
    contents_.setValue(std::move(value), name);
}

void ZDMPScope::addImmutableValue(ZDMPValueRef value, const std::u16string& name) {
    contents_.setImmutableValue(std::move(value), name);
}

void ZDMPScope::setValue(ZDMPValueRef value, const std::u16string& name) {
    for (ZDMPScope* level = this; level; level = level->parent_.get()) {
        if (level->contents_.isImmutable()) return;
        if (level->contents_.hasName(name)) {
            level->contents_.setValue(std::move(value), name);
            return;
        }
        if (!level->parent_ || !level->parent_->hasName(name)) break;
    }
    contents_.setValue(std::move(value), name);
}

const ZDMPValueRef& ZDMPScope::valueForName(const std::u16string& name) const {
    for (const ZDMPScope* level = this; level; level = level->parent_.get()) {
        if (level->contents_.hasName(name)) return level->contents_.valueForName(name);
    }
    return ZDMPUndefined();
}
