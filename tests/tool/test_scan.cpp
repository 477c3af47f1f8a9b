// `oxmeta scan` over a tree of empty files named like real releases,
// against a server on 127.0.0.1 that plays TMDb and counts what it is
// asked: each show searched once, a rescan sending nothing, the rate kept,
// workers in flight at once without crossing results, error replies never
// cached, a damaged cache rebuilt, an interrupted scan resumed; and `oxmeta
// cache`.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include <signal.h>

#include <sqlite3.h>

#include "../match/replies.h"
#include "harness.h"

namespace tool_test {
namespace {

using clock_type = std::chrono::steady_clock;

struct film {
    int id;
    const char *title;
    const char *date;
};

const film kFilms[] = {
    {949, "Heat", "1995-12-15"},
    {1091, "The Thing", "1982-06-25"},
};

struct show {
    int id;
    const char *name;
    const char *date;
    std::vector<replies::season_entry> seasons;  // as its detail lists them
};

// Episode n of a season is id season * 100 + n, aired n - 1 days after
// the season began.
const show kShows[] = {
    {57243, "Doctor Who", "2005-03-26", {{0, 5, "2005-12-25"}, {1, 13, "2005-03-26"}, {2, 13, "2006-04-15"}}},
    {30991, "Cowboy Bebop", "1998-04-03", {{1, 26, "1998-04-03"}}},
    {2224, "The Daily Show", "1996-07-22", {{28, 150, "2023-01-17"}, {29, 40, "2024-01-08"}}},
    {4087, "The X-Files", "1993-09-10",
     {{1, 24, "1993-09-10"}, {2, 25, "1994-09-16"}, {3, 24, "1995-09-22"}, {4, 24, "1996-10-04"}, {5, 20, "1997-11-02"}}},
};

std::string days_after(const char *date, int days) {
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    std::sscanf(date, "%d-%u-%u", &y, &m, &d);
    const std::chrono::year_month_day day{std::chrono::sys_days{std::chrono::year{y} / m / d} + std::chrono::days{days}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()));
    return text;
}

// A show's season as TMDb replies it, or "" when the show has no such season.
std::string season_of(int id, int season) {
    for (const show &s : kShows) {
        if (s.id != id) continue;
        for (const replies::season_entry &e : s.seasons) {
            if (e.number != season) continue;
            std::vector<std::string> dates;
            std::vector<std::string> names;
            for (int n = 1; n <= e.episodes; ++n) {
                dates.push_back(days_after(e.air_date, n - 1));
                names.push_back("Episode " + std::to_string(n));
            }
            std::vector<replies::episode> episodes;
            for (int n = 1; n <= e.episodes; ++n)
                episodes.push_back({season * 100 + n, n, names[n - 1].c_str(), dates[n - 1].c_str()});
            return replies::season_reply(id, season, episodes);
        }
    }
    return "";
}

// The tree, and what each of its media files must come out as: the TMDb
// id ("" unmatched) and the episode id.
struct tree_file {
    const char *path;
    const char *id;
    const char *episode_id;
};

const tree_file kTree[] = {
    {"Movies/Heat (1995)/Heat.1995.1080p.BluRay.x264-GRP.mkv", "949", ""},
    {"Movies/The.Thing.1982.720p.BluRay.x264.mkv", "1091", ""},
    {"Movies/Zorblax.Quintessence.2017.1080p.WEB.mkv", "", ""},
    {"TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E01.Rose.720p.mkv", "57243", "101"},
    {"TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv", "57243", "102"},
    {"TV/Doctor Who (2005)/Season 02/Doctor.Who.2005.S02E01.New.Earth.720p.mkv", "57243", "201"},
    {"Anime/Cowboy Bebop/[Fansub] Cowboy Bebop - 05 [1080p].mkv", "30991", "105"},
    {"TV/The Daily Show/The.Daily.Show.2024.01.15.720p.WEB.h264-GRP.mkv", "2224", "2908"},
};
// Left out: a sample, a trailer, and files that are no video.
const char *const kIgnored[] = {
    "Movies/Heat (1995)/Sample/heat.1995.sample.mkv",
    "Movies/Heat (1995)/Heat.1995.Trailer.mkv",
    "Movies/Heat (1995)/heat.nfo",
    "TV/notes.txt",
};
// Searches: Heat, The Thing, three for Zorblax, one per show; the two
// seasons of Doctor Who; the detail and one season for the numbered anime
// episode and for the dated one.
constexpr int kColdRequests = 2 + 3 + 3 + 2 + 2 + 2;

class ScanTest : public LoopbackTest {
protected:
    void SetUp() override {
        tree = scratch_dir("scan-tree");
        cache_dir = scratch_dir("scan-cache");
        for (const tree_file &f : kTree) touch(f.path);
        for (const char *path : kIgnored) touch(path);
        set_handler([this](const httplib::Request &req, httplib::Response &res) { answer(req, res); });
    }
    void TearDown() override {
        LoopbackTest::TearDown();
        fs::remove_all(tree);
        fs::remove_all(cache_dir);
    }

    void touch(const std::string &relative) {
        fs::create_directories((tree / relative).parent_path());
        write_file(tree / relative, "");
    }

