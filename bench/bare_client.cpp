// The least a libcurl client does for a check: the reference SDK's request
// (its body, its headers, HTTP/1.1 on a kept-alive connection, one easy
// handle per thread), sent by J threads over and over, and nothing else. It
// is the floor that bench/cloud.sh sets fpcheck against: the same library
// doing the same transfers, without an SDK, a plug-in or a host around it.
//
//   bench_bare_client URL --cacert FILE [--threads J] (--seconds S | --requests N)
//
// The body, the User-Agent and the API key come from BENCH_BODY,
// BENCH_USER_AGENT and BENCH_API_KEY, as for wrk's script. Prints one line:
//   bare-result requests=N seconds=S p50us=A p99us=B failed=F
// and exits 1 when any request failed (no 200 answer).
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  std::string url;
  std::string caFile;
  unsigned threads = 1;
  double seconds = 0;
  unsigned long requests = 0;  // in all (failed ones too); 0: run for seconds
  std::string body;
  std::string userAgent;
  std::string apiKey;
};

struct EasyCleanup {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

struct ThreadResult {
  std::vector<std::uint32_t> microseconds;
  unsigned long failed = 0;
};

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// One thread's connection: the options the SDK's transport sets that shape
// the request or the connection, the same header list, and the body.
void runThread(const Settings& settings, std::atomic<long>& budget, Clock::time_point end,
               ThreadResult& result) {
  std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
  std::unique_ptr<curl_slist, SlistCleanup> headers;
  const auto add = [&](const std::string& line) {
    curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
    if (longer != nullptr) {
      static_cast<void>(headers.release());
      headers.reset(longer);
    }
  };
  add("Content-Type: application/json");
  add("User-Agent: " + settings.userAgent);
  if (!settings.apiKey.empty()) add("X-Api-Key: " + settings.apiKey);
  add("Expect:");
  CURL* handle = easy.get();
  curl_easy_setopt(handle, CURLOPT_URL, settings.url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
  curl_easy_setopt(handle, CURLOPT_CAINFO, settings.caFile.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, settings.body.c_str());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(settings.body.size()));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &discard);
  for (;;) {
    if (settings.requests > 0) {
      if (budget.fetch_sub(1, std::memory_order_relaxed) <= 0) return;
    } else if (Clock::now() >= end) {
      return;
    }
    const Clock::time_point start = Clock::now();
    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || status != 200) {
      ++result.failed;
      continue;
    }
    result.microseconds.push_back(static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
  }
}

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool parse(int argc, char** argv, Settings& settings) {
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == "--cacert" && hasValue) {
      settings.caFile = argv[++index];
    } else if (argument == "--threads" && hasValue) {
      settings.threads = static_cast<unsigned>(std::strtoul(argv[++index], nullptr, 10));
    } else if (argument == "--seconds" && hasValue) {
      settings.seconds = std::strtod(argv[++index], nullptr);
    } else if (argument == "--requests" && hasValue) {
      settings.requests = std::strtoul(argv[++index], nullptr, 10);
    } else if (settings.url.empty() && argument.rfind("--", 0) != 0) {
      settings.url = argument;
    } else {
      return false;
    }
  }
  settings.body = environment("BENCH_BODY");
  settings.userAgent = environment("BENCH_USER_AGENT");
  settings.apiKey = environment("BENCH_API_KEY");
  return !settings.url.empty() && !settings.caFile.empty() && settings.threads > 0 &&
         (settings.seconds > 0) != (settings.requests > 0) && !settings.body.empty() &&
         !settings.userAgent.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!parse(argc, argv, settings)) {
    std::fprintf(stderr,
                 "usage: bench_bare_client URL --cacert FILE [--threads J] "
                 "(--seconds S | --requests N)\n"
                 "with BENCH_BODY and BENCH_USER_AGENT (and BENCH_API_KEY) set\n");
    return 2;
  }
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "bench_bare_client: libcurl cannot initialize\n");
    return 1;
  }
  std::atomic<long> budget{static_cast<long>(settings.requests)};
  std::vector<ThreadResult> results(settings.threads);
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings.seconds));
  {
    std::vector<std::jthread> threads;
    for (ThreadResult& result : results) {
      threads.emplace_back([&] { runThread(settings, budget, end, result); });
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<std::uint32_t> all;
  unsigned long failed = 0;
  for (const ThreadResult& result : results) {
    all.insert(all.end(), result.microseconds.begin(), result.microseconds.end());
    failed += result.failed;
  }
  std::sort(all.begin(), all.end());
  const auto percentile = [&](double p) -> std::uint32_t {
    if (all.empty()) return 0;
    const auto rank = static_cast<std::size_t>(p / 100 * static_cast<double>(all.size()) + 0.999999);
    return all[std::clamp<std::size_t>(rank, 1, all.size()) - 1];
  };
  std::printf("bare-result requests=%zu seconds=%.6f p50us=%u p99us=%u failed=%lu\n", all.size(),
              seconds, percentile(50), percentile(99), failed);
  curl_global_cleanup();
  return failed == 0 ? 0 : 1;
}
