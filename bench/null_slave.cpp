// A slave that accepts everything and keeps nothing, so that the host's own
// cost can be measured.
#include "host/OutputModule.h"

namespace {
void Vp(void*) {}
void V() {}
void Vi(int) {}
int I() { return 0; }
int CanWrite() { return 1 << 20; }
int Ii(int) { return 0; }
int Iw(char*, int) { return 0; }
int Io(int, int, int, int, int) { return 0; }
OutputModuleRecord g_Record = {OUT_MODULE_VERSION, "Null slave", 4343, nullptr, nullptr, Vp, Vp, V, V, Io, V, Iw,
                               CanWrite, I, Ii, Vi, Vi, Vi, I, I};
}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_Record; }