    // TMDb as far as the tree needs it.
    void answer(const httplib::Request &req, httplib::Response &res) {
        misbehaviour odd;
        {
            std::lock_guard<std::mutex> hold(log_mutex);
            arrivals.push_back(clock_type::now());
            odd = misbehave;
        }
        if (odd && odd(req, res)) return;
        const int now = ++in_flight;
        for (int seen = max_in_flight; now > seen && !max_in_flight.compare_exchange_weak(seen, now);) {
        }
        if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms.load()));
        --in_flight;
        const std::string query = req.get_param_value("query");
        if (failing_query == query && failures_left > 0) {
            --failures_left;
            res.status = 500;
            res.set_content(R"({"status_code":11,"status_message":"Internal error."})", "application/json");
            return;
        }
        if (req.path == "/3/search/movie") {
            std::vector<replies::item> items;
            for (const film &f : kFilms)
                if (query == f.title && (req.get_param_value("year").empty() || req.get_param_value("year") == std::string(f.date, 4)))
                    items.push_back({f.id, f.title, f.title, f.date, 40, 5000});
            for (const replies::item &extra : extra_films)
                if (query == extra.title) items.push_back(extra);
            res.set_content(replies::search_page(false, items), "application/json");
        } else if (req.path == "/3/search/tv") {
            std::vector<replies::item> items;
            for (const show &s : kShows)
                if (query == s.name) items.push_back({s.id, s.name, s.name, s.date, 60, 900, "GB"});
            res.set_content(replies::search_page(true, items), "application/json");
        } else if (int id = 0, season = 0, end = 0;
                   std::sscanf(req.path.c_str(), "/3/tv/%d/season/%d%n", &id, &season, &end) == 2 &&
                   static_cast<size_t>(end) == req.path.size() && !season_of(id, season).empty()) {
            res.set_content(season_of(id, season), "application/json");
        } else if (const show *s = show_at(req.path)) {
            res.set_content(replies::tv_detail_reply({s->id, s->name, s->name, s->date, 60, 900, "GB"}, s->seasons),
                            "application/json");
        } else {
            res.status = 404;
            res.set_content(R"({"status_code":34,"status_message":"The resource you requested could not be found."})",
                            "application/json");
        }
    }

    // The show whose detail path is path, or null.
    static const show *show_at(const std::string &path) {
        for (const show &s : kShows)
            if (path == "/3/tv/" + std::to_string(s.id)) return &s;
        return nullptr;
    }

    // At most n arrivals in any second, counted from any arrival (a little
    // slack for the way to the server). Called with log_mutex held.
    void expect_at_most_per_second(size_t n) {
        for (size_t i = 0; i < arrivals.size(); ++i) {
            size_t within = 0;
            for (size_t j = i; j < arrivals.size() && arrivals[j] - arrivals[i] < std::chrono::milliseconds(950); ++j)
                ++within;
            EXPECT_LE(within, n) << "from request " << i;
        }
    }

    outcome scan(std::vector<std::string> extra = {}, const run_options &options = {}) {
        std::vector<std::string> args = {"--tmdb-key", "SECRET-KEY", "--json", "scan", "--cache",
                                         (cache_dir / "cache.sqlite3").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(tree.string());
        return run(args, options);
    }

    int requests_for(const std::string &path, const std::string &query = "") {
        int n = 0;
        for (int i = 0; i < calls(); ++i) {
            const seen r = request(static_cast<size_t>(i));
            n += r.path == path && (query.empty() || r.param("query") == query);
        }
        return n;
    }

    // Every media file once, each with its own pick and episode.
    void expect_every_file_as_named(const outcome &o) {
        std::map<std::string, std::pair<std::string, std::string>> got;
        for (const std::string &line : lines_of(o.out)) {
            const json_doc doc(line);
            ASSERT_NE(doc.doc, nullptr) << line;
            const std::string input = yyjson_get_str(doc.get("input"));
            yyjson_val *pick = doc.get("pick");
            yyjson_val *episode = yyjson_obj_get(pick, "episode");
            const auto number = [](yyjson_val *v) { return v ? std::to_string(yyjson_get_int(v)) : std::string(); };
            got[input] = {number(yyjson_obj_get(pick, "id")), number(yyjson_obj_get(episode, "id"))};
        }
        EXPECT_EQ(got.size(), std::size(kTree)) << o.out;
        for (const tree_file &f : kTree) {
            const auto found = got.find((tree / f.path).string());
            ASSERT_NE(found, got.end()) << f.path;
            EXPECT_EQ(found->second.first, f.id) << f.path;
            EXPECT_EQ(found->second.second, f.episode_id) << f.path;
        }
    }

    // A way the server misbehaves: answers req itself and returns true, or
    // leaves it to the TMDb above.
    using misbehaviour = std::function<bool(const httplib::Request &, httplib::Response &)>;
    void set_misbehaviour(misbehaviour m) {
        std::lock_guard<std::mutex> hold(log_mutex);
        misbehave = std::move(m);
    }

    // n films more, each its own title, matched as named.
    void add_films(int n) {
        for (int k = 0; k < n; ++k) {
            const std::string &title = film_titles.emplace_back("Film Number " + std::to_string(k));
            extra_films.push_back({7000 + k, title.c_str(), title.c_str(), "2003-03-03", 20, 100});
            touch("More/" + title + " (2003)/" + title + ".2003.mkv");
        }
    }

    std::string cache_path() const { return (cache_dir / "cache.sqlite3").string(); }

    // Runs sql on the cache file as another program would.
    void cache_sql(const std::string &sql) {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(cache_path().c_str(), &db), SQLITE_OK);
        char *error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }

    fs::path tree;
    fs::path cache_dir;
    misbehaviour misbehave;
    std::deque<std::string> film_titles;
    std::mutex log_mutex;
    std::vector<clock_type::time_point> arrivals;
    std::atomic<int> in_flight{0};
    std::atomic<int> max_in_flight{0};
    std::atomic<int> delay_ms{0};
    std::string failing_query;
    std::atomic<int> failures_left{0};
    std::vector<replies::item> extra_films;
};

