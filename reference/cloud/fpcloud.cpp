// fpcloud: the reference cloud service on loopback, for tests and the demo.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "reference/cloud/cloud_server.h"
#include "reference/rules/rules.h"

namespace fpcloud {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kDescription =
    "The reference cloud service: answers the FP checker's check protocol from a rules file.\n"
    "Prints the URL it serves, then one line per connection, TLS handshake and request;\n"
    "stops on SIGINT or SIGTERM (or when the --stop-file appears) with a summary line.\n"
    "Faults go to the POST requests on the endpoint, before the key, quota and body are\n"
    "looked at; the delay comes first, then the status or the dropped connection.";

struct Options {
  std::string rulesFile;
  std::string stopFile;
  ServiceSettings service;
  std::uint64_t quota = 0;
  std::uint64_t faultCount = 0;
  int status = 0;
};

void addOptions(CLI::App& app, Options& options) {
  auto& s = options.service;
  app.add_option("--rules", options.rulesFile, "Rules file deciding the verdicts")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--listen", s.listen, "Address to bind (\"localhost\" binds 127.0.0.1)")
      ->capture_default_str();
  app.add_option("--port", s.port, "Port; 0 chooses a free one")->check(CLI::Range(0, 65535));
  app.add_option("--path", s.path, "The endpoint's path; any other gets 404")
      ->capture_default_str()
      ->check([](const std::string& path) {
        return path.empty() || path[0] != '/' ? std::string("must start with /") : std::string();
      });
  auto* cert = app.add_option("--tls-cert", s.tlsCert, "Certificate (chain) PEM: serve HTTPS")
                   ->check(CLI::ExistingFile);
  auto* key = app.add_option("--tls-key", s.tlsKey, "Private key PEM of the certificate")
                  ->check(CLI::ExistingFile);
  cert->needs(key);
  key->needs(cert);
  app.add_option("--api-key", s.apiKeys, "A valid X-Api-Key (repeatable)")->take_all();
  app.add_option("--quota", options.quota, "Requests accepted before each later one gets 429");
  app.add_option("--max-body", s.maxBody, "Largest body in bytes; a larger one gets 413")
      ->capture_default_str();
  app.add_option("--max-age", s.maxAge, "Cache-Control max-age of a verdict; 0: no-store");
  app.add_option("--read-timeout-ms", s.readTimeoutMs, "Cut off a client this slow to send")
      ->capture_default_str()
      ->check(CLI::Range(1u, 600000u));
  app.add_option("--delay-ms", s.faults.delayMs, "Fault: wait this long before answering");
  auto* status = app.add_option("--status", options.status, "Fault: answer with this status")
                     ->check(CLI::Range(100, 599));
  app.add_option("--location", s.faults.location, "With a 3xx --status: the Location header")
      ->needs(status);
  app.add_flag("--drop", s.faults.drop, "Fault: close the connection without answering");
  app.add_option("--fault-share", s.faults.share, "Share of the requests that get the fault(s)")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--fault-count", options.faultCount, "Only the first N requests get the fault(s)");
  app.add_flag("--fault-mix", s.faults.mix,
               "Each faulted request gets one of the given faults, at random");
  app.add_option("--seed", s.faults.seed, "Seed of the random choices")->capture_default_str();
  app.add_option("--stop-file", options.stopFile,
                 "Stop as on SIGTERM when this file appears (for a parent that cannot signal)");
}

// How often the stop file is looked for: a stop within a tenth of a second.
constexpr auto kStopFilePoll = std::chrono::milliseconds(50);

// Reads the rules, or says on standard error why not.
std::optional<vfpcsdk::RuleSet> readRules(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "fpcloud: cannot read the rules file '" << file << "'\n";
    return std::nullopt;
  }
  auto parsed = vfpcsdk::parseRules(in);
  if (!parsed.errors.empty()) {
    for (const auto& error : parsed.errors)
      std::cerr << "fpcloud: " << file << ":" << error.line << ": " << error.reason << "\n";
    return std::nullopt;
  }
  return vfpcsdk::RuleSet(std::move(parsed.rules));
}

int serve(int argc, char** argv) {
  // The stop signals are taken by one thread with sigwait, never by a
  // handler: stopping takes locks. Blocked here, before any thread starts,
  // they stay blocked in every thread the server creates.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A client that goes away mid-answer is a failed write, not the end.
  signal(SIGPIPE, SIG_IGN);

  CLI::App app(kDescription, "fpcloud");
  Options options;
  addOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : kExitUsage;
  }
  if (app.count("--quota") > 0) options.service.quota = options.quota;
  if (app.count("--fault-count") > 0) options.service.faults.count = options.faultCount;
  if (app.count("--status") > 0) options.service.faults.status = options.status;
  if (!options.service.faults.location.empty() && (options.status < 300 || options.status > 399)) {
    std::cerr << "fpcloud: --location needs a 3xx --status\n";
    return kExitUsage;
  }

  auto rules = readRules(options.rulesFile);
  if (!rules) return kExitUsage;

  LineOutput out(stdout);
  std::string url;
  std::unique_ptr<CloudServer> server;
  try {
    server = std::make_unique<CloudServer>(options.service, std::move(*rules), out);
    url = server->bind();
  } catch (const std::exception& error) {
    std::cerr << "fpcloud: " << error.what() << "\n";
    return kExitFailure;
  }
  out.line(url);

  std::atomic<bool> finished{false};
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // A signal that comes before the server is listening must still stop
    // it, so stop is repeated until run() has returned.
    while (!finished) {
      server->stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // A parent that cannot send signals (a Windows program under Wine) creates
  // the stop file instead; the watcher turns it into the same SIGTERM, so
  // there is one way to stop.
  std::thread stopFileWatcher;
  if (!options.stopFile.empty()) {
    stopFileWatcher = std::thread([&] {
      std::error_code ignored;
      while (!finished) {
        if (std::filesystem::exists(options.stopFile, ignored)) {
          kill(getpid(), SIGTERM);
          return;
        }
        std::this_thread::sleep_for(kStopFilePoll);
      }
    });
  }
  const bool ran = server->run();
  finished = true;
  if (stopFileWatcher.joinable()) stopFileWatcher.join();
  // Wakes the stopper when the server ended on its own.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();

  const auto counts = server->counts();
  out.line("stopped: " + std::to_string(counts.requests) + " requests, " +
           std::to_string(counts.connections) + " connections, " +
           std::to_string(counts.handshakes) + " handshakes");
  return ran ? 0 : kExitFailure;
}

}  // namespace
}  // namespace fpcloud

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer sees the HTTP library's memory accesses only through the
// calls it intercepts (memcpy, memcmp), not the atomics of the uninstrumented
// Debian build that order them, and so reports races between connection
// threads that it cannot judge. Reports from inside that library are left
// out; everything of the service's own stays checked.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
#endif

int main(int argc, char** argv) {
  try {
    return fpcloud::serve(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "fpcloud: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "fpcloud: unexpected failure\n";
  }
  return fpcloud::kExitFailure;
}
