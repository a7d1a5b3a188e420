// The system calls behind CloudService: one run of fpcloud as a child
// process, its output read as it comes. POSIX: a pipe and signals; Windows
// (under Wine): the Linux fpcloud with its output in a file and a stop file.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kesp::test {

class ServiceProcess {
 public:
  virtual ~ServiceProcess() = default;
  // Blocks for the next piece of output; empty once the output has ended.
  virtual std::string read() = 0;
  // Asks the service to stop, as SIGTERM does.
  virtual void requestStop() = 0;
  // After requestStop and the bounded wait for its "stopped:" line or the
  // end of its output (ending: one of them came, so it is ending on its
  // own): makes sure the process is gone and read() ends; returns its exit
  // code, -1 for a signal or none known.
  virtual int finish(bool ending) = 0;

  // Starts fpcloud with the arguments.
  static std::unique_ptr<ServiceProcess> start(const std::vector<std::string>& arguments);
};

}  // namespace kesp::test