// Two films of one title and a name with no year to part them: the file
// is counted apart from those that match nothing.
TEST_F(ScanTest, AmbiguousFilesAreCountedApart) {
    extra_films.push_back({438631, "Dune", "Dune", "2021-09-15", 95.3, 12000});
    extra_films.push_back({841, "Dune", "Dune", "1984-12-14", 35.4, 2900});
    touch("Movies/Dune.mkv");
    const outcome o = scan({"--no-cache"});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: scan: 9 files, 7 matched, 1 ambiguous, 1 unmatched; 15 requests sent"))
        << o.err;
    bool seen = false;
    for (const std::string &line : lines_of(o.out)) {
        const json_doc doc(line);
        if (!contains(yyjson_get_str(doc.get("input")), "Dune.mkv")) continue;
        seen = true;
        EXPECT_STREQ(yyjson_get_str(doc.get("status")), "ambiguous") << line;
        EXPECT_TRUE(yyjson_is_null(doc.get("pick"))) << line;
        EXPECT_EQ(yyjson_arr_size(doc.get("candidates")), 2u) << line;
    }
    EXPECT_TRUE(seen) << o.out;
}

TEST_F(ScanTest, EachShowIsSearchedOnceAndARescanAsksNothing) {
    const outcome cold = scan();
    EXPECT_EQ(cold.status, 1) << cold.err;  // Zorblax is not matched
    expect_every_file_as_named(cold);
    EXPECT_EQ(requests_for("/3/search/tv", "Doctor Who"), 1);
    EXPECT_EQ(calls(), kColdRequests);
    EXPECT_TRUE(contains(cold.err,
                         "oxmeta: scan: 8 files, 7 matched, 0 ambiguous, 1 unmatched; 14 requests sent, 0 cache hits"))
        << cold.err;
    EXPECT_EQ(cold.err.find('\r'), std::string::npos);  // no progress line when stderr is not a terminal

    const outcome warm = scan();
    EXPECT_EQ(warm.status, 1);
    EXPECT_EQ(calls(), kColdRequests);  // nothing asked again
    EXPECT_EQ(warm.out, cold.out);
    EXPECT_TRUE(contains(warm.err, "0 requests sent, 14 cache hits")) << warm.err;

    const outcome refreshed = scan({"--refresh"});
    EXPECT_EQ(refreshed.out, cold.out);
    EXPECT_EQ(calls(), 2 * kColdRequests);

    // --no-cache neither reads nor writes it.
    const outcome uncached = scan({"--no-cache"});
    EXPECT_EQ(calls(), 3 * kColdRequests);
    EXPECT_EQ(uncached.out, cold.out);
}

// A show of 5 seasons and 100 episode files: one search, and each season
// once, its reply serving all of its episodes.
TEST_F(ScanTest, AShowCostsASearchAndOneRequestASeason) {
    const fs::path show_tree = scratch_dir("scan-show");
    std::map<std::string, std::string> expected;
    for (int season = 1; season <= 5; ++season) {
        for (int episode = 1; episode <= 20; ++episode) {
            char name[96];
            std::snprintf(name, sizeof name, "The X-Files/Season %d/The.X-Files.S%02dE%02d.720p.BluRay.mkv", season,
                          season, episode);
            fs::create_directories((show_tree / name).parent_path());
            write_file(show_tree / name, "");
            expected[(show_tree / name).string()] = std::to_string(season * 100 + episode);
        }
    }
    const auto scan_show = [&] {
        return run({"--tmdb-key", "K", "--json", "scan", "--cache", (cache_dir / "show.sqlite3").string(),
                    show_tree.string()});
    };
    const outcome cold = scan_show();
    EXPECT_EQ(cold.status, 0) << cold.err;
    EXPECT_LE(calls(), 1 + 5);
    EXPECT_EQ(requests_for("/3/search/tv", "The X-Files"), 1);
    const outcome warm = scan_show();
    EXPECT_EQ(calls(), 1 + 5);  // nothing asked again
    EXPECT_EQ(warm.out, cold.out);
    EXPECT_TRUE(contains(warm.err, "100 files, 100 matched, 0 ambiguous, 0 unmatched; 0 requests sent")) << warm.err;
    size_t seen = 0;
    for (const std::string &line : lines_of(cold.out)) {
        const json_doc doc(line);
        const auto found = expected.find(yyjson_get_str(doc.get("input")));
        ASSERT_NE(found, expected.end()) << line;
        ++seen;
        yyjson_val *episode = yyjson_obj_get(doc.get("pick"), "episode");
        EXPECT_EQ(std::to_string(yyjson_get_int(yyjson_obj_get(episode, "id"))), found->second) << line;
    }
    EXPECT_EQ(seen, expected.size());
    fs::remove_all(show_tree);
}

TEST_F(ScanTest, WorkersFetchAtOnceAndResultsNeverCross) {
    // Twelve films more, each its own title and id; replies take a while and
    // arrive in any order.
    static const char *const titles[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot",
                                         "Golf",  "Hotel", "India",   "Juliett", "Kilo", "Lima"};
    std::map<std::string, std::string> expected;
    for (int k = 0; k < 12; ++k) {
        extra_films.push_back({5000 + k, titles[k], titles[k], "2001-05-05", 10.0 + k, 100});
        const std::string path = "Films/" + std::string(titles[k]) + ".2001.1080p.mkv";
        touch(path);
        expected[(tree / path).string()] = std::to_string(5000 + k);
    }
    delay_ms = 100;
    const auto timed = [&](const char *jobs) {
        const auto start = clock_type::now();
        const outcome o = scan({"--no-cache", "--jobs", jobs});
        return std::make_pair(o, std::chrono::duration<double>(clock_type::now() - start).count());
    };
    const auto [four, four_s] = timed("4");
    EXPECT_GE(max_in_flight, 3);
    max_in_flight = 0;
    const auto [one, one_s] = timed("1");
    EXPECT_EQ(max_in_flight, 1);
    EXPECT_EQ(four.out, one.out);
    EXPECT_LT(four_s, one_s);
    for (const std::string &line : lines_of(four.out)) {
        const json_doc doc(line);
        const auto found = expected.find(yyjson_get_str(doc.get("input")));
        if (found == expected.end()) continue;
        EXPECT_EQ(std::to_string(yyjson_get_int(yyjson_obj_get(doc.get("pick"), "id"))), found->second) << line;
    }
}

