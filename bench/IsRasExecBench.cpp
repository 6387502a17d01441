// The running-client check: over a fake list of 10 000 processes against a
// bare case-insensitive scan of the same paths, and over the real /proc
// against pgrep -f finding the same executable.
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "Log.h"
#include "RatioReporter.h"
#include "RunningClient.h"
#include "platform/Port.h"
#include "platform/TextCompare.h"
#include "platform/host/machine/Machine.h"
#include "support/FakeClock.h"
#include "support/FakeInstaller.h"
#include "support/FakeProcesses.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using velk_test::FakeInstaller;

constexpr wchar_t kTarget[] = L"C:\\Program Files\\TESSMAR\\velk-access\\";
constexpr wchar_t kClient[] = L"C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe";
constexpr int kProcesses = 10000;

struct Session {
  Session() : useInstaller(installer), useClock(clock) {
    installer.properties[L"RASV1_INSTALLED"] = L"C:\\Program Files\\TESSMAR\\velk-access V1\\";
    installer.properties[L"RASEX_INSTALLED"] = L"C:\\Program Files\\TESSMAR\\velk-access EX\\";
    installer.properties[L"RASLE_INSTALLED"] = L"C:\\Program Files\\TESSMAR\\velk-access LE\\";
    installer.properties[L"TARGETDIR"] = kTarget;
    g_logger.m_hInstall = FakeInstaller::kSession;
    g_logger.m_threshold = Info;
  }
  FakeInstaller installer;
  velk_test::FakeClock clock;
  platform::ScopedPort<platform::Installer> useInstaller;
  platform::ScopedPort<platform::Clock> useClock;
};

// The client is the last of 10 000 processes: the whole list is walked.
void FillFakeList(velk_test::FakeProcesses& processes) {
  for (int i = 1; i < kProcesses; ++i)
    processes.Add(static_cast<DWORD>(4 * i), L"C:\\Windows\\System32\\svchost-" + std::to_wstring(i) + L".exe");
  processes.Add(4 * kProcesses, kClient);
}

void BM_IsRasExec_FakeList10000(benchmark::State& state) {
  Session session;
  velk_test::FakeProcesses processes;
  FillFakeList(processes);
  platform::ScopedPort<platform::Processes> use(processes);
  for (auto _ : state) {
    session.installer.messages.clear();
    processes.opened.clear();
    processes.accessRequested.clear();
    if (IsRasExec(FakeInstaller::kSession) != E_ABORT) state.SkipWithError("client not found");
  }
  state.SetItemsProcessed(state.iterations() * kProcesses);
}
BENCHMARK(BM_IsRasExec_FakeList10000)->Unit(benchmark::kMicrosecond);

// The peer: the same 10 000 paths compared with the four candidates, and
// nothing else.
void BM_PlainScan10000(benchmark::State& state) {
  std::vector<std::wstring> paths;
  for (int i = 1; i < kProcesses; ++i)
    paths.push_back(L"C:\\Windows\\System32\\svchost-" + std::to_wstring(i) + L".exe");
  paths.push_back(kClient);
  const std::wstring candidates[] = {L"C:\\Program Files\\TESSMAR\\velk-access LE\\bin\\velk-access-LE.exe",
                                     L"C:\\Program Files\\TESSMAR\\velk-access V1\\bin\\velk-access.exe",
                                     L"C:\\Program Files\\TESSMAR\\velk-access EX\\bin\\velk-access-ex.exe", kClient};
  for (auto _ : state) {
    int found = -1;
    for (size_t i = 0; i < paths.size() && found < 0; ++i)
      for (const auto& c : candidates)
        if (platform::EqualsIgnoreCase(paths[i], c)) {
          found = static_cast<int>(i);
          break;
        }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kProcesses);
}
BENCHMARK(BM_PlainScan10000)->Unit(benchmark::kMicrosecond);

// A machine with a copy of sleep running as the client.
struct RealClient {
  RealClient() {
    char pattern[] = "/tmp/velk-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    exe = root / "drive_c/Program Files/TESSMAR/velk-access/bin/velk-access.exe";
    fs::create_directories(exe.parent_path());
    fs::copy_file("/bin/sleep", exe);
    ::setenv("VELK_MACHINE", root.c_str(), 1);
    platform::host::Machine::Reset();
    std::string path = exe.string();
    char* argv[] = {path.data(), const_cast<char*>("600"), nullptr};
    ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
  }
  ~RealClient() {
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  fs::path exe;
  pid_t pid = -1;
};

RealClient& Client() {
  static RealClient client;
  return client;
}

void BM_IsRasExec_HostProc(benchmark::State& state) {
  Client();
  Session session;
  for (auto _ : state) {
    session.installer.messages.clear();
    if (IsRasExec(FakeInstaller::kSession) != E_ABORT) state.SkipWithError("client not found");
  }
}
BENCHMARK(BM_IsRasExec_HostProc)->Unit(benchmark::kMicrosecond);

void BM_PgrepF(benchmark::State& state) {
  std::string command = "pgrep -f '" + Client().exe.string() + "'";
  for (auto _ : state) {
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[256];
    size_t n = std::fread(buffer, 1, sizeof buffer, p);
    if (::pclose(p) != 0 || n == 0) state.SkipWithError("pgrep found nothing");
  }
}
BENCHMARK(BM_PgrepF)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("IsRasExec over 10 000 fake processes / bare scan of the same paths: %.1f\n",
              reporter.Ratio("BM_IsRasExec_FakeList10000", "BM_PlainScan10000"));
  std::printf("pgrep -f / IsRasExec over /proc (real time): %.1f\n",
              reporter.Ratio("BM_PgrepF", "BM_IsRasExec_HostProc"));
  benchmark::Shutdown();
  return 0;
}
