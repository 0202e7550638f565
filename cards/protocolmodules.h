#ifndef PROTOCOLMODULES_H
#define PROTOCOLMODULES_H

#include <memory>

class JQFLModule;
class VNLModule;
class KLRLModule;

// The protocol modules live for the whole process, one per card driver, each
// with its own serial port; the drivers reach theirs through these. They are
// made before main in this order (cards/protocolmodules.cpp) and released
// after it in the reverse order, closing the port a run opened.
extern std::shared_ptr<JQFLModule> jqFourModule;
extern std::shared_ptr<JQFLModule> jqTwoModule;
extern std::shared_ptr<VNLModule> vnModule;
extern std::shared_ptr<KLRLModule> klrModule;

#endif // PROTOCOLMODULES_H