TEST_F(ScanTest, TheRateIsKept) {
    const outcome o = scan({"--no-cache", "--rate", "5", "--jobs", "4"});
    expect_every_file_as_named(o);
    std::lock_guard<std::mutex> hold(log_mutex);
    ASSERT_EQ(arrivals.size(), static_cast<size_t>(kColdRequests));
    expect_at_most_per_second(5);
}

TEST_F(ScanTest, ErrorRepliesAreNotCached) {
    failing_query = "Heat";
    failures_left = 1;
    const outcome failed = scan({"--retries", "0"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(contains(failed.err, "Heat.1995.1080p.BluRay.x264-GRP.mkv: TMDb HTTP 500")) << failed.err;
    EXPECT_TRUE(contains(failed.err, "8 files, 6 matched, 0 ambiguous, 1 unmatched, 1 failed; " +
                                         std::to_string(kColdRequests) + " requests sent"))
        << failed.err;
    const int after_first = calls();
    const outcome again = scan();
    expect_every_file_as_named(again);
    EXPECT_EQ(requests_for("/3/search/movie", "Heat"), 2);  // asked again: the 500 was not kept
    EXPECT_EQ(calls(), after_first + 1);
}

TEST_F(ScanTest, ADamagedCacheOfOursIsMovedAsideAndMadeAnew) {
    scan();
    // Every page but the first (the header, with the cache's mark) overwritten.
    const std::string whole = slurp(cache_path());
    ASSERT_GT(whole.size(), 4096u);
    write_file(cache_path(), whole.substr(0, 4096) + std::string(whole.size() - 4096, 'x'));
    const outcome check = run_tool({"cache", "check", "--cache", cache_path()});
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(contains(check.err, "is damaged")) << check.err;
    const outcome o = scan();
    expect_every_file_as_named(o);
    EXPECT_TRUE(contains(o.err, "was damaged; moved aside to")) << o.err;
    int aside = 0;
    for (const auto &entry : fs::directory_iterator(cache_dir))
        aside += entry.path().filename().string().rfind("cache.sqlite3.bad-", 0) == 0;
    EXPECT_EQ(aside, 1);
    EXPECT_EQ(calls(), 2 * kColdRequests);
    scan();
    EXPECT_EQ(calls(), 2 * kColdRequests);  // the new cache serves the next scan
    const outcome healthy = run_tool({"cache", "check", "--cache", cache_path()});
    EXPECT_EQ(healthy.status, 0) << healthy.err;
    EXPECT_EQ(healthy.out, "ok\n");
}

TEST_F(ScanTest, DamageDeepInTheCacheIsToldWhereItIsFound) {
    scan();
    // Many more replies, then the last pages of the file overwritten.
    cache_sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
              "INSERT INTO replies SELECT 'https://x/' || i, 'tmdb', 200, '{\"pad\":\"' || hex(randomblob(1000)) || '\"}', "
              "strftime('%s', 'now') FROM n");
    const std::string whole = slurp(cache_path());
    ASSERT_GT(whole.size(), 200000u);
    write_file(cache_path(), whole.substr(0, whole.size() - 40960) + std::string(40960, 'x'));
    const outcome stats = run_tool({"cache", "stats", "--cache", cache_path()});
    EXPECT_EQ(stats.status, 1) << stats.out;
    EXPECT_TRUE(contains(stats.err, "the cache is damaged")) << stats.err;
    const outcome check = run_tool({"cache", "check", "--cache", cache_path()});
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_NE(check.out, "ok\n");
}

TEST_F(ScanTest, AFileThatIsNotOursOrIsNewerIsRefusedAndLeftAsItIs) {
    struct foreign {
        const char *what;
        std::function<void()> make;
    };
    const foreign cases[] = {
        {"a text file", [&] { write_file(cache_path(), std::string(4096, 'x')); }},
        {"another program's database", [&] { cache_sql("CREATE TABLE notes (text); INSERT INTO notes VALUES ('mine');"); }},
        {"another program's damaged database",
         [&] {
             cache_sql("CREATE TABLE notes (text); INSERT INTO notes VALUES ('mine');");
             const std::string whole = slurp(cache_path());
             write_file(cache_path(), whole.substr(0, 100) + std::string(whole.size() - 100, 'x'));
         }},
        {"a newer oxmeta's cache",
         [&] {
             scan({"--max-depth", "0"});
             cache_sql("UPDATE meta SET value = '2' WHERE key = 'schema_version'");
         }},
    };
    for (const foreign &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(cache_dir);
        fs::create_directories(cache_dir);
        c.make();
        const std::string before = slurp(cache_path());
        const int sent = calls();
        const outcome o = scan();
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(contains(o.err, "left as it is")) << o.err;
        EXPECT_EQ(calls(), sent);
        for (const char *action : {"stats", "clear", "check"}) {
            const outcome cache = run_tool({"cache", action, "--cache", cache_path()});
            EXPECT_EQ(cache.status, 1) << action;
            EXPECT_TRUE(contains(cache.err, "left as it is")) << action << ": " << cache.err;
        }
        EXPECT_EQ(slurp(cache_path()), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(cache_dir), fs::directory_iterator()), 1);
    }
}

TEST_F(ScanTest, ABusyCacheIsWaitedForThenLeftAlone) {
    scan();
    // Another program holds the file, readers locked out, for longer than a
    // scan waits.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(cache_path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM meta WHERE key = 'none';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const outcome busy = scan();
    expect_every_file_as_named(busy);
    EXPECT_TRUE(contains(busy.err, "is busy")) << busy.err;
    EXPECT_TRUE(contains(busy.err, "scanning without the cache")) << busy.err;
    EXPECT_EQ(calls(), 2 * kColdRequests);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(std::distance(fs::directory_iterator(cache_dir), fs::directory_iterator()), 1);
    const outcome stats = run_tool({"cache", "stats", "--cache", cache_path()});
    EXPECT_TRUE(contains(stats.out, "replies\t" + std::to_string(kColdRequests) + "\n")) << stats.out << stats.err;
}

