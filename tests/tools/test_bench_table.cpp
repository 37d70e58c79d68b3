// scripts/bench_table.py, the table scripts/bench.sh prints: each benchmark once
// (the median of repeated ones) with its counters, per_comparison in microseconds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/run_program.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;

// Two benchmarks as Google Benchmark writes them: one repeated (two runs and
// their aggregates), one run once without counters.
constexpr const char* kReport = R"({
  "context": {"executable": "bench_match"},
  "benchmarks": [
    {"name": "BM_Genuine", "run_name": "BM_Genuine", "run_type": "iteration", "repetitions": 2,
     "repetition_index": 0, "iterations": 1, "real_time": 3.0e+02, "cpu_time": 2.0e+02, "time_unit": "ms",
     "items_per_second": 1.0e+04, "per_comparison": 9.0e-05},
    {"name": "BM_Genuine", "run_name": "BM_Genuine", "run_type": "iteration", "repetitions": 2,
     "repetition_index": 1, "iterations": 1, "real_time": 3.2e+02, "cpu_time": 2.2e+02, "time_unit": "ms",
     "items_per_second": 1.0e+04, "per_comparison": 7.0e-05},
    {"name": "BM_Genuine_mean", "run_name": "BM_Genuine", "run_type": "aggregate", "repetitions": 2,
     "aggregate_name": "mean", "iterations": 2, "real_time": 3.1e+02, "cpu_time": 2.1e+02, "time_unit": "ms",
     "per_comparison": 8.0e-05},
    {"name": "BM_Genuine_median", "run_name": "BM_Genuine", "run_type": "aggregate", "repetitions": 2,
     "aggregate_name": "median", "iterations": 2, "real_time": 3.1e+02, "cpu_time": 2.1e+02, "time_unit": "ms",
     "items_per_second": 1.0e+04, "per_comparison": 8.125e-05},
    {"name": "BM_Quality", "run_name": "BM_Quality", "run_type": "iteration", "repetitions": 1,
     "iterations": 100, "real_time": 1500.0, "cpu_time": 1400.0, "time_unit": "ns"}
  ]
})";

TEST(BenchTable, ShowsTheMedianOfRepeatedRunsWithPerComparisonInMicroseconds) {
  if (testing::runProgram("python3", "--version").exitCode != 0) GTEST_SKIP() << "python3 not found";
  const fs::path report = fs::temp_directory_path() / ("bench_match-" + std::to_string(::getpid()) + ".json");
  std::ofstream(report) << kReport;
  const auto run = testing::runProgram("python3", "'" FX60_SOURCE_DIR "/scripts/bench_table.py' '" + report.string() + "'");
  fs::remove(report);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("counters"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("median of 2"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("per_comparison 81.25 us"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("per_comparison 90.00 us"), std::string::npos) << "single repetitions shown:\n" << run.output;
  EXPECT_NE(run.output.find("BM_Quality"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("1.5"), std::string::npos) << run.output;  // 1500 ns as microseconds
}

}  // namespace
}  // namespace fx60
