// For test slaves: appends one line to the file an environment variable
// names (nothing when it is unset), with plain system calls that allocate
// nothing, so a slave may log from inside a counted audio path.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

inline void AppendLogLine(const char* envVar, const char* entry) {
  const char* path = std::getenv(envVar);
  if (!path || !*path) return;
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[64];
  size_t n = std::strlen(entry);
  if (n > sizeof line - 1) n = sizeof line - 1;
  std::memcpy(line, entry, n);
  line[n] = '\n';
  (void)!write(fd, line, n + 1);
  close(fd);
}
