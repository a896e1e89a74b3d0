// Runs pairs of benchmarks (our call, the direct OpenSSL call) and prints
// the throughput ratio of each pair.
#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tqbench {

struct Pair {
    const char *name;
    void (*ours)(benchmark::State &);
    void (*theirs)(benchmark::State &);
};

// Keeps each run's time per iteration for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const std::string name = run.benchmark_name();
                seconds[name.substr(0, name.find("/min_time"))] = run.GetAdjustedRealTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

// `prepare` builds the shared fixtures before any timing starts.
inline int runPairs(int argc, char **argv, const std::vector<Pair> &pairs, double target, void (*prepare)()) {
    for (const Pair &p : pairs) {
        benchmark::RegisterBenchmark((std::string(p.name) + "/ours").c_str(), p.ours)->MinTime(1.0);
        benchmark::RegisterBenchmark((std::string(p.name) + "/openssl").c_str(), p.theirs)->MinTime(1.0);
    }
    benchmark::Initialize(&argc, argv);
    prepare();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nthroughput, ours / OpenSSL's (target >= %.2f):\n", target);
    for (const Pair &p : pairs) {
        const std::string name = p.name;
        auto ours = reporter.seconds.find(name + "/ours");
        auto theirs = reporter.seconds.find(name + "/openssl");
        if (ours == reporter.seconds.end() || theirs == reporter.seconds.end()) continue;
        std::printf("  %-42s %.3f\n", p.name, theirs->second / ours->second);
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace tqbench
