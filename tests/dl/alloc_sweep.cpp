// The shipped shared library, loaded with dlopen as a host loads it, in a
// process whose allocator is the LD_PRELOAD shim (alloc_shim.c). Every case
// is one exported operation that starts from a previous state (a listing's
// results and paging counters, and another show's seasons and last
// episode); it runs again and again, failing its first, second, third ...
// allocation (once, then also every later one), each run on a new thread.
// After every run: the status is a documented one, what the call must
// leave alone is as it was, every text getter answers, and after
// oxmeta_shutdown every block allocated on the library's behalf, by the
// loader, by yyjson or by the library, has been released.
//
//   oxmeta_dlopen_sweep LIBRARY FIXTURE_DIR [--no-failures]
//
// With --no-failures (no shim needed) each case runs once, unfailed.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "oxmeta_dl.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

oxmeta_dl ox;

// ------------------------------------------------------------ the shim

struct shim_controls {
    void (*track)(int on) = nullptr;
    void (*fail_from)(long n, int onward) = nullptr;
    int (*hit)() = nullptr;
    long (*live)() = nullptr;

    bool find() {
#if defined(_WIN32)
        return false;
#else
        track = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "oxshim_track"));
        fail_from = reinterpret_cast<void (*)(long, int)>(dlsym(RTLD_DEFAULT, "oxshim_fail_from"));
        hit = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "oxshim_hit"));
        live = reinterpret_cast<long (*)()>(dlsym(RTLD_DEFAULT, "oxshim_live"));
        return track && fail_from && hit && live;
#endif
    }
};
shim_controls shim;

// ------------------------------------------------------------ state digests

// FNV-1a over what the accessors show; reads only, allocates nothing.
struct digest {
    uint64_t h = 1469598103934665603ull;
    void add(const char *text) {
        for (const char *p = text; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
        h = (h ^ 0xFF) * 1099511628211ull;
    }
    void add(long long n) {
        for (int i = 0; i < 8; ++i) h = (h ^ static_cast<unsigned char>(n >> (8 * i))) * 1099511628211ull;
    }
};

enum group : unsigned { kResults = 1, kPaging = 2, kSeasons = 4, kLastEpisode = 8 };

struct snapshot {
    uint64_t results, paging, seasons, last_episode;
    int count;

