// A console reporter that also keeps each run's real time, so a benchmark
// program can print the ratio of two runs at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration) seconds_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // Real time of run a divided by that of run b; 0 when either is missing.
  double Ratio(const std::string& a, const std::string& b) const {
    auto x = seconds_.find(a), y = seconds_.find(b);
    if (x == seconds_.end() || y == seconds_.end() || y->second == 0) return 0;
    return x->second / y->second;
  }

 private:
  std::map<std::string, double> seconds_;
};
