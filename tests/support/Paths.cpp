#include "support/Paths.h"

#include <stdlib.h>

#include <filesystem>
#include <random>

#include "platform/Platform.h"

namespace sn::test {

std::string BinDir() {
#if defined(_WIN32)
  // Under Wine this machine's path of the build means nothing: the modules and
  // the test programs share one directory.
  std::string dir = platform::ModuleDirectory(reinterpret_cast<const void*>(&BinDir));
  if (!dir.empty()) dir.pop_back();
  return dir;
#else
  const char* env = std::getenv("SONAVEL_BIN_DIR");
  return env && *env ? env : SONAVEL_BIN_DIR;
#endif
}

std::string MakeTempDir() {
#if defined(_WIN32)
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return std::string();
  std::random_device seed;
  std::mt19937 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / ("sonavel-test-" + std::to_string(rng()));
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
  }
  return std::string();
#else
  std::string tmpl = (std::filesystem::temp_directory_path() / "sonavel-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
#endif
}

}  // namespace sn::test
