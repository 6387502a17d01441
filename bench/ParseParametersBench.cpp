// ParseActionParameters on 1 MB and 10 MB parameter texts: the time should
// grow linearly with the text.
#include <cstdio>
#include <string>

#include "ActionParameters.h"
#include "RatioReporter.h"

namespace {

// Items over a thousand names, quoted and unquoted, some values with
// spaces, like a very long TovrinData.
std::wstring MakeText(size_t bytes) {
  std::wstring text;
  text.reserve(bytes / sizeof(wchar_t) + 64);
  for (size_t i = 0; text.size() * sizeof(wchar_t) < bytes; ++i) {
    text += L"/name" + std::to_wstring(i % 1000) + L"=";
    text += (i % 3 == 0) ? L"\"C:\\Program Files\\velk access\\item " + std::to_wstring(i) + L".inf\" "
                         : L"value" + std::to_wstring(i) + L" ";
  }
  return text;
}

void BM_Parse(benchmark::State& state) {
  const std::wstring text = MakeText(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    CActionParameters params;
    HRESULT hr = ParseActionParameters(text, params);
    if (hr != S_OK) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(params);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Parse)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("ParseActionParameters 10 MB / 1 MB time ratio: %.2f (linear would be 10)\n",
              reporter.Ratio("BM_Parse/10485760", "BM_Parse/1048576"));
  benchmark::Shutdown();
  return 0;
}
