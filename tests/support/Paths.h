// Where the built modules are, and scratch directories for tests.
#pragma once

#include <string>

namespace sn::test {

// The build's bin directory ($SONAVEL_BIN_DIR overrides the configured one).
std::string BinDir();
// A fresh, empty temporary directory; the caller removes it.
std::string MakeTempDir();

}  // namespace sn::test
