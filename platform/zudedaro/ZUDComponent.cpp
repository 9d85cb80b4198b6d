#include "platform/zudedaro/ZUDComponent.h"

std::shared_ptr<ZUDComponent> ZUDComponent::componentWithProtocol(std::string protocol,
                                                                  ZUDInstantiationTiming timing,
                                                                  std::vector<std::string> dependencies,
                                                                  CreationBlock creationBlock) {
    return std::make_shared<ZUDComponent>(std::move(protocol), timing, std::move(dependencies),
                                          std::move(creationBlock));
}

ZUDComponent::ZUDComponent(std::string protocol, ZUDInstantiationTiming timing,
                           std::vector<std::string> dependencies, CreationBlock creationBlock)
    : protocol_(std::move(protocol)),
      timing_(timing),
      dependencies_(std::move(dependencies)),
      creationBlock_(std::move(creationBlock)) {}
