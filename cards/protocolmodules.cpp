#include "cards/protocolmodules.h"

#include "cards/jq/jqflmodule.h"
#include "cards/klr/klrlmodule.h"
#include "cards/vn/vnlmodule.h"

// Defined together in one translation unit so that their order of creation
// (and of release, reversed) is fixed.
std::shared_ptr<JQFLModule> jqFourModule(new JQFLModule);
std::shared_ptr<JQFLModule> jqTwoModule(new JQFLModule);
std::shared_ptr<VNLModule> vnModule(new VNLModule);
std::shared_ptr<KLRLModule> klrModule(new KLRLModule);
