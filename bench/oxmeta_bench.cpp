// Timings of the hot paths: encoding, masking, and a whole OMDb lookup
// through the fake transport with its field readers.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "core/oxmeta_util.h"
#include "oxmeta.h"

namespace {

void BM_QueryEscape(benchmark::State &state) {
    const std::string text(static_cast<size_t>(state.range(0)), '\xC3');
    for (auto _ : state) {
        char *out = ox_query_escape(text.c_str());
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QueryEscape)->Range(16, 4096);

void BM_RedactUrl(benchmark::State &state) {
    const std::string url = "https://api.example/3/search/multi?query=" + std::string(200, 'q') +
                            "&page=1&api_key=0123456789abcdef&language=en-US";
    for (auto _ : state) {
        char *out = ox_redact_url(url.c_str());
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}
BENCHMARK(BM_RedactUrl);

void BM_OmdbLookup(benchmark::State &state) {
    oxmeta_use_fake();
    oxmeta_omdb_set_key("KEY");
    ox_fake_set("GET", "https://www.omdbapi.com/?i=tt0133093&apikey=KEY", 200,
                R"({"Title":"The Matrix","Year":"1999","Runtime":"136 min","Plot":"A hacker.",)"
                R"("imdbRating":"8.7","imdbVotes":"1,234,567","imdbID":"tt0133093","Type":"movie",)"
                R"("Response":"True"})");
    for (auto _ : state) {
        benchmark::DoNotOptimize(oxmeta_omdb_by_imdb("tt0133093"));
        benchmark::DoNotOptimize(oxmeta_omdb_runtime_minutes(nullptr));
    }
    oxmeta_shutdown();
}
BENCHMARK(BM_OmdbLookup);

}  // namespace
