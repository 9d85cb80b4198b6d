#pragma once
// A component a library offers through the core library's container: the protocol it implements
// and the block that makes an instance when one is first asked for.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

class ZUDComponentContainer;

// When the container makes the instance: only on request is offered here.
enum class ZUDInstantiationTiming : int { Lazy = 0 };

class ZUDComponent {
  public:
    // Makes the instance; leaving *isCacheable true (its starting value) has the container keep it
    // for every later request, false has each request make a new one.
    using CreationBlock =
        std::function<std::shared_ptr<Object>(ZUDComponentContainer& container, bool* isCacheable)>;

    static std::shared_ptr<ZUDComponent> componentWithProtocol(std::string protocol,
                                                               ZUDInstantiationTiming timing,
                                                               std::vector<std::string> dependencies,
                                                               CreationBlock creationBlock);

    const std::string& protocol() const { return protocol_; }
    ZUDInstantiationTiming instantiationTiming() const { return timing_; }
    // The protocols the component needs; the container does not check them.
    const std::vector<std::string>& dependencies() const { return dependencies_; }
    const CreationBlock& creationBlock() const { return creationBlock_; }

    ZUDComponent(std::string protocol, ZUDInstantiationTiming timing, std::vector<std::string> dependencies,
                 CreationBlock creationBlock);  // use componentWithProtocol

  private:
    const std::string protocol_;
    const ZUDInstantiationTiming timing_;
    const std::vector<std::string> dependencies_;
    const CreationBlock creationBlock_;
};

// What a library registers with the core library: the components it offers.
class ZUDLibrary {
  public:
    virtual ~ZUDLibrary() = default;
    virtual std::vector<std::shared_ptr<ZUDComponent>> componentsToRegister() const = 0;
};
