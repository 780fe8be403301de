// The recording slave: an output module that keeps every call it receives, for
// the host tests. The test reaches the same state through the extra export
// `rec_slave_state`, loading the module by the same path as the plug-in.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct RecSlaveState {
  // What the next calls answer.
  int openResult = 0;
  int canWriteBytes = 65536;
  int pauseResult = 0;
  int isPlaying = 0;
  int outputTime = 0;
  int writtenTime = 0;
  int writeDelayMs = 0;  // each Write sleeps this long first (a slow device)
  int writesEntered = 0;  // Writes begun, counted atomically (std::atomic_ref) as they enter

  // What arrived.
  std::vector<std::string> calls;  // entry names in order, "Write" once per call
  int open[5] = {};                // the last Open's arguments
  int volume = -1;
  int pan = 0;
  int flushTime = -1;
  int pauseArg = -1;
  std::vector<int> writeSizes;
  std::vector<uint8_t> data;

  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& c : calls) n += c == name;
    return n;
  }
  void Clear() {
    calls.clear();
    writeSizes.clear();
    data.clear();
  }
};

using RecSlaveStateFn = RecSlaveState* (*)();