TEST_F(ScanTest, TheCacheIsPrivateAndKeepsNoKey) {
    // A reply that echoes the request, key and all.
    set_misbehaviour([](const httplib::Request &req, httplib::Response &res) {
        if (req.get_param_value("query") != "Heat") return false;
        res.set_content(R"({"page":1,"results":[],"total_pages":1,"total_results":0,"request":")" + req.target + "\"}",
                        "application/json");
        return true;
    });
    const fs::path folder = cache_dir / "made" / "here";
    const std::string cache = (folder / "cache.sqlite3").string();
    run({"--tmdb-key", "SECRET-KEY", "--json", "scan", "--cache", cache, tree.string()});
    EXPECT_TRUE(contains(slurp(cache), "api_key=REDACTED"));
    EXPECT_FALSE(contains(slurp(cache), "SECRET-KEY"));
    EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    for (const fs::path &made : {folder, folder.parent_path()})
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;

    // Looking never writes: no cache, no folder made.
    const fs::path nowhere = cache_dir / "not" / "here" / "cache.sqlite3";
    const outcome stats = run_tool({"cache", "stats", "--cache", nowhere.string()});
    EXPECT_EQ(stats.status, 0) << stats.err;
    EXPECT_TRUE(contains(stats.out, "replies\t0\n")) << stats.out;
    EXPECT_EQ(run_tool({"cache", "path", "--cache", nowhere.string()}).status, 0);
    EXPECT_FALSE(fs::exists(cache_dir / "not"));
}

TEST_F(ScanTest, NowhereToWriteStopsTheScanAtTheFirstFailure) {
    const std::pair<stdout_to, const char *> cases[] = {{stdout_to::dev_full, "No space left on device"},
                                                         {stdout_to::closed, "Bad file descriptor"}};
    for (const auto &[target, reason] : cases) {
        SCOPED_TRACE(reason);
        run_options options;
        options.out = target;
        const int before = calls();
        // The films alone: Heat and The Thing are settled, and written, in the
        // first pass; Zorblax's second and third searches come after.
        const outcome o = run({"--tmdb-key", "SECRET-KEY", "--json", "scan", "--no-cache", (tree / "Movies").string()},
                              options);
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(contains(o.err, std::string("oxmeta: writing output failed: ") + reason)) << o.err;
        EXPECT_LT(calls() - before, 5);
        EXPECT_FALSE(contains(o.err, "oxmeta: scan: 3 files")) << o.err;
    }
}

TEST_F(ScanTest, ACacheThatStopsWorkingIsToldOnceAndCounted) {
    start();
    // A file-size limit: the cache's writes fail part way, as on a full disk.
    const outcome o = run_shell("ulimit -f 24; oxmeta --base-url " + base() + " --tmdb-key K --json scan --cache '" +
                                cache_path() + "' '" + tree.string() + "'");
    expect_every_file_as_named(o);
    const auto lines = lines_of(o.err);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return contains(l, "the cache stopped working: "); }),
              1)
        << o.err;
    EXPECT_TRUE(contains(o.err, "File too large")) << o.err;
    EXPECT_TRUE(contains(o.err, " not kept (the cache failed)")) << o.err;
}

TEST_F(ScanTest, AnInterruptedScanLeavesACacheTheNextOneUses) {
    delay_ms = 150;
    const fs::path pid_file = cache_dir / "scan.pid";
    // Ctrl-C while the third request is in flight, however slow the machine.
    std::atomic<int> arrived{0};
    set_misbehaviour([&](const httplib::Request &, httplib::Response &) {
        if (++arrived != 3) return false;
        pid_t pid = 0;
        for (int tries = 0; tries < 500 && (pid = std::atoi(slurp(pid_file).c_str())) <= 0; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pid > 0) kill(pid, SIGINT);
        return false;
    });
    start();
    const std::string cache = (cache_dir / "cache.sqlite3").string();
    // With job control on, a background job takes SIGINT as from Ctrl-C.
    const outcome killed = run_shell("set -m; oxmeta --base-url " + base() + " --tmdb-key K --json scan --jobs 1 --cache '" +
                                     cache + "' '" + tree.string() + "' > /dev/null & pid=$!; echo $pid > '" +
                                     pid_file.string() + "'; wait $pid; echo $?");
    const int sent_before = calls();
    EXPECT_GT(sent_before, 0);
    EXPECT_LT(sent_before, kColdRequests) << killed.out;
    EXPECT_NE(killed.out, "0\n");
    delay_ms = 0;
    const outcome resumed = scan();
    expect_every_file_as_named(resumed);
    // What the first scan fetched before it was stopped is not asked again;
    // only the one request in flight when it stopped is sent once more.
    EXPECT_LE(calls(), kColdRequests + 1);
    EXPECT_LT(calls() - sent_before, kColdRequests);
}

TEST_F(ScanTest, CacheCommandsTellAndClear) {
    scan();
    const std::string cache = (cache_dir / "cache.sqlite3").string();
    const outcome path = run_tool({"cache", "path", "--cache", cache});
    EXPECT_EQ(path.out, cache + "\n");
    const outcome stats = run_tool({"cache", "stats", "--cache", cache});
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_TRUE(contains(stats.out, "replies\t14\n")) << stats.out;
    EXPECT_TRUE(contains(stats.out, "tmdb\t14 replies")) << stats.out;
    const outcome cleared = run_tool({"cache", "clear", "--cache", cache});
    EXPECT_TRUE(contains(cleared.out, "removed 14 replies")) << cleared.out;
    EXPECT_TRUE(contains(run_tool({"cache", "stats", "--cache", cache}).out, "replies\t0\n"));
    // The default place follows XDG_CACHE_HOME.
    run_options options;
    options.env["XDG_CACHE_HOME"] = cache_dir.string();
    EXPECT_EQ(run_tool({"cache", "path"}, options).out, (cache_dir / "oxmeta" / "cache.sqlite3").string() + "\n");
}

