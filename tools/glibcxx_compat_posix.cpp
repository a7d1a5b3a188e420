// Linux only: keeps fpcheck and fpcloud to the C++ runtime the plug-in needs.
//
// GCC 12's libstdc++ exports std::condition_variable::wait(unique_lock&) under
// a new default version, GLIBCXX_3.4.30, so a program built here would not
// start on a system with GCC 11's runtime (GLIBCXX_3.4.29), where the plug-in
// runs. The same function is still exported under its first version,
// GLIBCXX_3.4.11, which every runtime since GCC 4.4 has. The programs are
// linked with --wrap for that symbol (cmake/Packaging.cmake): their calls land
// here and go to the old version. (Linking the C++ runtime statically instead
// would pull in std::random_device's use of arc4random, GLIBC_2.36.)
#include <condition_variable>
#include <mutex>

extern "C" {

// The runtime's function under its GLIBCXX_3.4.11 version; the member
// function's object is its first argument.
void kespConditionVariableWait3411(std::condition_variable* self,
                                   std::unique_lock<std::mutex>* lock);
__asm__(".symver kespConditionVariableWait3411,"
        "_ZNSt18condition_variable4waitERSt11unique_lockISt5mutexE@GLIBCXX_3.4.11");

// What the wrapped calls of std::condition_variable::wait(lock) reach.
void __wrap__ZNSt18condition_variable4waitERSt11unique_lockISt5mutexE(
    std::condition_variable* self, std::unique_lock<std::mutex>* lock) {
  kespConditionVariableWait3411(self, lock);
}

}  // extern "C"
