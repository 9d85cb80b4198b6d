#pragma once
// A stand-in platform class or object for tests: it answers the selectors it was given, and
// nothing else, as a class looked up by name would.
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/foundation/RuntimeObject.h"

class AnsweringObject : public RuntimeObject {
  public:
    using Answers = std::map<std::string, Value, std::less<>>;
    explicit AnsweringObject(Answers answers) : answers_(std::move(answers)) {}
    std::string className() const override { return "AnsweringObject"; }
    bool respondsToSelector(std::string_view selector) const override { return answers_.contains(selector); }
    Value perform(std::string_view selector) const override {
        const auto found = answers_.find(selector);
        return found == answers_.end() ? Value() : found->second;
    }

  private:
    Answers answers_;
};
