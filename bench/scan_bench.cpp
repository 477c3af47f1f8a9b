// `oxmeta scan` over a generated library of empty files (10,000 by
// default: a few hundred films and shows, most files episodes), against a
// TMDb played by a server on 127.0.0.1. A cold scan first, for the requests
// it sends a file; then, alternately in one loop, a warm scan (every reply
// from the cache), `oxmeta parse -` of the same paths, and a walk of the
// same folders that takes no file, so that the scan's cost beyond walking
// and parsing is measured side by side on a shared, noisy machine.
// Then the memory a scan needs: a warm scan of a library ten times as large
// beside the first (time and peak memory per file, which should stay flat),
// and a cold scan whose replies are each 30 MiB. Last, `oxmeta organize`
// beside the same renames by `mv`.
//   OXMETA_SCAN_BENCH_FILES=N  files in the library (default 10000)
//   OXMETA_SCAN_BENCH_LARGE=N  files in the large one (default ten times as many)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "replies.h"
#include "run_command.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr const char *kWords[] = {"Amber", "Broken", "Crimson", "Distant", "Silent", "Golden", "Hidden",  "Iron",
                                  "Jade",  "Last",   "Lonely",  "Midnight", "Northern", "Open",  "Pale",    "Quiet",
                                  "River", "Shadow", "Tide",    "Winter"};
constexpr const char *kNouns[] = {"Harbor", "Crown", "Signal", "Garden", "Ferry", "Empire", "Ocean", "City",
                                  "Storm",  "Glass", "Night",  "Dawn",   "Road",  "Fields", "House", "Light"};

struct library {
    fs::path root;
    fs::path names;  // one path a line, for `oxmeta parse -`
    size_t files = 0;
};

// Films of two words and a year; shows of two words, four seasons of twelve
// (three words past the 320 pairs, so that every path is a file of its own
// up to some 200,000 files).
library make_library(size_t count, const std::string &tag) {
    library lib;
    lib.root = fs::temp_directory_path() / ("oxmeta-scan-bench-" + tag + "-" + std::to_string(getpid()));
    fs::create_directories(lib.root);
    lib.names = lib.root.string() + ".names";
    std::ofstream names(lib.names);
    const size_t films = tag == "films" ? count : std::max<size_t>(1, count / 40);
    std::vector<std::string> paths;
    for (size_t k = 0; k < films && paths.size() < count; ++k) {
        std::string title = std::string(kWords[k % 20]) + "." + kNouns[(k / 20) % 16];
        if (k >= 320) title += std::string(".") + kWords[(k / 320) % 20];  // past the pairs: a third word
        const std::string folder = "Films/" + title + "." + std::to_string(1990 + k % 30);
        paths.push_back(folder + "/" + title + "." + std::to_string(1990 + k % 30) + ".1080p.BluRay.x264-GRP.mkv");
    }
    for (size_t show = 0; paths.size() < count; ++show) {
        std::string title = std::string(kNouns[show % 16]) + "." + kWords[(show / 16) % 20];
        if (show >= 320) title += std::string(".") + kNouns[(show / 320) % 16];  // past the pairs: a third word
        for (int season = 1; season <= 4 && paths.size() < count; ++season)
            for (int episode = 1; episode <= 12 && paths.size() < count; ++episode) {
                char name[160];
                std::snprintf(name, sizeof name, "TV/%s/Season %02d/%s.S%02dE%02d.720p.WEB.h264-GRP.mkv", title.c_str(),
                              season, title.c_str(), season, episode);
                paths.push_back(name);
            }
    }
    for (const std::string &p : paths) {
        const fs::path file = lib.root / p;
        fs::create_directories(file.parent_path());
        std::ofstream(file).close();
        names << file.string() << '\n';
    }
    lib.files = paths.size();
    return lib;
}

// Not a type httplib compresses: compressing each reply would make the
// server, not the scan, the slow side of the cold run.
constexpr const char *kType = "application/octet-stream";

