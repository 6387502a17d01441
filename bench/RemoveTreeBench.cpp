// CDirectoryRemover on a host tree of 100 000 files in nested folders,
// against rm -rf on an identical tree, in one run.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "DirectoryRemover.h"
#include "Log.h"
#include "RatioReporter.h"
#include "platform/host/machine/Machine.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTop = 20, kMiddle = 10;
// 500 files a folder: 100 000 in all; VELK_BENCH_FILES_PER_FOLDER scales it down for a quick look.
int kFiles = 500;

fs::path g_machine;

fs::path TreeRoot() { return g_machine / "drive_c/bench/tree"; }

void MakeTree() {
  for (int a = 0; a < kTop; ++a) {
    for (int b = 0; b < kMiddle; ++b) {
      fs::path dir = TreeRoot() / ("group" + std::to_string(a)) / ("set" + std::to_string(b));
      fs::create_directories(dir);
      for (int f = 0; f < kFiles; ++f) {
        std::string name = dir.string() + "/file" + std::to_string(f) + ".dat";
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
          (void)!::write(fd, "x", 1);
          ::close(fd);
        }
      }
    }
  }
  ::sync();
}

void BM_RemoveTree(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    MakeTree();
    state.ResumeTiming();
    CDirectoryRemover remover;
    remover.Remove(L"C:\\bench\\tree", L"*.*");
    state.PauseTiming();
    if (fs::exists(TreeRoot())) state.SkipWithError("tree not removed");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kTop * kMiddle * kFiles);
}

void BM_RmRf(benchmark::State& state) {
  const std::string command = "rm -rf '" + TreeRoot().string() + "'";
  for (auto _ : state) {
    state.PauseTiming();
    MakeTree();
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) state.SkipWithError("rm failed");
  }
  state.SetItemsProcessed(state.iterations() * kTop * kMiddle * kFiles);
}

BENCHMARK(BM_RemoveTree)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RmRf)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // A machine of its own in the working folder: run it where the file
  // system of interest is (the build folder; /dev/shm for a CPU-bound look).
  g_machine = fs::absolute("bench-machine-" + std::to_string(::getpid()));
  fs::create_directories(g_machine / "drive_c/bench");
  std::FILE* keep = std::fopen((g_machine / "drive_c/bench/keep.txt").c_str(), "w");
  if (keep) std::fclose(keep);  // the climb stops at C:\bench
  ::setenv("VELK_MACHINE", g_machine.c_str(), 1);
  g_logger.m_threshold = Info;
  if (const char* n = std::getenv("VELK_BENCH_FILES_PER_FOLDER")) kFiles = std::atoi(n);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("RemoveTree / rm -rf wall-time ratio on %d files: %.2f (goal: at most 1.2)\n", kTop * kMiddle * kFiles,
              reporter.Ratio("BM_RemoveTree/iterations:2/real_time", "BM_RmRf/iterations:2/real_time"));
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_machine, ec);
  return 0;
}
