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

/// After the run, print how many times the work per second of `twoThreads` (a run
/// with two threads) is that of `oneThread`: only when the two-thread run really had
/// two cores (CPU time at least 1.6 times wall time); otherwise say it was not measured.
void compareScaling(const std::string& twoThreads, const std::string& oneThread);

/// A row of the figures table printed at the end (the README's table): the ratio of
/// name to baseline against a target ("<= 1.1", ">= 1.6" or "report"). A baseline
/// of "" makes name a scaling registered with compareScaling.
void figure(const std::string& title, const std::string& target, const std::string& name,
            const std::string& baseline);

/// A row of the figures table with a value measured by hand (bytes, say).
void figureValue(const std::string& title, const std::string& value);

/// Runs every registered benchmark and prints the ratios; the benchmark main.
int runWithRatios(int argc, char** argv);

} // namespace orvik::bench

#endif // ORVIK_BENCH_RATIO_REPORTER_H