// TMDb for the library: every film and show exists, every episode too.
class fake_tmdb {
public:
    fake_tmdb() {
        server_.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
            ++requests;
            if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms.load()));
            if (pad_bytes > 0 && req.path == "/3/search/movie") {
                // A reply of pad_bytes: the one film, and a member of filler.
                const std::string query = req.get_param_value("query");
                std::string body = replies::search_page(false, {{42, query.c_str(), query.c_str(), "2000-06-01", 20, 500}});
                body.insert(body.size() - 1, ",\"filler\":\"" + std::string(pad_bytes.load(), 'f') + "\"");
                res.set_content(body, kType);
                return;
            }
            const std::string query = req.get_param_value("query");
            const int id = static_cast<int>(std::hash<std::string>{}(query) % 900000) + 1000;
            if (req.path == "/3/search/movie") {
                const std::string year = req.get_param_value("year");
                res.set_content(replies::search_page(false, {{id, query.c_str(), query.c_str(),
                                                              (year.empty() ? "2000" : year + "-06-01").c_str(), 20, 500}}),
                                kType);
            } else if (req.path == "/3/search/tv") {
                res.set_content(replies::search_page(true, {{id, query.c_str(), query.c_str(), "2010-01-01", 20, 500, "US"}}),
                                kType);
            } else if (int show = 0, season = 0; std::sscanf(req.path.c_str(), "/3/tv/%d/season/%d", &show, &season) == 2) {
                std::vector<replies::episode> episodes;
                for (int n = 1; n <= 12; ++n) episodes.push_back({show * 100 + n, n, "An Episode", "2011-01-01"});
                res.set_content(replies::season_reply(show, season, episodes), kType);
            } else {
                res.set_content(replies::episode_reply(id, "An Episode", "2011-01-01", 1, 1), kType);
            }
        });
        server_.set_tcp_nodelay(true);  // no 40 ms waits for the acknowledgement of a small write
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~fake_tmdb() {
        server_.stop();
        thread_.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::atomic<long> requests{0};
    std::atomic<int> delay_ms{0};
    std::atomic<size_t> pad_bytes{0};

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

library g_lib;
fake_tmdb *g_server = nullptr;
std::string g_cache;
double g_cold_requests_per_file = 0;
double g_cold_s = 0;

std::vector<std::string> scan_args(const std::vector<std::string> &extra) {
    std::vector<std::string> args = {OXMETA_TOOL, "--base-url", g_server->base(), "--tmdb-key", "K", "scan",
                                     "--quiet", "--cache", g_cache, "--rate", "1000"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(g_lib.root.string());
    return args;
}

void BM_WarmScan(benchmark::State &state) {
    double scan_s = 0, parse_s = 0, walk_s = 0;
    long rounds = 0;
    const long before = g_server->requests;
    for (auto _ : state) {
        const double scan = run_command(scan_args({}), "/dev/null", 1, true);
        const double parse = run_command({OXMETA_TOOL, "parse", "-", "--json"}, g_lib.names.string(), 1, true);
        const double walk = run_command(scan_args({"--ext", "none"}), "/dev/null", 1, true);
        if (scan < 0 || parse < 0 || walk < 0) {
            state.SkipWithError("a run failed");
            break;
        }
        scan_s += scan;
        parse_s += parse;
        walk_s += walk;
        ++rounds;
        state.SetIterationTime(scan);
    }
    const double files = static_cast<double>(g_lib.files) * static_cast<double>(rounds);
    state.counters["files"] = static_cast<double>(g_lib.files);
    state.counters["warm_us_per_file"] = scan_s / files * 1e6;
    state.counters["beyond_walk_us_per_file"] = (scan_s - walk_s) / files * 1e6;
    state.counters["parse_us_per_file"] = parse_s / files * 1e6;
    state.counters["warm_over_parse"] = scan_s / parse_s;
    state.counters["warm_requests"] = static_cast<double>(g_server->requests - before);
    state.counters["cold_requests_per_file"] = g_cold_requests_per_file;
    state.counters["cold_s"] = g_cold_s;
}

// A cold scan of 24 films against replies that each take 100 ms: four
// jobs beside one, alternately.
void BM_ColdJobs(benchmark::State &state) {
    const library films = make_library(24, "films");
    double one_s = 0, four_s = 0;
    g_server->delay_ms = 100;
    for (auto _ : state) {
        const auto run = [&](const char *jobs) {
            return run_command({OXMETA_TOOL, "--base-url", g_server->base(), "--tmdb-key", "K", "scan", "--quiet",
                                "--no-cache", "--rate", "1000", "--jobs", jobs, films.root.string()},
                               "/dev/null", 1, true);
        };
        const double four = run("4");
        const double one = run("1");
        if (one < 0 || four < 0) {
            state.SkipWithError("a run failed");
            break;
        }
        one_s += one;
        four_s += four;
        state.SetIterationTime(four);
    }
    g_server->delay_ms = 0;
    state.counters["one_job_over_four"] = one_s / four_s;
    std::error_code ec;
    fs::remove_all(films.root, ec);
    fs::remove(films.names, ec);
}

// A warm scan of the library beside one of a library ten times as large:
// time and peak memory per file.
void BM_WarmScanMemory(benchmark::State &state) {
    const char *count = std::getenv("OXMETA_SCAN_BENCH_LARGE");
    const library large = make_library(count && *count ? std::strtoul(count, nullptr, 10) : 10 * g_lib.files, "large");
    const std::string cache = large.root.string() + ".cache.sqlite3";
    const auto args = [&](const library &lib, const std::string &cache_file) {
        return std::vector<std::string>{OXMETA_TOOL, "--base-url", g_server->base(), "--tmdb-key", "K", "scan",
                                        "--quiet", "--cache", cache_file, "--rate", "1000", "--jobs", "8",
                                        lib.root.string()};
    };
    if (run_command(args(large, cache), "/dev/null", 1, true) < 0) {  // fills its cache
        state.SkipWithError("the cold scan of the large library failed");
        return;
    }
    double small_s = 0, large_s = 0;
    long small_kib = 0, large_kib = 0;
    for (auto _ : state) {
        long small_peak = 0, large_peak = 0;
        const double small = run_command(args(g_lib, g_cache), "/dev/null", 1, true, &small_peak);
        const double big = run_command(args(large, cache), "/dev/null", 1, true, &large_peak);
        if (small < 0 || big < 0 || small_peak <= 0 || large_peak <= 0) {
            state.SkipWithError("a run failed");
            break;
        }
        small_s += small;
        large_s += big;
        small_kib = std::max(small_kib, small_peak);
        large_kib = std::max(large_kib, large_peak);
        state.SetIterationTime(big);
    }
    const double small_files = static_cast<double>(g_lib.files), large_files = static_cast<double>(large.files);
    state.counters["small_files"] = small_files;
    state.counters["large_files"] = large_files;
    state.counters["small_us_per_file"] = small_s / state.iterations() / small_files * 1e6;
    state.counters["large_us_per_file"] = large_s / state.iterations() / large_files * 1e6;
    state.counters["small_peak_MiB"] = static_cast<double>(small_kib) / 1024;
    state.counters["large_peak_MiB"] = static_cast<double>(large_kib) / 1024;
    state.counters["small_peak_KiB_per_file"] = static_cast<double>(small_kib) / small_files;
    state.counters["large_peak_KiB_per_file"] = static_cast<double>(large_kib) / large_files;
    state.counters["peak_large_over_small"] = static_cast<double>(large_kib) / static_cast<double>(small_kib);
    std::error_code ec;
    fs::remove_all(large.root, ec);
    for (const char *suffix : {".names", ".cache.sqlite3", ".cache.sqlite3-wal", ".cache.sqlite3-shm"})
        fs::remove(large.root.string() + suffix, ec);
}

// A cold scan of 20 films whose searches each answer 30 MiB: its peak
// memory beside the size of one reply.
void BM_LargeReplies(benchmark::State &state) {
    const library films = make_library(20, "big-replies");
    constexpr size_t kReply = size_t{30} << 20;
    g_server->pad_bytes = kReply;
    long peak = 0;
    for (auto _ : state) {
        long kib = 0;
        const double s = run_command({OXMETA_TOOL, "--base-url", g_server->base(), "--tmdb-key", "K", "scan", "--quiet",
                                      "--cache", films.root.string() + ".cache.sqlite3", "--refresh", "--rate", "1000",
                                      "--max-reply-size", "64M", films.root.string()},
                                     "/dev/null", 1, true, &kib);
        if (s < 0 || kib <= 0) {
            state.SkipWithError("a run failed");
            break;
        }
        peak = std::max(peak, kib);
        state.SetIterationTime(s);
    }
    g_server->pad_bytes = 0;
    state.counters["files"] = static_cast<double>(films.files);
    state.counters["reply_MiB"] = static_cast<double>(kReply >> 20);
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024;
    state.counters["peak_over_reply"] = static_cast<double>(peak) * 1024 / static_cast<double>(kReply);
    std::error_code ec;
    fs::remove_all(films.root, ec);
    for (const char *suffix : {".names", ".cache.sqlite3", ".cache.sqlite3-wal", ".cache.sqlite3-shm"})
        fs::remove(films.root.string() + suffix, ec);
}

// `oxmeta organize` over a library of 500 files (replies from the warm
// cache), beside the same renames done by `mv -n` in a shell loop: the
// organize run (plan, journal synced at every step, folders synced) and
// its undo, then the mv loop there and back, all in one loop.
void BM_OrganizeBesideMv(benchmark::State &state) {
    library films = make_library(500, "organize");
    const fs::path to = films.root.string() + ".organized";
    const fs::path state_home = films.root.string() + ".state";
    setenv("XDG_STATE_HOME", state_home.c_str(), 1);
    const std::vector<std::string> organize = {OXMETA_TOOL, "--base-url", g_server->base(), "--tmdb-key", "K", "organize",
                                               "--quiet", "--cache", g_cache, "--rate", "1000", films.root.string(),
                                               "--to", to.string(), "--format", "tsv"};
    // The plan once, as the mv loop's input: source TAB destination.
    const fs::path plan = films.root.string() + ".plan";
    const std::string shell_plan = "'" + std::string(OXMETA_TOOL) + "' --base-url " + g_server->base() +
                                   " --tmdb-key K organize --quiet --cache '" + g_cache + "' --rate 1000 '" +
                                   films.root.string() + "' --to '" + to.string() + "' --format tsv --dry-run | grep '^move' | cut -f 2,3 > '" +
                                   plan.string() + "'";
    if (run_command({"bash", "-c", shell_plan}, "/dev/null", 1, true) < 0) {
        state.SkipWithError("the plan failed");
        return;
    }
    const std::string there = "while IFS=$'\\t' read -r s d; do mkdir -p \"${d%/*}\" && mv -n \"$s\" \"$d\"; done";
    const std::string back = "while IFS=$'\\t' read -r s d; do mv -n \"$d\" \"$s\"; done";
    double organize_s = 0, undo_s = 0, mv_s = 0, mv_back_s = 0;
    long rounds = 0;
    for (auto _ : state) {
        const double o = run_command(organize, "/dev/null", 1, true);
        const double u = run_command({OXMETA_TOOL, "organize", "undo", "--quiet"}, "/dev/null", 1, true);
        const double m = run_command({"bash", "-c", there}, plan.string(), 1, true);
        const double b = run_command({"bash", "-c", back}, plan.string(), 1, true);
        if (o < 0 || u < 0 || m < 0 || b < 0) {
            state.SkipWithError("a run failed");
            break;
        }
        organize_s += o;
        undo_s += u;
        mv_s += m;
        mv_back_s += b;
        ++rounds;
        state.SetIterationTime(o);
    }
    if (rounds > 0) {
        const double files = static_cast<double>(films.files) * static_cast<double>(rounds);
        state.counters["files"] = static_cast<double>(films.files);
        state.counters["organize_files_per_s"] = files / organize_s;
        state.counters["mv_files_per_s"] = files / mv_s;
        state.counters["organize_over_mv"] = organize_s / mv_s;
        state.counters["undo_over_mv_back"] = undo_s / mv_back_s;
    }
    unsetenv("XDG_STATE_HOME");
    std::error_code ec;
    for (const fs::path &p : {films.root, to, state_home}) fs::remove_all(p, ec);
    for (const char *suffix : {".names", ".plan"}) fs::remove(films.root.string() + suffix, ec);
}

}  // namespace

int main(int argc, char **argv) {
    const char *count = std::getenv("OXMETA_SCAN_BENCH_FILES");
    g_lib = make_library(count && *count ? std::strtoul(count, nullptr, 10) : 10000, "library");
    fake_tmdb server;
    g_server = &server;
    g_cache = g_lib.root.string() + ".cache.sqlite3";
    // The cold scan fills the cache.
    g_cold_s = run_command(scan_args({"--jobs", "4"}), "/dev/null", 1, true);
    if (g_cold_s < 0) {
        std::fprintf(stderr, "the cold scan failed\n");
        return 1;
    }
    g_cold_requests_per_file = static_cast<double>(server.requests) / static_cast<double>(g_lib.files);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RegisterBenchmark("BM_WarmScan", BM_WarmScan)->UseManualTime()->Iterations(3);
    benchmark::RegisterBenchmark("BM_ColdJobs", BM_ColdJobs)->UseManualTime()->Iterations(2);
    benchmark::RegisterBenchmark("BM_WarmScanMemory", BM_WarmScanMemory)->UseManualTime()->Iterations(2);
    benchmark::RegisterBenchmark("BM_LargeReplies", BM_LargeReplies)->UseManualTime()->Iterations(1);
    benchmark::RegisterBenchmark("BM_OrganizeBesideMv", BM_OrganizeBesideMv)->UseManualTime()->Iterations(2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_lib.root, ec);
    for (const char *suffix : {".names", ".cache.sqlite3", ".cache.sqlite3-wal", ".cache.sqlite3-shm"})
        fs::remove(g_lib.root.string() + suffix, ec);
    return 0;
}
