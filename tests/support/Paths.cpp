#include "support/Paths.h"

#include <stdlib.h>

#include <filesystem>

namespace sn::test {

std::string BinDir() {
  const char* env = std::getenv("SONAVEL_BIN_DIR");
  return env && *env ? env : SONAVEL_BIN_DIR;
}

std::string MakeTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "sonavel-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
}

}  // namespace sn::test
