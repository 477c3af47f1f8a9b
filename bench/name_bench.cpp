// File names through oxmeta_parse_name, from the shared library loaded with
// dlopen as hosts load it, beside the floor of copying each name once; and
// `oxmeta parse -` over a 200,000-line input beside `cat` of the same input.
// Both pairs are timed alternately in one loop, so that the ratio holds on
// a shared, noisy machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "oxmeta_dl.h"
#include "run_command.h"

namespace {

oxmeta_dl ox;
std::vector<std::string> g_names;

using clock_type = std::chrono::steady_clock;

// The corpus's names (the first column of each line).
void load_names() {
    std::ifstream in(OXMETA_NAME_CORPUS);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '?') line.erase(0, 1);
        g_names.push_back(line.substr(0, line.find('\t')));
    }
}

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// One name parsed per iteration, the whole corpus per pass; the copy floor
// timed in the same loop.
void BM_ParseName(benchmark::State &state) {
    oxmeta_name n{};
    n.size = sizeof n;
    char copy[4096];
    double parse_s = 0, floor_s = 0;
    size_t names = 0;
    for (auto _ : state) {
        auto start = clock_type::now();
        for (const std::string &name : g_names) ox.oxmeta_parse_name(name.c_str(), &n);
        benchmark::DoNotOptimize(n);
        parse_s += seconds_since(start);
        start = clock_type::now();
        for (const std::string &name : g_names) {
            std::memcpy(copy, name.c_str(), std::min(name.size() + 1, sizeof copy));
            benchmark::DoNotOptimize(copy);
        }
        floor_s += seconds_since(start);
        names += g_names.size();
        state.SetIterationTime(parse_s / static_cast<double>(names / g_names.size()));
    }
    state.counters["names_per_s"] = static_cast<double>(names) / parse_s;
    state.counters["floor_names_per_s"] = static_cast<double>(names) / floor_s;
    state.counters["parse_over_floor"] = parse_s / floor_s;
}

void BM_ToolParse(benchmark::State &state) {
    constexpr size_t kLines = 200000;
    const std::string input = "/tmp/oxmeta-name-bench-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream out(input);
        for (size_t i = 0; i < kLines; ++i) out << g_names[i % g_names.size()] << '\n';
    }
    double tool_s = 0, cat_s = 0;
    size_t lines = 0;
    for (auto _ : state) {
        const double tool = run_command({OXMETA_TOOL, "parse", "-", "--json"}, input);
        const double cat = run_command({"cat"}, input);
        if (tool < 0 || cat < 0) {
            state.SkipWithError("the tool or cat failed");
            break;
        }
        tool_s += tool;
        cat_s += cat;
        lines += kLines;
        state.SetIterationTime(tool);
    }
    std::remove(input.c_str());
    state.counters["lines_per_s"] = static_cast<double>(lines) / tool_s;
    state.counters["tool_over_cat"] = tool_s / cat_s;
}

}  // namespace

int main(int argc, char **argv) {
    const char *library = std::getenv("OXMETA_LIBRARY");
    if (!ox.open(library && *library ? library : OXMETA_BENCH_LIBRARY)) return 2;
    load_names();
    if (g_names.empty()) return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RegisterBenchmark("BM_ParseName", BM_ParseName)->UseManualTime();
    benchmark::RegisterBenchmark("BM_ToolParse", BM_ToolParse)->UseManualTime()->Iterations(3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
