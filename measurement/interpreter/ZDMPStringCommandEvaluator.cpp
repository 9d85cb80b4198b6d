#include "measurement/interpreter/ZDMPStringCommandEvaluator.h"

#include "platform/foundation/SharedInstance.h"

namespace {

constinit SharedInstance<ZDMPStringCommandEvaluator> sharedEvaluator(TestReset::keep);

}  // namespace

std::shared_ptr<ZDMPStringCommandEvaluator> ZDMPStringCommandEvaluator::sharedInstance() {
    return sharedEvaluator.get();
}

ZDMPValueRef ZDMPStringCommandEvaluator::evaluateCommand(const std::u16string&, const std::u16string&,
                                                         const ZDMPValueList&, const ZDMPScopeRef&,
                                                         Error* error) {
    return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
}
