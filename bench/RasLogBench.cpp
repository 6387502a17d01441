// RasLog_Write per line against fprintf + fflush of the same line to the same
// kind of file. The ratio of the two throughputs is what we watch.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "RatioReporter.h"
#include "velkras2/RasLog.h"

namespace {

const char kTag[] = "[info]";
const char kMessage[] = "It gets old one as fall back because of failure to get unique ID.";

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velk-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  std::string File(const char* name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

void BM_RasLogWrite(benchmark::State& state) {
  Folder folder;
  RasLog* log = RasLog_Get();
  if (!RasLog_Open(log, folder.File("velk-access-migration.log").c_str())) {
    state.SkipWithError("RasLog_Open failed");
    return;
  }
  for (auto _ : state) RasLog_Write(log, kTag, kMessage);
  RasLog_Close(log);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RasLogWrite);

void BM_FprintfFflush(benchmark::State& state) {
  Folder folder;
  FILE* f = std::fopen(folder.File("plain.log").c_str(), "ab");
  if (!f) {
    state.SkipWithError("fopen failed");
    return;
  }
  for (auto _ : state) {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    std::fprintf(f, "%04d/%02d/%02d %02d:%02d:%02d %s %s\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                 t.tm_min, t.tm_sec, kTag, kMessage);
    std::fflush(f);
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FprintfFflush);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Time per line of the peer over ours: the share of the peer's throughput.
  std::printf("RasLog_Write throughput / fprintf+fflush throughput: %.2f (goal: at least 0.8)\n",
              reporter.Ratio("BM_FprintfFflush", "BM_RasLogWrite"));
  benchmark::Shutdown();
  return 0;
}
