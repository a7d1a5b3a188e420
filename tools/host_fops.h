// fpcheck's own file operations, installed on every instance with setFops as
// a host installs its own. The plug-in asks a file only for its size; this
// answers that from the file system without opening the file, so the same
// file can be checked on several instances at once. (The plug-in's default
// file operations open the file exclusively for the size, and a second check
// of the same file meanwhile fails.)
#pragma once

#include <string>

#include "kesp/fops.h"

namespace fpcheck {

class HostFopsFactory final : public kesp::FopsFactoryV1 {
 public:
  kesp::FopsFileV1* createFopsFile(const char* path, void* context) override;
  void releaseFopsFile(kesp::FopsFileV1* file) override;
};

}  // namespace fpcheck