    uint64_t of(group g) const {
        switch (g) {
            case kResults: return results;
            case kPaging: return paging;
            case kSeasons: return seasons;
            default: return last_episode;
        }
    }
};

int g_null_texts = 0;  // texts a getter handed out as NULL
void add_text(digest &d, const char *text) {
    if (!text) {
        ++g_null_texts;
        text = "";
    }
    d.add(text);
}

snapshot take_snapshot() {
    snapshot s{};
    digest results;
    s.count = ox.oxmeta_result_count();
    results.add(s.count);
    for (int i = 0; i < s.count + 1; ++i) {  // one past the end must answer too
        for (auto get : {ox.oxmeta_result_source, ox.oxmeta_result_id, ox.oxmeta_result_imdb_id,
                         ox.oxmeta_result_title, ox.oxmeta_result_original_title, ox.oxmeta_result_overview,
                         ox.oxmeta_result_media_type, ox.oxmeta_result_poster_path,
                         ox.oxmeta_result_backdrop_path, ox.oxmeta_result_feed_url})
            add_text(results, get(i));
        results.add(ox.oxmeta_result_year(i));
        results.add(ox.oxmeta_result_rating_permille(i));
        results.add(ox.oxmeta_result_popularity_permille(i));
        results.add(ox.oxmeta_result_season_number(i));
        results.add(ox.oxmeta_result_episode_number(i));
    }
    // The episodes a match found go with its candidates.
    const int episodes = ox.oxmeta_match_episode_count();
    results.add(episodes);
    for (int i = 0; i < episodes + 1; ++i) {
        add_text(results, ox.oxmeta_match_episode_title_at(i));
        add_text(results, ox.oxmeta_match_episode_id_at(i));
        results.add(ox.oxmeta_match_episode_season(i));
        results.add(ox.oxmeta_match_episode_number(i));
    }
    s.results = results.h;
    digest paging;
    paging.add(ox.oxmeta_total_pages());
    paging.add(ox.oxmeta_total_results());
    paging.add(ox.oxmeta_page());
    s.paging = paging.h;
    digest seasons;
    const int n = ox.oxmeta_tv_season_count();
    seasons.add(n);
    for (int i = 0; i < n + 1; ++i) {
        seasons.add(ox.oxmeta_tv_season_number(i));
        add_text(seasons, ox.oxmeta_tv_season_poster(i));
    }
    s.seasons = seasons.h;
    digest last;
    last.add(ox.oxmeta_tv_last_episode_season());
    last.add(ox.oxmeta_tv_last_episode_number());
    s.last_episode = last.h;
    // The diagnostics answer too (their values change with every request).
    digest ignored;
    add_text(ignored, ox.oxmeta_last_error());
    add_text(ignored, ox.oxmeta_last_url());
    add_text(ignored, ox.oxmeta_result_json());
    for (int i = 0; i <= ox.oxmeta_warning_count(); ++i) add_text(ignored, ox.oxmeta_warning(i));
    return s;
}

// ------------------------------------------------------------ the cases

std::string g_fixture_dir;
std::string read_fixture(const char *name) {
    std::ifstream in(g_fixture_dir + "/" + name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "missing fixture %s\n", name);
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replies, read before any run so that no run allocates for them.
struct replies {
    std::string listing, tv_detail, podcasts, mixed;
} g_replies;

#define KEYS "api_key=KEY&language=en-US"

// The earlier show: two seasons, last aired episode 2x10.
constexpr const char *kPreviousShow =
    R"({"id":1399,"name":"Earlier Show","first_air_date":"2011-04-17","seasons":[)"
    R"({"season_number":1,"poster_path":"/s1.jpg"},{"season_number":2,"poster_path":"/s2.jpg"}],)"
    R"("last_episode_to_air":{"season_number":2,"episode_number":10}})";
// The earlier listing: page 2 of 9, 170 results, three items.
constexpr const char *kPreviousListing =
    R"({"page":2,"total_pages":9,"total_results":170,"results":[)"
    R"({"id":11,"media_type":"movie","title":"Old One","release_date":"1977-05-25","vote_average":8.2},)"
    R"({"id":12,"media_type":"tv","name":"Old Two","first_air_date":"1999-01-01","poster_path":"/o2.jpg"},)"
    R"({"id":13,"media_type":"person","name":"Old Three"}]})";

// Every route the cases use, scripted into the fake transport.
void script_routes() {
    constexpr const char *kFind =
        R"({"movie_results":[{"id":603,"title":"The Matrix"}],"tv_results":[{"id":1,"name":"T"}]})";
    constexpr const char *kIds = R"({"imdb_id":"tt0133093"})";
    constexpr const char *kEpisode =
        R"({"id":1950937,"name":"Chapter 1: The Mandalorian","air_date":"2019-11-12","season_number":1,)"
        R"("episode_number":1,"still_path":"/s.jpg","vote_average":7.9,"overview":"A bounty hunter."})";
    constexpr const char *kSeason =
        R"({"_id":"5d1a1b7b9a3c4900110b4c5e","air_date":"2019-11-12","name":"Season 1","id":130233,)"
        R"("season_number":1,"episodes":[{"id":1950937,"name":"Chapter 1: The Mandalorian",)"
        R"("air_date":"2019-11-12","season_number":1,"episode_number":1,"still_path":"/s.jpg",)"
        R"("vote_average":7.9,"overview":"A bounty hunter."},{"id":1950938,"name":"Chapter 2: The Child",)"
        R"("air_date":"2019-11-15","season_number":1,"episode_number":2,"still_path":"/t.jpg",)"
        R"("vote_average":7.8,"overview":"Jawas."}]})";
    constexpr const char *kMovie =
        R"({"id":11,"title":"Star Wars","release_date":"1977-05-25","imdb_id":"tt0076759",)"
        R"("external_ids":{"imdb_id":"tt0076759"}})";
    constexpr const char *kOmdb =
        R"({"Title":"Film","Year":"2001","imdbID":"tt1","Plot":"P","Type":"movie","imdbRating":"7.1",)"
        R"("Runtime":"95 min","imdbVotes":"1,234","Response":"True"})";
    constexpr const char *kOmdbMissing = R"({"Response":"False","Error":"Movie not found!"})";
    const struct {
        const char *url;
        const char *body;
    } routes[] = {
        {"https://api.themoviedb.org/3/tv/1399?" KEYS, kPreviousShow},
        {"https://api.themoviedb.org/3/tv/on_the_air?page=2&" KEYS, kPreviousListing},
        {"https://api.themoviedb.org/3/search/multi?query=star%20wars&page=1&include_adult=false&" KEYS,
         g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/discover/movie?sort_by=popularity.desc&include_adult=false"
         "&include_video=false&page=1&year=1999&" KEYS,
         g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
         "&include_null_first_air_dates=false&include_adult=true&" KEYS,
         g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/tv/airing_today?page=1&" KEYS, g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/tv/82856?" KEYS, g_replies.tv_detail.c_str()},
        {"https://api.themoviedb.org/3/find/tt0133093?external_source=imdb_id&" KEYS, kFind},
        {"https://api.themoviedb.org/3/movie/11/external_ids?" KEYS, kIds},
        {"https://api.themoviedb.org/3/search/movie?query=Star%20Wars&include_adult=false&page=1&year=1977&" KEYS,
         g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/search/tv?query=The%20Mandalorian&include_adult=false&page=1&" KEYS,
         g_replies.listing.c_str()},
        {"https://api.themoviedb.org/3/tv/82856/season/1/episode/1?" KEYS, kEpisode},
        {"https://api.themoviedb.org/3/tv/82856/season/1?" KEYS, kSeason},
        {"https://api.themoviedb.org/3/tv/82856/season/2?api_key=KEY&language=fr-FR",
         R"({"_id":"a","season_number":2,"episodes":[{"id":2426371,"name":"","overview":"","season_number":2,"episode_number":1}]})"},
        {"https://api.themoviedb.org/3/tv/82856/season/2?api_key=KEY&language=en-US",
         R"({"_id":"b","season_number":2,"episodes":[{"id":2426371,"name":"Chapter 9: The Marshal","overview":"Mos Pelgo.","season_number":2,"episode_number":1}]})"},
        {"https://api.themoviedb.org/3/movie/11?append_to_response=external_ids&" KEYS, kMovie},
        {"https://www.omdbapi.com/?i=tt1&apikey=KEY", kOmdb},
        {"https://www.omdbapi.com/?t=Film&apikey=KEY", kOmdbMissing},
        {"https://www.omdbapi.com/?i=tt1&Season=2&apikey=KEY", kOmdb},
        {"https://itunes.apple.com/search?term=science&media=podcast&limit=200&country=US",
         g_replies.podcasts.c_str()},
        {"https://itunes.apple.com/lookup?id=909253", g_replies.mixed.c_str()},
    };
    for (const auto &r : routes) ox.ox_fake_set("GET", r.url, 200, r.body);
    ox.ox_fake_fail("GET", "https://api.themoviedb.org/3/tv/2?" KEYS, "connection reset");
}

// The previous state every case starts from.
bool setup() {
    if (ox.oxmeta_use_fake() != OXMETA_OK) return false;
    if (ox.oxmeta_tmdb_set_key("KEY") != OXMETA_OK || ox.oxmeta_omdb_set_key("KEY") != OXMETA_OK) return false;
    script_routes();
    return ox.oxmeta_tmdb_tv_detail(1399) == OXMETA_OK && ox.oxmeta_tmdb_tv_on_the_air(2) == OXMETA_OK;
}

struct sweep_case {
    const char *name;
    int (*call)();
    unsigned changes;  // the groups the call may change
    int full_count;    // results after an unfailed run
    int expected;      // the status of an unfailed run
};

int omdb_readers() {
    // Field readers on the last body of an OMDb lookup made before.
    if (ox.oxmeta_omdb_by_imdb("tt1") != OXMETA_OK) return OXMETA_E_OOM;
    const char *field = ox.oxmeta_omdb_field("Title");
    if (!field) return -100;
    char title[16] = {};
    std::strncpy(title, field, sizeof title - 1);  // the next reader reuses the field's buffer
    const int minutes = ox.oxmeta_omdb_runtime_minutes(nullptr);
    int64_t votes = 0;
    const int read = ox.oxmeta_omdb_votes(&votes);
    if (*title && std::strcmp(title, "Film") != 0) return -101;
    if (minutes != 95 && minutes != -1) return -102;
    if ((read == 0) != (votes == 1234)) return -103;
    return *title && minutes == 95 && read == 0 ? OXMETA_OK : OXMETA_E_OOM;
}

int setters() {
    for (int (*set)(const char *) : {ox.oxmeta_tmdb_set_key, ox.oxmeta_omdb_set_key, ox.oxmeta_tmdb_set_bearer,
                                     ox.oxmeta_set_language, ox.oxmeta_set_language_fallback}) {
        const int rc = set("NEW");
        if (rc != OXMETA_OK) return rc;
    }
    return OXMETA_OK;
}

int fake_scripting() {
    int rc = ox.ox_fake_set("GET", "https://h/new", 201, "x");
    if (rc == OXMETA_OK) rc = ox.ox_fake_fail("GET", "https://h/down", "down");
    if (rc == OXMETA_OK && ox.ox_fake_calls("GET", nullptr) < 2) rc = -104;  // the setup's two requests
    return rc;
}

const sweep_case kCases[] = {
    {"tmdb_search_multi", [] { return ox.oxmeta_tmdb_search_multi("star wars", 1); }, kResults | kPaging, 20,
     OXMETA_OK},
    {"tmdb_discover_movie", [] { return ox.oxmeta_tmdb_discover_movie(1, 1999); }, kResults | kPaging, 20,
     OXMETA_OK},
    {"tmdb_discover_tv", [] { return ox.oxmeta_tmdb_discover_tv(1, 1, 0); }, kResults | kPaging, 20, OXMETA_OK},
    {"tmdb_airing_today", [] { return ox.oxmeta_tmdb_tv_airing_today(1); }, kResults | kPaging, 20, OXMETA_OK},
    {"tmdb_tv_detail", [] { return ox.oxmeta_tmdb_tv_detail(82856); }, kResults | kSeasons | kLastEpisode, 1,
     OXMETA_OK},
    {"tmdb_find_by_imdb", [] { return ox.oxmeta_tmdb_find_by_imdb("tt0133093"); }, kResults, 2, OXMETA_OK},
    {"tmdb_external_ids", [] { return ox.oxmeta_tmdb_external_ids(11, 0); }, kResults, 3, OXMETA_OK},
    {"tmdb_search_movie", [] { return ox.oxmeta_tmdb_search_movie("Star Wars", 1977, 1); }, kResults | kPaging, 20,
     OXMETA_OK},
    {"tmdb_tv_episode", [] { return ox.oxmeta_tmdb_tv_episode(82856, 1, 1); }, kResults, 1, OXMETA_OK},
    {"tmdb_tv_season",
     [] {
         const int rc = ox.oxmeta_tmdb_tv_season(82856, 1);
         if (rc == OXMETA_OK && (ox.oxmeta_result_season_number(1) != 1 || ox.oxmeta_result_episode_number(1) != 2))
             return -107;
         return rc;
     },
     kResults, 2, OXMETA_OK},
    {"tmdb_tv_season_fallback",
     [] {
         // In French, where TMDb has no text, English fills it.
         int rc = ox.oxmeta_set_language("fr-FR");
         if (rc == OXMETA_OK) rc = ox.oxmeta_set_language_fallback("en-US");
         // The fallback request failing otherwise than out of memory (the
         // fake transport's own copy of the body) leaves the name empty and
         // says so in a warning.
         const int warnings = ox.oxmeta_warning_count();
         if (rc == OXMETA_OK) rc = ox.oxmeta_tmdb_tv_season(82856, 2);
         if (rc == OXMETA_OK && std::strcmp(ox.oxmeta_result_title(0), "Chapter 9: The Marshal") != 0 &&
             ox.oxmeta_warning_count() == warnings)
             rc = -108;
         ox.oxmeta_set_language_fallback(nullptr);
         ox.oxmeta_set_language(nullptr);
         return rc;
     },
     kResults, 1, OXMETA_OK},
    {"tmdb_movie_detail", [] { return ox.oxmeta_tmdb_movie_detail(11); }, kResults, 1, OXMETA_OK},
    {"tmdb_match_movie", [] { return ox.oxmeta_tmdb_match("Star.Wars.1977.1080p.BluRay.x264.mkv"); }, kResults, 20,
     OXMETA_OK},
    {"tmdb_match_episode",
     [] {
         const int rc = ox.oxmeta_tmdb_match("The.Mandalorian.S01E01E02.720p.mkv");
         if (rc == OXMETA_OK && (std::strcmp(ox.oxmeta_match_episode_title(), "Chapter 1: The Mandalorian") != 0 ||
                                 ox.oxmeta_match_episode_count() != 2 || ox.oxmeta_match_episode_number(1) != 2 ||
                                 std::strcmp(ox.oxmeta_match_episode_title_at(1), "Chapter 2: The Child") != 0))
             return -106;
         return rc;
     },
     kResults, 20, OXMETA_OK},
    {"tmdb_transport_failure", [] { return ox.oxmeta_tmdb_tv_detail(2); }, 0, 3, OXMETA_E_TRANSPORT},
    {"tmdb_image_url",
     [] {
         const char *first = ox.oxmeta_tmdb_image_url("/p.jpg", "w500");
         return first && *first ? OXMETA_OK : -105;
     },
     0, 3, OXMETA_OK},
    {"omdb_by_imdb", [] { return ox.oxmeta_omdb_by_imdb("tt1"); }, kResults, 1, OXMETA_OK},
    {"omdb_by_title", [] { return ox.oxmeta_omdb_by_title("Film"); }, kResults, 1, OXMETA_E_NOT_FOUND},
    {"omdb_season", [] { return ox.oxmeta_omdb_season("tt1", 2); }, kResults, 1, OXMETA_OK},
    {"omdb_readers", omdb_readers, kResults, 1, OXMETA_OK},
    {"itunes_search", [] { return ox.oxmeta_itunes_search("science", nullptr, 201, nullptr); },
     kResults | kPaging, 5, OXMETA_OK},
    {"itunes_lookup", [] { return ox.oxmeta_itunes_lookup(909253); }, kResults | kPaging, 6, OXMETA_OK},
    {"setters", setters, 0, 3, OXMETA_OK},
    {"fake_scripting", fake_scripting, 0, 3, OXMETA_OK},
};

// ------------------------------------------------------------ one run

struct run_outcome {
    bool hit = false;
    int failures = 0;  // problems found, each already printed
    int status = 0;
};

#define PROBLEM(...)                                       \
    do {                                                   \
        std::fprintf(stderr, "  %s, run %ld%s: ", c.name, n, onward ? " onward" : ""); \
        std::fprintf(stderr, __VA_ARGS__);                 \
        std::fprintf(stderr, "\n");                        \
        ++out.failures;                                    \
    } while (0)

bool documented(int status) { return status <= OXMETA_OK && status >= OXMETA_E_OOM; }

// Runs the case failing allocation n (n < 0: none) and checks what it left.
void run_once(const sweep_case &c, long n, bool onward, run_outcome &out) {
    const bool shimmed = shim.track != nullptr;
    if (shimmed) shim.track(1);
    if (!setup()) {
        std::fprintf(stderr, "  %s: the previous state could not be set up\n", c.name);
        ++out.failures;
        return;
    }
    const snapshot before = take_snapshot();
    if (shimmed) shim.fail_from(n, onward ? 1 : 0);
    out.status = c.call();
    if (shimmed) {
        out.hit = shim.hit() != 0;
        shim.fail_from(-1, 0);
    }
    const snapshot after = take_snapshot();
    const int status = out.status;

    if (!documented(status)) PROBLEM("status %d is not a documented one", status);
    if (!out.hit && status != c.expected) PROBLEM("status %d, expected %d: %s", status, c.expected, ox.oxmeta_last_error());
    for (group g : {kResults, kPaging, kSeasons, kLastEpisode}) {
        if (!(c.changes & g) && before.of(g) != after.of(g)) PROBLEM("changed state it must not touch (group %u)", g);
    }
    const bool changed_any = [&] {
        for (group g : {kResults, kPaging, kSeasons, kLastEpisode})
            if (before.of(g) != after.of(g)) return true;
        return false;
    }();
    if (status == OXMETA_E_TRANSPORT && changed_any) PROBLEM("a failed request changed the state");
    if (status == OXMETA_OK && !out.hit && after.count != c.full_count)
        PROBLEM("%d results, expected %d", after.count, c.full_count);
    if (status == OXMETA_E_OOM && changed_any) {
        // Out of memory while storing: the results are cut short, never
        // padded, and what the call must keep is kept.
        if (after.count >= c.full_count && (c.changes & kResults) && c.full_count > 1)
            PROBLEM("oom, yet %d results stored", after.count);
        if (std::strcmp(c.name, "tmdb_tv_detail") == 0) {
            if (before.last_episode != after.last_episode) PROBLEM("oom replaced the last-episode numbers");
            if (after.count != 0 || ox.oxmeta_tv_season_count() != 0) PROBLEM("oom left a show or seasons");
        }
        if (std::strcmp(c.name, "tmdb_external_ids") == 0 && before.results != after.results)
            PROBLEM("oom changed result 0");
    }
    if (g_null_texts) {
        PROBLEM("%d texts were NULL", g_null_texts);
        g_null_texts = 0;
    }

    ox.oxmeta_shutdown();
    ox.oxmeta_set_io(nullptr);
    if (shimmed) {
        const long live = shim.live();
        shim.track(0);
        if (live != 0) PROBLEM("%ld blocks still allocated after oxmeta_shutdown", live);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LIBRARY FIXTURE_DIR [--no-failures]\n", argv[0]);
        return 2;
    }
    const bool sweep = !(argc > 3 && std::strcmp(argv[3], "--no-failures") == 0);
    if (sweep && !shim.find()) {
        std::fprintf(stderr, "the allocator shim is not loaded (LD_PRELOAD=liboxmeta_allocshim.so)\n");
        return 2;
    }
    if (!ox.open(argv[1])) return 1;
    g_fixture_dir = argv[2];
    g_replies = {read_fixture("tmdb_search_multi.json"), read_fixture("tmdb_tv_detail.json"),
                 read_fixture("itunes_podcast_search.json"), read_fixture("itunes_mixed.json")};

    int problems = 0;
    long runs = 0;
    long injected = 0;
    for (const auto &c : kCases) {
        if (!sweep) {
            run_outcome out;
            std::thread([&] { run_once(c, -1, false, out); }).join();
            problems += out.failures;
            ++runs;
            continue;
        }
        for (const bool onward : {false, true}) {
            long n = 0;
            int oom = 0;
            for (;; ++n) {
                run_outcome out;
                // A new thread each run: the first use of anything
                // per-thread in the library happens inside the run.
                std::thread([&] { run_once(c, n, onward, out); }).join();
                problems += out.failures;
                ++runs;
                if (out.status == OXMETA_E_OOM) ++oom;
                if (!out.hit || out.failures > 20) break;
                ++injected;
            }
            if (n < 1 && std::strcmp(c.name, "tmdb_image_url") != 0) {
                std::fprintf(stderr, "  %s: the case allocated nothing: is the shim working?\n", c.name);
                ++problems;
            }
            std::printf("%-24s %-7s %4ld allocations failed in turn, %3d runs out of memory\n", c.name,
                        onward ? "onward" : "once", n, oom);
        }
    }
    std::printf("%ld runs, %ld with a failed allocation, %d problems\n", runs, injected, problems);
    return problems == 0 ? 0 : 1;
}
