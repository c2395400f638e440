// bench/ratio_reporter.h: benchmark results as ratios to a baseline of the same run
//
// Absolute times say little across machines; the ratio of an operation to a
// baseline doing comparable work, measured in the same run, does. Benchmarks
// declare their baseline with compareTo(); the reporter prints the usual table and
// then one ratio line per comparison.
#ifndef ORVIK_BENCH_RATIO_REPORTER_H
#define ORVIK_BENCH_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <string>

namespace orvik::bench {

/// After the run, print the time of `name` divided by the time of `baseline`.
void compareTo(const std::string& name, const std::string& baseline);

/// Runs every registered benchmark and prints the ratios; the benchmark main.
int runWithRatios(int argc, char** argv);

} // namespace orvik::bench

#endif // ORVIK_BENCH_RATIO_REPORTER_H
