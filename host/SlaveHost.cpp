// Loading, validating and unloading slave output modules.
#include <cstdio>
#include <string>

#include "host/Sonavel.h"

namespace sn {

const char16_t* CSonavel::LoadSlaveModule(const char16_t* path, platform::Module** module,
                                          OutputModuleRecord** record, int noInit) {
  *module = nullptr;
  *record = nullptr;
  platform::Module* m = platform::LoadModule(path);
  if (!m) {
    // The message box keeps its fixed text; the details go to standard error.
    try {
      const std::string line = "Sonavel: slave module \"" + platform::ToUtf8(path) +
                               "\" could not be loaded (" + platform::ModuleLoadError() + ")\n";
      std::fputs(line.c_str(), stderr);
    } catch (...) {
    }
    return kMsgSlaveOpen;
  }
  auto get = reinterpret_cast<GetOutModuleFn>(platform::FindExport(m, "winampGetOutModule"));
  if (!get) {
    platform::UnloadModule(m);
    return kMsgSlaveInvalid;
  }
  OutputModuleRecord* r = get();
  // A record without the entries we forward to would crash at the first call.
  if (!r || !r->Init || !r->Quit || !r->Open || !r->Close || !r->Write || !r->CanWrite || !r->IsPlaying ||
      !r->Pause || !r->SetVolume || !r->SetPan || !r->Flush || !r->GetOutputTime || !r->GetWrittenTime) {
    platform::UnloadModule(m);
    return kMsgSlaveInvalid;
  }
  if (r->id == kSonavelModuleId) {
    platform::UnloadModule(m);
    return kMsgSlaveSelf;
  }
  if (!noInit) {
    r->Init();
    r->SetVolume(m_Volume.load(std::memory_order_relaxed));
  }
  *module = m;
  *record = r;
  return nullptr;
}

void CSonavel::UnloadSlaveModule(platform::Module** module, OutputModuleRecord** record, int noQuit) {
  if (*module) {
    if (!noQuit && *record && (*record)->Quit) (*record)->Quit();
    platform::UnloadModule(*module);
  }
  *record = nullptr;
  *module = nullptr;
}

}  // namespace sn
