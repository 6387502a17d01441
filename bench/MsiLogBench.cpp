// velk-msilog on a 100 MB verbose MSI log (the Wine removal log of the
// tests over and over, as Wine writes it), against `grep -c` of one
// pattern over the same file: both read every byte once, grep with
// nothing around it. Both run as programs, in turns.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "RatioReporter.h"

namespace fs = std::filesystem;

namespace {

fs::path g_log;
std::size_t g_bytes = 0;

void Run(benchmark::State& state, const std::string& command) {
  for (auto _ : state) {
    if (std::system(command.c_str()) == -1) state.SkipWithError("could not run");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
}

void BM_MsiLog(benchmark::State& state) {
  // Exit 0: the removal succeeded; anything else is a fault here.
  const std::string command = std::string(VELK_BINARY_DIR) + "/velk-msilog '" + g_log.string() + "' >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("velk-msilog did not summarise the log");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
}

// GNU grep stops at the first match when its output is /dev/null: the
// count goes to a file.
void BM_GrepCount(benchmark::State& state) {
  Run(state, "grep -c 'Action start' '" + g_log.string() + "' >'" + g_log.string() + ".count'");
}

BENCHMARK(BM_MsiLog)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrepCount)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::ifstream source(fs::path(VELK_SOURCE_DIR) / "tests/msilog/data/wine-removal.log", std::ios::binary);
  const std::string one((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  if (one.empty()) {
    std::fprintf(stderr, "bench_msilog: no test log\n");
    return 1;
  }
  std::size_t megabytes = 100;
  if (const char* n = std::getenv("VELK_BENCH_MSILOG_MB")) megabytes = std::strtoul(n, nullptr, 10);
  g_log = fs::absolute("bench-msilog-" + std::to_string(::getpid()) + ".log");
  {
    std::ofstream out(g_log, std::ios::binary);
    while (g_bytes < megabytes * 1000 * 1000) {
      out << one;
      g_bytes += one.size();
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("velk-msilog / grep -c wall-time ratio on a %zu-byte log: %.2f (goal: at most 4)\n", g_bytes,
              reporter.Ratio("BM_MsiLog/iterations:5/real_time", "BM_GrepCount/iterations:5/real_time"));
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove(g_log, ec);
  fs::remove(g_log.string() + ".count", ec);
  return 0;
}