TEST_F(ScanTest, OnATerminalOneProgressLineIsRedrawnAndCleared) {
    delay_ms = 60;  // long enough for a few redraws
    run_options terminal;
    terminal.out = stdout_to::terminal;
    terminal.err_on_terminal = true;
    terminal.columns = 200;
    const outcome o = run({"--tmdb-key", "K", "scan", "--no-cache", "--jobs", "2", tree.string()}, terminal);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.out, "\r\x1b[Kscan: ")) << o.out;
    EXPECT_TRUE(contains(o.out, " files, ")) << o.out;
    EXPECT_TRUE(contains(o.out, " in flight, ")) << o.out;
    // Cleared at the end: nothing of it after the last clearing, and the
    // summary on a line of its own.
    const std::string after = o.out.substr(o.out.rfind("\r\x1b[K"));
    EXPECT_FALSE(contains(after, " in flight")) << after;
    // The summary starts a line: after a newline, or where the cleared line began.
    EXPECT_TRUE(contains(o.out, "\noxmeta: scan: 8 files") || contains(o.out, "\r\x1b[Koxmeta: scan: 8 files")) << o.out;
    const outcome quiet = run({"--tmdb-key", "K", "scan", "--no-cache", "--quiet", tree.string()}, terminal);
    EXPECT_FALSE(contains(quiet.out, "scan: ")) << quiet.out;
}

TEST_F(ScanTest, TheProgressLineNeverWrapsInANarrowTerminal) {
    delay_ms = 60;
    run_options narrow;
    narrow.out = stdout_to::terminal;
    narrow.err_on_terminal = true;
    narrow.columns = 40;
    const outcome o = run({"--tmdb-key", "K", "scan", "--no-cache", "--jobs", "2", "--format", "json", tree.string()},
                          narrow);
    EXPECT_TRUE(contains(o.out, "\r\x1b[Kscan: pass ")) << o.out;
    // Each drawing, up to the next clearing or the end of its line, fits in 39 columns.
    size_t drawings = 0;
    for (size_t at = o.out.find("\r\x1b[K"); at != std::string::npos; at = o.out.find("\r\x1b[K", at + 1)) {
        const size_t from = at + 4;
        const size_t end = std::min(o.out.find('\r', from), o.out.find('\n', from));
        const std::string drawn = o.out.substr(from, end == std::string::npos ? std::string::npos : end - from);
        if (drawn.rfind("scan: ", 0) != 0) continue;
        ++drawings;
        EXPECT_LE(drawn.size(), 39u) << drawn;
    }
    EXPECT_GT(drawings, 0u);
}

TEST_F(ScanTest, UsageAndWalkProblems) {
    const outcome missing = run_tool({"--tmdb-key", "K", "scan", "/no/such/folder"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, "no such file or folder: /no/such/folder")) << missing.err;
    // Not "no such file" when the path exists in part: why it cannot be read.
    const std::string through_a_file = (tree / kTree[0].path).string() + "/more";
    const outcome not_folder = run_tool({"--tmdb-key", "K", "scan", through_a_file});
    EXPECT_EQ(not_folder.status, 2);
    EXPECT_TRUE(contains(not_folder.err, "Not a directory: " + through_a_file)) << not_folder.err;
    EXPECT_EQ(run_tool({"--tmdb-key", "K", "scan", "--cache-ttl", "search=soon", tree.string()}).status, 2);
    // A link back up is walked once; --max-depth 0 reads the folder alone.
    fs::create_symlink(tree, tree / "TV" / "loop");
    const outcome looped = scan();
    expect_every_file_as_named(looped);
    const outcome shallow = scan({"--max-depth", "0"});
    EXPECT_EQ(shallow.out, "");
    EXPECT_TRUE(contains(shallow.err, "0 files")) << shallow.err;
}

// ------------------------------------------------------------------ a misbehaving service

TEST_F(ScanTest, AReplyThatIsNotJsonIsNeverKeptAndAKeptOneIsAskedAgain) {
    // A captive portal answers the first search for Heat with its own page.
    std::atomic<int> portal_pages{1};
    set_misbehaviour([&](const httplib::Request &req, httplib::Response &res) {
        if (req.get_param_value("query") != "Heat" || portal_pages-- <= 0) return false;
        res.set_content("<html><body>Sign in to the hotel network</body></html>", "text/html");
        return true;
    });
    const outcome portal = scan();
    EXPECT_EQ(portal.status, 1);
    EXPECT_TRUE(contains(portal.err, "Heat.1995.1080p.BluRay.x264-GRP.mkv: ")) << portal.err;
    const outcome healthy = scan();
    expect_every_file_as_named(healthy);
    EXPECT_EQ(requests_for("/3/search/movie", "Heat"), 2);

    // A page kept by an earlier version is dropped and asked again.
    cache_sql("UPDATE replies SET body = '<html>portal</html>' WHERE url LIKE '%query=Heat%'");
    const outcome again = scan();
    expect_every_file_as_named(again);
    EXPECT_EQ(requests_for("/3/search/movie", "Heat"), 3);
    scan();
    EXPECT_EQ(requests_for("/3/search/movie", "Heat"), 3);  // the good reply is kept now
}

