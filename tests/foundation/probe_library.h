// The exports of the probe library that the loading tests build and load.
#pragma once

extern "C" {
// Returns kProbeAnswer, read from an object that the library constructs when
// it is loaded.
using ProbeAnswerFunction = int (*)();
// Makes the library add 1 to *unloads when its static objects are destroyed,
// which happens exactly when the system unloads it.
using ProbeWatchUnloadFunction = void (*)(int* unloads);
}

inline constexpr const char kProbeAnswerName[] = "probeAnswer";
inline constexpr const char kProbeWatchUnloadName[] = "probeWatchUnload";
inline constexpr int kProbeAnswer = 42;
