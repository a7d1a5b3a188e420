// A library whose unloading is visible to the test that loaded it: a static
// object is constructed at load and destroyed at unload, and its destructor
// counts into memory of the test program.
#include "tests/foundation/probe_library.h"

namespace {

int* unloadCounter = nullptr;

struct LoadWitness {
  LoadWitness() : answer(kProbeAnswer) {}
  ~LoadWitness() {
    if (unloadCounter != nullptr) ++*unloadCounter;
  }
  int answer;
};

LoadWitness witness;

}  // namespace

extern "C" int probeAnswer() { return witness.answer; }

extern "C" void probeWatchUnload(int* unloads) { unloadCounter = unloads; }
