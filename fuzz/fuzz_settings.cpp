// Fuzz target: the settings file reader. Any bytes as the hive file must load
// without a fault into a record whose every field is within its range, and a
// store followed by a load must give the same record back.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/Config.h"
#include "config/ConfigFields.h"

namespace {

std::string HivePath() {
  static const std::string path = [] {
    char dir[] = "/tmp/sonavel-fuzz-XXXXXX";
    const char* made = mkdtemp(dir);
    std::string p = std::string(made ? made : "/tmp") + "/user.reg";
    setenv("SONAVEL_REGISTRY", p.c_str(), 1);
    return p;
  }();
  return path;
}

bool InRange(const sn::Config& c) {
  using sn::detail::Rule;
  for (const sn::detail::FieldRule& f : sn::detail::kFields) {
    const int32_t v = c.*(f.field);
    switch (f.rule) {
      case Rule::AsStored: break;
      case Rule::Bool:
        if (v != 0 && v != 1) return false;
        break;
      case Rule::OneOf:
        if (v != f.lo && v != f.hi) return false;
        break;
      default:
        if ((v < f.lo || v > f.hi) && v != f.def) return false;
    }
  }
  char16_t path[sn::kSlavePathChars];
  sn::GetSlavePath(c, path);
  return path[sn::kSlavePathChars - 1] == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string hive = HivePath();
  FILE* f = std::fopen(hive.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  sn::Config first{};
  sn::LoadConfig(first);
  if (!InRange(first)) __builtin_trap();
  if (sn::StoreConfig(first) != 0) return 0;
  sn::Config second{};
  sn::LoadConfig(second);
  if (std::memcmp(&first, &second, sizeof first) != 0) __builtin_trap();
  return 0;
}