TEST_F(ScanTest, ARejectedKeyStopsTheScanWithOneMessageNamingItsSource) {
    add_films(20);
    set_misbehaviour([](const httplib::Request &, httplib::Response &res) {
        res.status = 401;
        res.set_content(R"({"status_code":7,"status_message":"Invalid API key: You must be granted a valid key."})",
                        "application/json");
        return true;
    });
    const outcome given = scan();
    EXPECT_EQ(given.status, 1);
    EXPECT_EQ(given.out, "");
    EXPECT_LE(calls(), 4);  // the requests already in flight at most
    const auto lines = lines_of(given.err);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return contains(l, "401"); }), 1)
        << given.err;
    EXPECT_TRUE(contains(given.err, "TMDb rejected the key from --tmdb-key (HTTP 401)")) << given.err;
    EXPECT_TRUE(contains(given.err, "28 files left for the next run")) << given.err;

    run_options from_env;
    from_env.env["TMDB_API_KEY"] = "SECRET-KEY";
    const outcome env = run({"scan", "--cache", cache_path(), tree.string()}, from_env);
    EXPECT_TRUE(contains(env.err, "rejected the key from TMDB_API_KEY")) << env.err;
    EXPECT_LE(calls(), 8);
}

TEST_F(ScanTest, AServiceThatKeepsFailingStopsTheScanKeepingWhatWasFetched) {
    add_films(30);
    // The first two requests to arrive are answered, then 503 for ever.
    std::atomic<int> answered{0};
    set_misbehaviour([&](const httplib::Request &, httplib::Response &res) {
        if (answered++ < 2) return false;
        res.status = 503;
        res.set_content(R"({"status_code":11,"status_message":"Service unavailable."})", "application/json");
        return true;
    });
    const outcome o = scan({"--jobs", "8", "--rate", "200"});
    EXPECT_EQ(o.status, 1);
    // Ten failures in a row, and the requests in flight when the last came.
    EXPECT_LE(calls(), 2 + 10 + 8) << o.err;
    EXPECT_TRUE(contains(o.err, "scan stopped: TMDb answered HTTP 503 to 10 requests in a row")) << o.err;
    EXPECT_TRUE(contains(o.err, "left for the next run")) << o.err;
    // The films found before it stopped are told (the workers ask the
    // first films first, whichever of them arrives first).
    std::vector<std::string> found;
    for (const std::string &line : lines_of(o.out)) {
        const json_doc doc(line);
        if (std::string(yyjson_get_str(doc.get("status"))) == "matched")
            found.push_back(yyjson_get_str(yyjson_obj_get(doc.get("parsed"), "title")));
    }
    EXPECT_FALSE(found.empty()) << o.out;
    set_misbehaviour(nullptr);
    const outcome healthy = scan();
    EXPECT_EQ(healthy.status, 1);  // Zorblax
    for (const std::string &title : found)
        EXPECT_EQ(requests_for("/3/search/movie", title), 1) << title;  // what was fetched was kept
    EXPECT_EQ(lines_of(healthy.out).size(), std::size(kTree) + 30);
}

TEST_F(ScanTest, ARetryAfterPausesEveryWorkerAndRetriesKeepTheRate) {
    std::atomic<bool> first{true};
    set_misbehaviour([&](const httplib::Request &, httplib::Response &res) {
        if (!first.exchange(false)) return false;
        res.status = 429;
        res.set_header("Retry-After", "2");
        res.set_content(R"({"status_code":25,"status_message":"Too many requests."})", "application/json");
        return true;
    });
    const outcome o = scan({"--no-cache", "--jobs", "4", "--rate", "5"});
    expect_every_file_as_named(o);
    std::lock_guard<std::mutex> hold(log_mutex);
    ASSERT_EQ(arrivals.size(), static_cast<size_t>(kColdRequests + 1));
    EXPECT_TRUE(contains(o.err, std::to_string(kColdRequests + 1) + " requests sent")) << o.err;  // the retry counted
    for (size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[0], std::chrono::milliseconds(1900)) << "request " << i;
    expect_at_most_per_second(5);
}

TEST_F(ScanTest, MemoryHoldsTheRepliesInUseNotAllOfThem) {
    // A sanitizer's shadow memory and quarantine of freed blocks say nothing of the tool's own.
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "peak memory is not the tool's own under a sanitizer";
    // Forty films whose searches each answer 4 MiB.
    add_films(40);
    const std::string padding(4 << 20, 'p');
    set_misbehaviour([&](const httplib::Request &req, httplib::Response &res) {
        const std::string query = req.get_param_value("query");
        if (query.rfind("Film Number ", 0) != 0) return false;
        const int k = std::stoi(query.substr(12));
        std::string body = replies::search_page(false, {{7000 + k, query.c_str(), query.c_str(), "2003-03-03", 20, 100}});
        body.insert(body.size() - 1, ",\"padding\":\"" + padding + "\"");
        res.set_content(body, "application/json");
        return true;
    });
    run_options measured;
    measured.measure_memory = true;
    const outcome cold = scan({"--jobs", "2", "--max-reply-size", "8M"}, measured);
    EXPECT_EQ(lines_of(cold.out).size(), std::size(kTree) + 40) << cold.err;
    // All of them would be 160 MiB; two in flight and one in use, a few copies each, far less.
    const outcome warm = scan({"--jobs", "2"}, measured);
    EXPECT_TRUE(contains(warm.err, "0 requests sent, " + std::to_string(kColdRequests + 40) + " cache hits")) << warm.err;
    EXPECT_GT(cold.peak_kib, 0);
    EXPECT_GT(warm.peak_kib, 0);
    EXPECT_LT(cold.peak_kib, 80 * 1024) << cold.err << cold.peak_kib;
    EXPECT_LT(warm.peak_kib, 80 * 1024) << warm.peak_kib;
}

// ------------------------------------------------------------------ what the terminal sees

