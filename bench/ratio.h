// Runs pairs of benchmarks (our call, the direct OpenSSL call) and prints
// the throughput ratio of each pair; a pair with thread counts runs at each
// count and also prints how each side scales. With repetitions the medians
// are compared. Every run starts on an empty OpenSSL error queue.
#pragma once

#include <benchmark/benchmark.h>

#include <openssl/err.h>

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
    std::vector<int> threads = {};  // empty: one thread, CPU time as measured
    // Another pair's name: how much longer ours takes here than there.
    const char *baseline = nullptr;
};

// Entries a host left on the calling thread's error queue, for the length of
// one run.
class HostEntries {
public:
    explicit HostEntries(int count) : count_(count) {
        for (int i = 0; i < count; ++i) ERR_raise_data(ERR_LIB_USER, kFirst + i, "host entry %d", i);
    }
    ~HostEntries() { ERR_clear_error(); }
    // The newest entry is still the host's last, the oldest one of the host's.
    bool stayed() const {
        const unsigned long newest = ERR_peek_last_error(), oldest = ERR_peek_error();
        return count_ == 0
                   ? newest == 0
                   : ERR_GET_LIB(newest) == ERR_LIB_USER && ERR_GET_REASON(newest) == kFirst + count_ - 1 &&
                         ERR_GET_LIB(oldest) == ERR_LIB_USER && ERR_GET_REASON(oldest) >= kFirst;
    }

private:
    static constexpr int kFirst = 100;
    int count_;
};

// Keeps each run's wall time per iteration (over all threads: the inverse of
// the throughput) for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const std::string key = keyOf(run.run_name.function_name, run.threads);
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type == Run::RT_Iteration && !medians.count(key)) || median) {
                const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
                seconds[key] = run.GetAdjustedRealTime() / unit;
                cpuSeconds[key] = run.GetAdjustedCPUTime() / unit;
            }
            if (median) medians[key] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    static std::string keyOf(const std::string &name, int threads) {
        return name + "/threads:" + std::to_string(threads);
    }
    // Seconds per iteration of a run, 0 when it did not run.
    double of(const std::string &name, int threads) const { return find(seconds, name, threads); }
    double cpuOf(const std::string &name, int threads) const { return find(cpuSeconds, name, threads); }
    static double find(const std::map<std::string, double> &in, const std::string &name, int threads) {
        auto found = in.find(keyOf(name, threads));
        return found == in.end() ? 0 : found->second;
    }
    std::map<std::string, double> seconds, cpuSeconds;
    std::map<std::string, bool> medians;
};

// `prepare` builds the shared fixtures before any timing starts.
inline int runPairs(int argc, char **argv, const std::vector<Pair> &pairs, double target, void (*prepare)()) {
    for (const Pair &p : pairs) {
        const struct {
            const char *suffix;
            void (*run)(benchmark::State &);
        } sides[] = {{"/ours", p.ours}, {"/openssl", p.theirs}};
        for (const auto &side : sides) {
            // What earlier set-up or runs queued is no case's.
            auto *b = benchmark::RegisterBenchmark((std::string(p.name) + side.suffix).c_str(),
                                                   [run = side.run](benchmark::State &state) {
                                                       ERR_clear_error();
                                                       run(state);
                                                       ERR_clear_error();
                                                   });
            b->MinTime(1.0);
            // Threads share the process: only wall time shows what they achieve together.
            if (!p.threads.empty()) b->UseRealTime();
            for (int n : p.threads) b->Threads(n);
        }
    }
    benchmark::Initialize(&argc, argv);
    prepare();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nthroughput, ours / OpenSSL's (target >= %.2f):\n", target);
    for (const Pair &p : pairs) {
        const std::string ours = std::string(p.name) + "/ours", theirs = std::string(p.name) + "/openssl";
        const std::vector<int> counts = p.threads.empty() ? std::vector<int>{1} : p.threads;
        for (int n : counts) {
            double o = reporter.of(ours, n), t = reporter.of(theirs, n);
            if (o <= 0 || t <= 0) continue;
            std::string label = p.name;
            if (!p.threads.empty()) label += "/threads:" + std::to_string(n);
            std::printf("  %-60s %.3f\n", label.c_str(), t / o);
        }
    }
    bool headed = false;
    for (const Pair &p : pairs) {
        if (!p.baseline) continue;
        const double here = reporter.of(std::string(p.name) + "/ours", 1);
        const double there = reporter.of(std::string(p.baseline) + "/ours", 1);
        if (here <= 0 || there <= 0) continue;
        if (!headed) std::printf("\nours, ns more per iteration than in the baseline pair:\n");
        headed = true;
        std::printf("  %-60s %+.0f (%s)\n", p.name, (here - there) * 1e9, p.baseline);
    }
    headed = false;
    for (const Pair &p : pairs) {
        const std::string ours = std::string(p.name) + "/ours", theirs = std::string(p.name) + "/openssl";
        const double ours1 = reporter.of(ours, 1), theirs1 = reporter.of(theirs, 1);
        if (p.threads.empty() || ours1 <= 0 || theirs1 <= 0) continue;
        if (!headed)
            std::printf(
                "\nscaling, throughput at N threads / at 1 thread (ours, OpenSSL's), and CPU time per "
                "call, OpenSSL's / ours:\n");
        headed = true;
        for (int n : p.threads) {
            double o = reporter.of(ours, n), t = reporter.of(theirs, n);
            double oc = reporter.cpuOf(ours, n), tc = reporter.cpuOf(theirs, n);
            if (o <= 0 || t <= 0 || oc <= 0) continue;
            std::string label = std::string(p.name) + "/threads:" + std::to_string(n);
            std::printf("  %-60s %.2f  %.2f  %.3f\n", label.c_str(), ours1 / o, theirs1 / t, tc / oc);
        }
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace tqbench
