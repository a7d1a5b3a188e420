// The release convention shared by every object the plug-in hands to the host.
#pragma once

namespace kesp {

// [plug imp] Base of every object that the host receives from a creating
// operation. There is no reference counting: the owner calls release()
// exactly once, after which the pointer is invalid.
class ReleasableObjectV1 {
 public:
  // Slot 0. Destroys the object and frees its memory. Never fails.
  virtual void release() = 0;

 protected:
  // Objects end through release(), never through delete by the host.
  ~ReleasableObjectV1() = default;
};

}  // namespace kesp
