// What the library costs beyond parsing a reply. Every operation is timed
// beside its floor: a yyjson parse of the same reply and one walk that copies
// the same fields into plain records. Runs on a shared, noisy machine, so
// the summary printed at the end gives ratios of figures measured in this
// one run, never a lone absolute time. The library is the release shared
// library, loaded with dlopen and reached through its exports by name, as a
// media player loads it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <pthread.h>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <yyjson.h>

#include "oxmeta_dl.h"

namespace {

oxmeta_dl ox;

std::string read_fixture(const char *name) {
    std::ifstream in(std::string(OXMETA_BENCH_FIXTURE_DIR) + "/" + name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "missing fixture %s (run scripts/gen-bench-fixtures.py)\n", name);
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ------------------------------------------------------------------ floor

// A plain record of up to 12 fields: texts copied, numbers kept.
struct plain_record {
    char *texts[12];
    double numbers[12];
};

// The fields an operation reads: of the root, of each element of one root
// member, or both.
struct field_plan {
    std::vector<std::string_view> root_keys;
    const char *array_key;  // null: no array
    std::vector<std::string_view> item_keys;
};

// Copies the first member of each wanted key: a string into a new text,
// anything else as a number.
void copy_fields(yyjson_val *obj, const std::vector<std::string_view> &keys, plain_record &out) {
    std::memset(&out, 0, sizeof out);
    size_t index = 0;
    size_t count = 0;
    yyjson_val *key = nullptr;
    yyjson_val *value = nullptr;
    yyjson_obj_foreach(obj, index, count, key, value) {
        const std::string_view name(yyjson_get_str(key), yyjson_get_len(key));
        for (size_t k = 0; k < keys.size(); ++k) {
            if (keys[k] != name) continue;
            if (yyjson_is_str(value) && !out.texts[k]) out.texts[k] = strdup(yyjson_get_str(value));
            if (yyjson_is_num(value)) out.numbers[k] = yyjson_get_num(value);
            break;
        }
    }
}

void floor_walk(const std::string &body, const field_plan &plan, std::vector<plain_record> &records) {
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(body.data()), body.size(), 0, nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(doc);
    records.clear();
    if (!plan.root_keys.empty()) copy_fields(root, plan.root_keys, records.emplace_back());
    if (plan.array_key) {
        size_t index = 0;
        size_t count = 0;
        yyjson_val *item = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(root, plan.array_key), index, count, item) {
            copy_fields(item, plan.item_keys, records.emplace_back());
        }
    }
    yyjson_doc_free(doc);
    for (auto &r : records)
        for (char *text : r.texts) std::free(text);
}

const std::vector<std::string_view> kTmdbItemKeys = {
    "media_type", "id",           "title",       "name",        "original_title", "original_name",
    "overview",   "release_date", "poster_path", "backdrop_path", "vote_average", "popularity"};

const field_plan kTmdbListingPlan = {{"total_pages", "total_results", "page"}, "results", kTmdbItemKeys};
const field_plan kTmdbTvPlan = {kTmdbItemKeys, "seasons", {"season_number", "poster_path"}};
const field_plan kItunesPlan = {{"resultCount"},
                                "results",
                                {"collectionId", "collectionName", "longDescription", "description", "releaseDate",
                                 "kind", "feedUrl", "artworkUrl600"}};
const field_plan kOmdbPlan = {{"Title", "Year", "imdbID", "Plot", "Type", "Poster", "imdbRating", "Response"},
                              nullptr,
                              {}};

// ------------------------------------------------------------------ hosts

// The simplest real host: every GET hands back a fresh malloc'd copy of
// one reply, freed by the library with free().
int host_get(void *ctx, const char *, char **body, int *status, char **) {
    const auto *reply = static_cast<const std::string *>(ctx);
    *body = static_cast<char *>(std::malloc(reply->size() + 1));
    std::memcpy(*body, reply->data(), reply->size() + 1);
    *status = 200;
    return 0;
}

struct operation {
    const char *name;
    const char *fixture;
    const char *url;  // what the fake transport is scripted with
    const field_plan *plan;
    int (*run)();
};

const operation kOperations[] = {
    {"tmdb_listing", "tmdb_listing.json",
     "https://api.themoviedb.org/3/search/multi?query=star&page=1&include_adult=false&api_key=KEY&language=en-US",
     &kTmdbListingPlan, [] { return ox.oxmeta_tmdb_search_multi("star", 1); }},
    {"tmdb_discover_real", "tmdb_discover_real.json",
     "https://api.themoviedb.org/3/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false"
     "&page=1&api_key=KEY&language=en-US",
     &kTmdbListingPlan, [] { return ox.oxmeta_tmdb_discover_movie(1, 0); }},
    {"tmdb_tv_detail", "tmdb_tv_detail.json", "https://api.themoviedb.org/3/tv/1668?api_key=KEY&language=en-US",
     &kTmdbTvPlan, [] { return ox.oxmeta_tmdb_tv_detail(1668); }},
    {"itunes_search", "itunes_search.json",
     "https://itunes.apple.com/search?term=science&media=podcast&limit=200&country=US", &kItunesPlan,
     [] { return ox.oxmeta_itunes_search("science", nullptr, 200, nullptr); }},
    {"omdb_title", "omdb_title.json", "https://www.omdbapi.com/?i=tt0133093&apikey=KEY", &kOmdbPlan,
     [] { return ox.oxmeta_omdb_by_imdb("tt0133093"); }},
};

void configure() {
    ox.oxmeta_tmdb_set_key("KEY");
    ox.oxmeta_omdb_set_key("KEY");
}

// A host transport answering with one reply, installed for as long as it
// lives. Static storage: the threads of one run share it.
struct host_reply {
    std::string body;
    oxmeta_io table{&body, host_get, nullptr, nullptr};
};
host_reply g_host;

void use_host(std::string body) {
    g_host.body = std::move(body);
    configure();
    ox.oxmeta_set_io(&g_host.table);
}

void use_fake(const operation &op, const std::string &body) {
    configure();
    ox.oxmeta_use_fake();
    ox.ox_fake_set("GET", op.url, 200, body.c_str());
}

using bench_clock = std::chrono::steady_clock;

// Times the floor and the operation alternately, one of each per iteration,
// so that both see the same machine: the ratio holds even while the
// machine's speed drifts. The iteration time reported is the operation's.
void paired(benchmark::State &state, const std::string &body, const field_plan &plan, int (*run)()) {
    std::vector<plain_record> records;
    records.reserve(2048);
    double floor_ns = 0;
    double op_ns = 0;
    for (auto _ : state) {
        const auto t0 = bench_clock::now();
        floor_walk(body, plan, records);
        const auto t1 = bench_clock::now();
        if (run() != OXMETA_OK) state.SkipWithError(ox.oxmeta_last_error());
        const auto t2 = bench_clock::now();
        floor_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
        const double op = std::chrono::duration<double, std::nano>(t2 - t1).count();
        op_ns += op;
        state.SetIterationTime(op * 1e-9);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["floor_ns"] = floor_ns / n;
    state.counters["ratio"] = floor_ns > 0 ? op_ns / floor_ns : 0;
    state.counters["body_bytes"] = static_cast<double>(body.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_Host(benchmark::State &state, const operation *op) {
    use_host(read_fixture(op->fixture));
    paired(state, g_host.body, *op->plan, op->run);
}

void BM_Fake(benchmark::State &state, const operation *op) {
    const std::string body = read_fixture(op->fixture);
    use_fake(*op, body);
    paired(state, body, *op->plan, op->run);
    ox.ox_fake_reset();
}

// Listings per second, for one thread and for two at once.
void BM_FloorThreads(benchmark::State &state, const operation *op) {
    const std::string body = read_fixture(op->fixture);
    std::vector<plain_record> records;
    records.reserve(64);
    for (auto _ : state) floor_walk(body, *op->plan, records);
    state.SetItemsProcessed(state.iterations());
}

void BM_HostThreads(benchmark::State &state, const operation *op) {
    if (state.thread_index() == 0) use_host(read_fixture(op->fixture));
    for (auto _ : state)
        if (op->run() != OXMETA_OK) state.SkipWithError(ox.oxmeta_last_error());
    state.SetItemsProcessed(state.iterations());
}

// ------------------------------------------------------------------ accessors

// A bare mutex of the benchmark's own, never contended.
pthread_mutex_t g_bare = PTHREAD_MUTEX_INITIALIZER;

// An accessor and a bare lock and unlock, timed alternately in batches (one
// call is too short for the clock) so that both see the same machine.
template <typename Read>
void accessor_beside_lock(benchmark::State &state, Read read) {
    use_host(read_fixture("tmdb_listing.json"));
    ox.oxmeta_tmdb_search_multi("star", 1);
    constexpr int kBatch = 256;
    double lock_ns = 0;
    double accessor_ns = 0;
    for (auto _ : state) {
        const auto t0 = bench_clock::now();
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(read(i % 20));
        const auto t1 = bench_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            pthread_mutex_lock(&g_bare);
            benchmark::ClobberMemory();
            pthread_mutex_unlock(&g_bare);
        }
        const auto t2 = bench_clock::now();
        const double accessor = std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch;
        accessor_ns += accessor;
        lock_ns += std::chrono::duration<double, std::nano>(t2 - t1).count() / kBatch;
        state.SetIterationTime(accessor * 1e-9);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["lock_ns"] = lock_ns / n;
    state.counters["ratio"] = lock_ns > 0 ? accessor_ns / lock_ns : 0;
}

void BM_AccessorText(benchmark::State &state) {
    accessor_beside_lock(state, [](int i) { return ox.oxmeta_result_title(i); });
}

void BM_AccessorNumber(benchmark::State &state) {
    accessor_beside_lock(state, [](int i) { return ox.oxmeta_result_year(i); });
}

// ------------------------------------------------------------------ size sweep

// A TMDb listing of n items made from the listing fixture's items in turn.
std::string listing_of(int n) {
    static const std::string page = read_fixture("tmdb_listing.json");
    yyjson_doc *doc = yyjson_read(page.data(), page.size(), 0);
    yyjson_val *items = yyjson_obj_get(yyjson_doc_get_root(doc), "results");
    std::string out = R"({"page":1,"total_pages":500,"total_results":10000,"results":[)";
    for (int i = 0; i < n; ++i) {
        char *text = yyjson_val_write(yyjson_arr_get(items, static_cast<size_t>(i) % yyjson_arr_size(items)), 0,
                                      nullptr);
        if (i) out += ',';
        out += text;
        std::free(text);
    }
    out += "]}";
    yyjson_doc_free(doc);
    return out;
}

void BM_Sweep(benchmark::State &state) {
    use_host(listing_of(static_cast<int>(state.range(0))));
    paired(state, g_host.body, kTmdbListingPlan, [] { return ox.oxmeta_tmdb_search_multi("star", 1); });
}

// ------------------------------------------------------------------ summary

// Prints the usual table, then a summary of the ratios measured side by
// side (medians when the run has repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &run : runs) {
            if (run.error_occurred) {
                failed_ = true;
                continue;
            }
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Aggregate) name = name.substr(0, name.rfind('_'));
            auto &figures = runs_[name];
            figures["ns"] = run.GetAdjustedRealTime();
            for (const auto &[counter, value] : run.counters) figures[counter] = value.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nSide by side (the floor and the operation timed alternately in one loop):\n");
        std::printf("  %-16s %10s %10s %12s %10s %12s\n", "operation", "floor ns", "host ns", "host/floor",
                    "fake ns", "fake/floor");
        for (const auto &op : kOperations) {
            const auto host = figures("BM_Host/" + std::string(op.name) + "/manual_time");
            const auto fake = figures("BM_Fake/" + std::string(op.name) + "/manual_time");
            if (host.empty()) continue;
            std::printf("  %-16s %10.0f %10.0f %12.2f %10.0f %12.2f\n", op.name, at(host, "floor_ns"), at(host, "ns"),
                        at(host, "ratio"), at(fake, "ns"), at(fake, "ratio"));
        }
        for (const char *accessor : {"Text", "Number"}) {
            const auto f = figures("BM_Accessor" + std::string(accessor) + "/manual_time");
            if (!f.empty())
                std::printf("  accessor (one %s) %.1f ns beside a bare lock and unlock %.1f ns: %.2f\n",
                            accessor[0] == 'T' ? "text" : "number", at(f, "ns"), at(f, "lock_ns"), at(f, "ratio"));
        }
        for (const auto &op : kOperations) {
            for (const char *kind : {"Floor", "Host"}) {
                const std::string base = "BM_" + std::string(kind) + "Threads/" + op.name + "/real_time/threads:";
                const double one = at(figures(base + "1"), "items_per_second");
                const double two = at(figures(base + "2"), "items_per_second");
                if (one > 0)
                    std::printf("  %-18s %-5s listings per second: 1 thread %.0f, 2 threads %.0f, scaling %.2f\n",
                                op.name, kind, one, two, two / one);
            }
        }
        sweep();
    }

    bool failed() const { return failed_; }

private:
    using figure_map = std::map<std::string, double>;

    figure_map figures(const std::string &name) const {
        const auto it = runs_.find(name);
        return it == runs_.end() ? figure_map{} : it->second;
    }
    static double at(const figure_map &f, const char *key) {
        const auto it = f.find(key);
        return it == f.end() ? 0 : it->second;
    }

    void sweep() const {
        std::map<double, figure_map> by_size;
        for (const auto &[name, f] : runs_)
            if (name.rfind("BM_Sweep/", 0) == 0) by_size[at(f, "body_bytes")] = f;
        if (by_size.empty()) return;
        std::printf("  %12s %14s %14s\n", "body bytes", "host ns/byte", "host/floor");
        double lo = 0;
        double hi = 0;
        for (const auto &[bytes, f] : by_size) {
            const double per_byte = at(f, "ns") / bytes;
            std::printf("  %12.0f %14.3f %14.2f\n", bytes, per_byte, at(f, "ratio"));
            lo = lo == 0 ? per_byte : std::min(lo, per_byte);
            hi = std::max(hi, per_byte);
        }
        std::printf("  cost per byte varies %.2f times across the sweep\n", hi / lo);
    }

    bool failed_ = false;
    std::map<std::string, figure_map> runs_;
};

void register_all() {
    for (const auto &op : kOperations) {
        benchmark::RegisterBenchmark(("BM_Host/" + std::string(op.name)).c_str(), BM_Host, &op)->UseManualTime();
        benchmark::RegisterBenchmark(("BM_Fake/" + std::string(op.name)).c_str(), BM_Fake, &op)->UseManualTime();
    }
    for (const auto &op : kOperations) {
        if (op.plan != &kTmdbListingPlan) continue;
        const std::string name(op.name);
        benchmark::RegisterBenchmark(("BM_FloorThreads/" + name).c_str(), BM_FloorThreads, &op)
            ->UseRealTime()->Threads(1)->Threads(2);
        benchmark::RegisterBenchmark(("BM_HostThreads/" + name).c_str(), BM_HostThreads, &op)
            ->UseRealTime()->Threads(1)->Threads(2);
    }
    benchmark::RegisterBenchmark("BM_AccessorText", BM_AccessorText)->UseManualTime();
    benchmark::RegisterBenchmark("BM_AccessorNumber", BM_AccessorNumber)->UseManualTime();
    for (const int items : {1, 4, 16, 64, 256, 1200})
        benchmark::RegisterBenchmark("BM_Sweep", BM_Sweep)->Arg(items)->UseManualTime();
}

}  // namespace

int main(int argc, char **argv) {
    // The library a host would load: OXMETA_LIBRARY, or the one built here.
    const char *library = std::getenv("OXMETA_LIBRARY");
    if (!ox.open(library && *library ? library : OXMETA_BENCH_LIBRARY)) return 2;
    // A host is never single-threaded, and glibc leaves out the atomic
    // instructions of a mutex until a process starts its second thread:
    // start one first so that every figure is a multi-threaded host's.
    std::thread([] {}).join();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    register_all();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ox.oxmeta_shutdown();
    return reporter.failed() ? 1 : 0;
}