TEST_F(ScanTest, FileNamesReachTheTerminalEscaped) {
    // Names that would set the window's title, turn the text red and clear the screen.
    const std::string hostile[] = {"Set\x1b]0;owned\x07Title/Heat.1995.mkv", "\x1b[31mRed/The.Thing.1982\x1b[2J.mkv"};
    std::vector<std::string> paths;
    for (const std::string &path : hostile) {
        touch(path);
        paths.push_back((tree / path).string());
    }
    const auto clean = [](const std::string &text) {
        return text.find('\x1b') == std::string::npos && text.find('\x07') == std::string::npos;
    };
    std::vector<std::string> scan_args = {"--tmdb-key", "K", "--format", "table", "scan", "--no-cache", tree.string()};
    std::vector<std::string> match_args = {"--tmdb-key", "K", "--format", "table", "match"};
    match_args.insert(match_args.end(), paths.begin(), paths.end());
    for (const auto &args : {scan_args, match_args}) {
        SCOPED_TRACE(args[4]);
        const outcome found = run(args);  // blocks of what was found
        EXPECT_TRUE(clean(found.out)) << found.out;
        EXPECT_TRUE(contains(found.out, "\\x1b]0;owned\\x07Title")) << found.out;
        std::vector<std::string> unreachable = {"--base-url", "http://127.0.0.1:1"};
        unreachable.insert(unreachable.end(), args.begin(), args.end());
        const outcome failed = run_tool(unreachable);  // a failure line per file
        EXPECT_TRUE(clean(failed.out)) << failed.out;
        EXPECT_TRUE(clean(failed.err)) << failed.err;
        EXPECT_TRUE(contains(failed.err, "\\x1b[31mRed/The.Thing.1982\\x1b[2J.mkv: ")) << failed.err;
    }
}

TEST_F(ScanTest, APathThatIsNotUtf8CanBeFoundAgainFromTheJson) {
    const std::string name = "Bad\xff.Movie.1999.mkv";
    touch(name);
    run_options in_tree;
    in_tree.cwd = tree.string();
    in_tree.input = name + "\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--tmdb-key", "K", "--json", "scan", "--no-cache", "--max-depth", "0", "."}, "Li9CYWT/Lk1vdmllLjE5OTkubWt2"},
        {{"--tmdb-key", "K", "--json", "match", name}, "QmFk/y5Nb3ZpZS4xOTk5Lm1rdg=="},
        {{"--json", "parse", "-"}, "QmFk/y5Nb3ZpZS4xOTk5Lm1rdg=="},
    };
    for (const auto &[args, bytes] : cases) {
        SCOPED_TRACE(args[args.size() - 2]);
        const outcome o = run(args, in_tree);
        const json_doc doc(o.out);
        ASSERT_NE(doc.doc, nullptr) << o.out << o.err;
        EXPECT_TRUE(contains(yyjson_get_str(doc.get("input")), "Bad\xEF\xBF\xBD.Movie")) << o.out;  // the text kept
        EXPECT_STREQ(yyjson_get_str(doc.get("path_bytes")), bytes.c_str()) << o.out;
    }
    // A UTF-8 path needs none.
    const outcome plain = run({"--json", "parse", "Heat.1995.mkv"});
    EXPECT_EQ(json_doc(plain.out).get("path_bytes"), nullptr) << plain.out;
}

// ------------------------------------------------------------------ what a media library skips

TEST_F(ScanTest, ResourceFilesHiddenNamesAndPartialDownloadsAreSkippedAndADiscIsOneFilm) {
    for (const char *path : {"Movies/._Heat.1995.1080p.BluRay.x264-GRP.mkv", "Movies/.Heat.1995.720p.mkv",
                             ".stash/Heat.1995.mkv", "Movies/The.Thing.1982.mkv.part", "Movies/The.Thing.1982.mkv.!qB",
                             "Movies/The.Thing.1982.mkv.crdownload"})
        touch(path);
    const outcome plain = scan({"--ext", "mkv,part,!qb,crdownload"});
    expect_every_file_as_named(plain);

    // With --hidden, hidden names are taken; resource files never.
    const outcome hidden = scan({"--hidden"});
    EXPECT_TRUE(contains(hidden.out, "/Movies/.Heat.1995.720p.mkv\"")) << hidden.out;
    EXPECT_TRUE(contains(hidden.out, "/.stash/Heat.1995.mkv\"")) << hidden.out;
    EXPECT_FALSE(contains(hidden.out, "._Heat")) << hidden.out;

    // A DVD and a Blu-ray: one film each, named by the folder above.
    extra_films.push_back({348, "Alien", "Alien", "1979-05-25", 50, 9000});
    for (const char *path : {"Discs/Alien (1979)/VIDEO_TS/VIDEO_TS.IFO", "Discs/Alien (1979)/VIDEO_TS/VTS_01_1.VOB",
                             "Discs/Alien (1979)/VIDEO_TS/VTS_01_2.VOB", "Discs/Heat (1995)/BDMV/STREAM/00000.m2ts",
                             "Discs/Heat (1995)/BDMV/STREAM/00001.m2ts", "Discs/Heat (1995)/CERTIFICATE/id.bdmv"})
        touch(path);
    const outcome discs = run({"--tmdb-key", "K", "--json", "scan", "--no-cache", (tree / "Discs").string(),
                               (tree / "Discs" / "Alien (1979)" / "VIDEO_TS").string()});
    std::vector<std::pair<std::string, int>> got;
    for (const std::string &line : lines_of(discs.out)) {
        const json_doc doc(line);
        got.emplace_back(yyjson_get_str(doc.get("input")), static_cast<int>(yyjson_get_int(yyjson_obj_get(doc.get("pick"), "id"))));
    }
    const std::vector<std::pair<std::string, int>> expected = {{(tree / "Discs" / "Alien (1979)").string(), 348},
                                                               {(tree / "Discs" / "Heat (1995)").string(), 949},
                                                               {(tree / "Discs" / "Alien (1979)").string(), 348}};
    EXPECT_EQ(got, expected) << discs.out << discs.err;
}

}  // namespace
}  // namespace tool_test
