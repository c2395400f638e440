// bench/ratio_reporter.cpp: collecting results and printing ratios

#include "ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace orvik::bench {

namespace {

std::vector<std::pair<std::string, std::string>>& comparisons() {
    static std::vector<std::pair<std::string, std::string>> list;
    return list;
}

std::vector<std::pair<std::string, std::string>>& scalings() {
    static std::vector<std::pair<std::string, std::string>> list;
    return list;
}

struct Figure {
    std::string title, target, name, baseline, value;
};

std::vector<Figure>& figures() {
    static std::vector<Figure> list;
    return list;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
                m_cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios to a baseline of the same run (lower is faster):\n");
        for (const auto& [name, baseline] : comparisons()) {
            auto a = m_times.find(name), b = m_times.find(baseline);
            if (a == m_times.end() || b == m_times.end() || b->second <= 0)
                continue;
            std::printf("  %-40s / %-40s = %6.2f\n", name.c_str(), baseline.c_str(),
                        a->second / b->second);
        }
        for (const auto& [two, one] : scalings()) {
            const Scaling found = scaling(two, one);
            if (!found.measured)
                continue;
            if (found.cores < 1.6)
                std::printf("  %-40s : not measured, two cores were not free (%.2f in use)\n",
                            two.c_str(), found.cores);
            else
                std::printf("  %-40s / %-40s = %6.2f times the work per second (higher is "
                            "better)\n",
                            two.c_str(), one.c_str(), found.ratio);
        }
        printFigures();
    }

    // The README's table: each figure, its target and what this run measured.
    void printFigures() {
        if (figures().empty())
            return;
        std::printf("\n| Figure | Target | Measured |\n|---|---|---|\n");
        for (const Figure& f : figures()) {
            std::string measured = f.value.empty() ? "not run" : f.value;
            auto a = m_times.find(f.name);
            if (f.value.empty() && a != m_times.end()) {
                char text[64];
                if (f.baseline.empty()) { // a scaling: the one-thread run is the baseline
                    auto one = std::find_if(scalings().begin(), scalings().end(),
                                            [&](const auto& s) { return s.first == f.name; });
                    const Scaling found =
                        one == scalings().end() ? Scaling{} : scaling(f.name, one->second);
                    if (found.measured && found.cores >= 1.6)
                        std::snprintf(text, sizeof text, "%.2fx", found.ratio);
                    else
                        std::snprintf(text, sizeof text, "not measured: two cores not free");
                    measured = text;
                } else if (auto b = m_times.find(f.baseline); b != m_times.end() && b->second > 0) {
                    std::snprintf(text, sizeof text, "%.2fx", a->second / b->second);
                    measured = text;
                }
            }
            std::printf("| %s | %s | %s |\n", f.title.c_str(), f.target.c_str(), measured.c_str());
        }
    }

private:
    struct Scaling {
        bool measured = false;
        double cores = 0; // cores the two-thread run kept busy
        double ratio = 0; // its work per second over the one-thread run's
    };

    // A run with threads counts the iterations of all of them: its wall time per
    // iteration halves when two threads really run at once, and its CPU time per
    // iteration is then twice its wall time.
    Scaling scaling(const std::string& two, const std::string& one) const {
        auto a = m_times.find(two), b = m_times.find(one), cpu = m_cpuTimes.find(two);
        if (a == m_times.end() || b == m_times.end() || cpu == m_cpuTimes.end() || a->second <= 0)
            return {};
        return {true, cpu->second / a->second, b->second / a->second};
    }

    std::map<std::string, double> m_times, m_cpuTimes;
};

} // namespace

void compareTo(const std::string& name, const std::string& baseline) {
    comparisons().emplace_back(name, baseline);
}

void compareScaling(const std::string& twoThreads, const std::string& oneThread) {
    scalings().emplace_back(twoThreads, oneThread);
}

void figure(const std::string& title, const std::string& target, const std::string& name,
            const std::string& baseline) {
    figures().push_back({title, target, name, baseline, ""});
}

void figureValue(const std::string& title, const std::string& value) {
    figures().push_back({title, "report", "", "", value});
}

int runWithRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace orvik::bench

int main(int argc, char** argv) {
    return orvik::bench::runWithRatios(argc, argv);
}
