-- wrk script of bench/cloud.sh: POSTs the body and headers the reference SDK
-- sends for one check, read from the environment. Only static settings, so
-- wrk builds the request once and calls no Lua per request; the one function
-- is done(), which prints a line for the script to read.
local function need(name)
  local value = os.getenv(name)
  if value == nil or value == "" then error(name .. " is not set") end
  return value
end

wrk.method = "POST"
wrk.body = need("BENCH_BODY")
wrk.headers["Content-Type"] = "application/json"
wrk.headers["User-Agent"] = need("BENCH_USER_AGENT")
wrk.headers["Accept"] = "*/*"
local key = os.getenv("BENCH_API_KEY")
if key ~= nil and key ~= "" then wrk.headers["X-Api-Key"] = key end

function done(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format(
    "wrk-result requests=%d seconds=%.6f p50us=%d p99us=%d non2xx=%d socketerrors=%d\n",
    summary.requests, summary.duration / 1e6, latency:percentile(50), latency:percentile(99),
    errors.status, errors.connect + errors.read + errors.write + errors.timeout))
end
