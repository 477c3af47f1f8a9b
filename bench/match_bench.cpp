// oxmeta_tmdb_match beside the same requests made as plain searches, from
// the shared library loaded with dlopen and the fake transport answering
// with 20-item TMDb pages: what the parsing, scoring and ranking of a match
// add to the searches it runs. Both are timed alternately in one loop, so
// that the ratio holds on a shared, noisy machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "oxmeta_dl.h"
#include "replies.h"

namespace {

oxmeta_dl ox;
using clock_type = std::chrono::steady_clock;

std::string read_fixture(const char *name) {
    std::ifstream in(std::string(OXMETA_BENCH_FIXTURE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A 20-item page of shows, one of them the show the episode file names.
std::string show_page() {
    std::vector<replies::item> shows;
    for (int k = 0; k < 19; ++k)
        shows.push_back({5000 + k, "Harbor Watch", "Harbor Watch", "2011-01-01", 10.0 + k, 100 + k, "US"});
    shows[3].title = shows[3].original_title = "Harbor Lights Mysteries";
    shows.push_back({1241982, "Harbor Lights", "Harbor Lights", "2019-02-14", 88.2, 1800, "GB"});
    return replies::search_page(true, shows);
}

struct request {
    bool tv;
    const char *query;
    int year;
};

// A file, and the requests its match sends, in order.
struct bench_case {
    const char *file;
    std::vector<request> searches;
    bool episode;  // then /tv/1241982/season/2, which holds episode 3
};

const bench_case kCases[] = {
    // Confident at the first search.
    {"The.Circle.of.Shadows.2024.1080p.WEB-DL.x264-GRP.mkv", {{false, "The Circle of Shadows", 2024}}, false},
    // Nothing confident: the year, the year before, no year.
    {"Ghost.Town.Blues.2024.720p.mkv",
     {{false, "Ghost Town Blues", 2024}, {false, "Ghost Town Blues", 2023}, {false, "Ghost Town Blues", 0}},
     false},
    // A show, then its episode.
    {"Harbor.Lights.S02E03.1080p.WEB.h264-GRP.mkv", {{true, "Harbor Lights", 0}}, true},
};

void script() {
    const std::string movies = read_fixture("tmdb_discover_real.json");
    const std::string shows = show_page();
    for (const bench_case &c : kCases)
        for (const request &r : c.searches)
            ox.ox_fake_set("GET", replies::search_url(r.tv, r.query, r.year).c_str(), 200,
                           (r.tv ? shows : movies).c_str());
    std::vector<replies::episode> season;
    for (int n = 1; n <= 10; ++n) season.push_back({77000 + n, n, n == 3 ? "The Lighthouse" : "An Episode", "2020-03-01"});
    ox.ox_fake_set("GET", replies::season_url(1241982, 2).c_str(), 200, replies::season_reply(1241982, 2, season).c_str());
}

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void BM_MatchBesideItsSearches(benchmark::State &state) {
    double match_s = 0, search_s = 0;
    long rounds = 0;
    for (auto _ : state) {
        auto start = clock_type::now();
        for (const bench_case &c : kCases) benchmark::DoNotOptimize(ox.oxmeta_tmdb_match(c.file));
        match_s += seconds_since(start);
        start = clock_type::now();
        for (const bench_case &c : kCases) {
            for (const request &r : c.searches) {
                benchmark::DoNotOptimize(r.tv ? ox.oxmeta_tmdb_search_tv(r.query, r.year, 1)
                                              : ox.oxmeta_tmdb_search_movie(r.query, r.year, 1));
            }
            if (c.episode) benchmark::DoNotOptimize(ox.oxmeta_tmdb_tv_season(1241982, 2));
        }
        search_s += seconds_since(start);
        ++rounds;
        state.SetIterationTime(match_s / static_cast<double>(rounds));
    }
    const double files = static_cast<double>(rounds) * static_cast<double>(std::size(kCases));
    state.counters["matches_per_s"] = files / match_s;
    state.counters["match_over_searches"] = match_s / search_s;
}
BENCHMARK(BM_MatchBesideItsSearches)->UseManualTime();

}  // namespace

int main(int argc, char **argv) {
    if (!ox.open(OXMETA_BENCH_LIBRARY)) return 1;
    ox.oxmeta_use_fake();
    ox.oxmeta_tmdb_set_key(replies::kKey);
    script();
    // Every case must behave as described, or the figures mean nothing.
    for (const bench_case &c : kCases) {
        const int rc = ox.oxmeta_tmdb_match(c.file);
        const bool expect_ok = c.searches.size() == 1;
        if ((rc == OXMETA_OK) != expect_ok) {
            std::fprintf(stderr, "%s: status %d (%s)\n", c.file, rc, ox.oxmeta_last_error());
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ox.oxmeta_shutdown();
    return 0;
}
