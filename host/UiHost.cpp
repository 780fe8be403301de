#include "host/UiHost.h"

namespace sn {

const char16_t* CSonavelUiHost::UseSlave(const char16_t* path, SlaveCall call, void* parent) {
  // A load of its own, never initialised: the playing slave is not disturbed
  // even when it is the same module.
  platform::Module* module = nullptr;
  OutputModuleRecord* record = nullptr;
  if (const char16_t* msg = s_.LoadSlaveModule(path, &module, &record, 1)) return msg;
  if (call == SlaveCall::Config && record->Config) record->Config(parent);
  else if (call == SlaveCall::About && record->About) record->About(parent);
  CSonavel::UnloadSlaveModule(&module, &record, 1);
  return nullptr;
}

}  // namespace sn
