// A module that carries Sonavel's own id, as another copy of Sonavel would.
#include "host/OutputModule.h"

namespace {
void V() {}
void Vp(void*) {}
void Vi(int) {}
int I() { return 0; }
int Ii(int) { return 0; }
int Iw(char*, int) { return 0; }
int Io(int, int, int, int, int) { return 0; }
OutputModuleRecord g_Record = {OUT_MODULE_VERSION, "Another Sonavel", 6546551, nullptr, nullptr, Vp, Vp, V, V,
                               Io, V, Iw, I, I, Ii, Vi, Vi, Vi, I, I};
}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_Record; }
