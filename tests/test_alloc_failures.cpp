// Allocation failures, injected one at a time: each scenario is run again
// and again, failing its first, second, third ... allocation (and, in the
// sweep, also every allocation after the failing one), until it runs
// through without reaching the injected failure. Every run must end in a
// consistent state with a truthful status and, after shutdown, have released
// every block it allocated. The library's malloc, realloc and free are
// routed here with the linker's --wrap.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <cstdint>
#include <string>

#include "core/oxmeta_state.h"
#include "support.h"

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_realloc(void *p, size_t size);
extern "C" void __real_free(void *p);

namespace {

std::atomic<long> g_countdown{-1};  // allocations left before the failure
std::atomic<bool> g_hit{false};
std::atomic<bool> g_sticky{false};  // once one fails, every later one fails too
std::atomic<long> g_live{0};        // blocks allocated through here and not yet freed

bool inject() {
    long left = g_countdown.load();
    if (left < 0) return false;
    if (left == 0 && g_hit && g_sticky) return true;
    g_countdown = left - 1;
    if (left != 0) return false;
    if (g_sticky) g_countdown = 0;
    g_hit = true;
    return true;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
    if (inject()) return nullptr;
    void *p = __real_malloc(size);
    if (p) ++g_live;
    return p;
}
extern "C" void *__wrap_realloc(void *p, size_t size) {
    if (inject()) return nullptr;
    void *q = __real_realloc(p, size);
    if (q && !p) ++g_live;
    return q;
}
extern "C" void __wrap_free(void *p) {
    if (p) --g_live;
    __real_free(p);
}

namespace {

enum class failing { one, onward };

// Runs `scenario` failing allocation n for n = 0, 1, ... (with `onward`,
// also every allocation after it) and `check` after each run; returns how
// many failures were injected. After each run the library is shut down,
// and every block the run allocated must have been released.
int for_each_failure(const std::function<void()> &setup, const std::function<int()> &scenario,
                     const std::function<void(int)> &check, failing mode = failing::one) {
    for (long n = 0;; ++n) {
        oxmeta_shutdown();
        const long live_before = g_live;
        setup();
        g_hit = false;
        g_sticky = mode == failing::onward;
        g_countdown = n;
        const int status = scenario();
        g_countdown = -1;
        const bool hit = g_hit;
        {
            SCOPED_TRACE("failing allocation " + std::to_string(n) +
                         (mode == failing::onward ? " and every later one" : ""));
            if (hit) check(status);
            oxmeta_shutdown();
            EXPECT_EQ(g_live - live_before, 0) << "blocks left after shutdown";
        }
        if (!hit) return static_cast<int>(n);
    }
}

using AllocFailureTest = LibraryTest;

const char kUrl[] = "https://www.omdbapi.com/?i=tt1&apikey=KEY";
const char kBody[] = R"({"Title":"Film","Year":"2001","imdbID":"tt1","Plot":"P","Type":"movie","imdbRating":"7.1"})";

TEST_F(AllocFailureTest, OmdbLookup) {
    int seen[3] = {0, 0, 0};  // OK, OOM, transport failure
    const int injected = for_each_failure(
        [] {
            reset_library();
            oxmeta_use_fake();
            oxmeta_omdb_set_key("KEY");
            ox_fake_set("GET", kUrl, 200, kBody);
        },
        [] { return oxmeta_omdb_by_imdb("tt1"); },
        [&](int status) {
            switch (status) {
                case OXMETA_OK:  // a failed copy of an optional field is tolerated
                    ++seen[0];
                    EXPECT_EQ(oxmeta_result_count(), 1);
                    EXPECT_STREQ(oxmeta_result_title(0), "Film");
                    break;
                case OXMETA_E_OOM:
                    ++seen[1];
                    EXPECT_EQ(oxmeta_result_count(), 0);
                    break;
                case OXMETA_E_TRANSPORT:  // the fake could not copy its reply
                    ++seen[2];
                    EXPECT_EQ(oxmeta_result_count(), 0);
                    EXPECT_STREQ(oxmeta_result_json(), "");
                    break;
                default:
                    ADD_FAILURE() << "status " << status;
            }
            // A message, when one could be stored, is about the failure.
            const std::string message = oxmeta_last_error();
            if (status == OXMETA_E_OOM && !message.empty()) {
                EXPECT_EQ(message.rfind("oom", 0), 0u) << message;
            }
        });
    EXPECT_GT(injected, 5);
    EXPECT_GT(seen[1], 0);
    EXPECT_GT(seen[2], 0);
}

TEST_F(AllocFailureTest, HostBodyThatCannotBeStoredIsOom) {
    HostTransport host;
    host.body = "{}";
    int oom = 0;
    const int injected = for_each_failure(
        [&] {
            reset_library();
            oxmeta_set_io(&host.table);
        },
        [] {
            ox_buf body{};
            const int status = ox_http_get("https://h/x", &body);
            ox_buf_free(&body);
            return status;
        },
        [&](int status) {
            EXPECT_TRUE(status == OXMETA_OK || status == OXMETA_E_OOM) << status;
            if (status == OXMETA_E_OOM) {
                ++oom;
                EXPECT_STREQ(oxmeta_last_error(), "oom storing response body");
            }
        });
    EXPECT_GE(injected, 2);
    EXPECT_GT(oom, 0);
}

TEST_F(AllocFailureTest, ScriptingRoutes) {
    for_each_failure(
        [] {
            reset_library();
            oxmeta_use_fake();
            for (int i = 0; i < 8; ++i) ox_fake_set("GET", ("https://h/" + std::to_string(i)).c_str(), 200, "{}");
        },
        [] {
            const int a = ox_fake_set("GET", "https://h/new", 201, "x");
            const int b = ox_fake_fail("GET", "https://h/8", "down");
            return a != OXMETA_OK ? a : b;
        },
        [](int status) {
            EXPECT_TRUE(status == OXMETA_OK || status == OXMETA_E_OOM) << status;
            // Whatever was stored still answers requests without crashing.
            ox_buf body{};
            for (const char *url : {"https://h/new", "https://h/8", "https://h/0"}) {
                (void)ox_http_get(url, &body);
                ox_buf_free(&body);
            }
            EXPECT_LE(ox_fake_calls(nullptr, nullptr), 3);
        });
}

TEST_F(AllocFailureTest, WarningsAndErrors) {
    for_each_failure(
        [] {
            reset_library();
            for (int i = 0; i < 8; ++i) ox_add_warning("w%d", i);
        },
        [] {
            ox_add_warning("ninth");
            ox_set_error("an error");
            return 0;
        },
        [](int) {
            const int n = oxmeta_warning_count();
            EXPECT_TRUE(n == 8 || n == 9) << n;
            for (int i = 0; i < n; ++i) EXPECT_NE(oxmeta_warning(i), nullptr);
            const std::string error = oxmeta_last_error();
            EXPECT_TRUE(error.empty() || error == "an error") << error;
        });
}

TEST_F(AllocFailureTest, MaskedUrlNeverLeaksTheKey) {
    const char url[] = "https://h/3/search?query=x&api_key=SECRET&language=en&apikey=SECRET2";
    for_each_failure([] {},
                     [&] {
                         char *masked = ox_redact_url(url);
                         const bool leaked = masked && std::strstr(masked, "SECRET");
                         std::free(masked);
                         return leaked ? 1 : 0;
                     },
                     [](int leaked) { EXPECT_EQ(leaked, 0); });
}

// Every provider operation on a realistic reply: each run ends in success
// or a truthful failure, with a store that reads back whole.
struct OperationCase {
    const char *name;
    const char *url;
    const char *fixture;  // file under tests/fixtures, or null for body
    const char *body;
    std::function<int()> call;
    int full_count;  // results after a run without failures
};

void expect_store_readable() {
    const int n = oxmeta_result_count();
    for (int i = 0; i < n; ++i) {
        for (auto get : {oxmeta_result_source, oxmeta_result_id, oxmeta_result_imdb_id, oxmeta_result_title,
                         oxmeta_result_original_title, oxmeta_result_overview, oxmeta_result_media_type,
                         oxmeta_result_poster_path, oxmeta_result_backdrop_path, oxmeta_result_feed_url})
            EXPECT_NE(get(i), nullptr);
    }
    for (int i = 0; i < oxmeta_tv_season_count(); ++i) EXPECT_NE(oxmeta_tv_season_poster(i), nullptr);
}

TEST_F(AllocFailureTest, EveryOperationOnRealisticReplies) {
    const std::string tmdb = "https://api.themoviedb.org/3";
    const std::string keys = "api_key=KEY&language=en-US";
    const std::string search = tmdb + "/search/multi?query=star%20wars&page=1&include_adult=false&" + keys;
    const std::string discover_tv = tmdb + "/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
                                           "&include_null_first_air_dates=false&include_adult=true&" + keys;
    const std::string tv = tmdb + "/tv/82856?" + keys;
    const std::string find = tmdb + "/find/tt0133093?external_source=imdb_id&" + keys;
    const std::string ids = tmdb + "/movie/603/external_ids?" + keys;
    const std::string omdb = "https://www.omdbapi.com/?i=tt1&apikey=KEY";
    const std::string omdb_title = "https://www.omdbapi.com/?t=Film&apikey=KEY";
    const std::string omdb_season = "https://www.omdbapi.com/?i=tt1&Season=2&apikey=KEY";
    const std::string podcasts = "https://itunes.apple.com/search?term=science&media=podcast&limit=200&country=US";
    const std::string mixed = "https://itunes.apple.com/lookup?id=909253";
    const OperationCase cases[] = {
        {"search_multi", search.c_str(), "tmdb_search_multi.json", nullptr,
         [] { return oxmeta_tmdb_search_multi("star wars", 1); }, 20},
        {"discover_tv", discover_tv.c_str(), "tmdb_search_multi.json", nullptr,
         [] { return oxmeta_tmdb_discover_tv(1, 1, 0); }, 20},
        {"tv_detail", tv.c_str(), "tmdb_tv_detail.json", nullptr, [] { return oxmeta_tmdb_tv_detail(82856); }, 1},
        {"find_by_imdb", find.c_str(), nullptr,
         R"({"movie_results":[{"id":603,"title":"The Matrix"}],"tv_results":[{"id":1,"name":"T"}]})",
         [] { return oxmeta_tmdb_find_by_imdb("tt0133093"); }, 2},
        {"external_ids", ids.c_str(), nullptr, R"({"imdb_id":"tt0133093"})",
         [] { return oxmeta_tmdb_external_ids(603, 0); }, 1},
        {"omdb_by_imdb", omdb.c_str(), nullptr, kBody, [] { return oxmeta_omdb_by_imdb("tt1"); }, 1},
        {"omdb_by_title", omdb_title.c_str(), nullptr, R"({"Response":"False","Error":"Movie not found!"})",
         [] {
             const int status = oxmeta_omdb_by_title("Film");
             return status == OXMETA_E_NOT_FOUND ? OXMETA_OK : status;  // not found is this reply's success
         },
         1},
        {"omdb_season", omdb_season.c_str(), nullptr, kBody, [] { return oxmeta_omdb_season("tt1", 2); }, 1},
        {"itunes_search", podcasts.c_str(), "itunes_podcast_search.json", nullptr,
         [] { return oxmeta_itunes_search("science", nullptr, 201, nullptr); }, 5},
        {"itunes_lookup", mixed.c_str(), "itunes_mixed.json", nullptr, [] { return oxmeta_itunes_lookup(909253); },
         6},
        // The field readers, on the last body of a lookup made before.
        {"omdb_readers", omdb.c_str(), nullptr, R"({"Title":"Film","Runtime":"95 min","imdbVotes":"1,234"})",
         [] {
             const std::string title = oxmeta_omdb_field("Title");
             const int minutes = oxmeta_omdb_runtime_minutes(nullptr);
             int64_t votes = 0;
             const int read = oxmeta_omdb_votes(&votes);
             // Out of memory, a reader finds nothing; otherwise it finds the value.
             if (title != "Film" && !title.empty()) return -100;
             if (minutes != 95 && minutes != -1) return -101;
             if ((read == 0) != (votes == 1234)) return -102;
             return title.empty() || minutes == -1 || read != 0 ? OXMETA_E_OOM : OXMETA_OK;
         },
         1},
    };
    for (const failing mode : {failing::one, failing::onward}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (mode == failing::onward ? ", onward" : ""));
            const std::string body = c.fixture ? read_fixture(c.fixture) : c.body;
            const bool readers = std::string(c.name) == "omdb_readers";
            int oom = 0;
            const int injected = for_each_failure(
                [&] {
                    reset_library();
                    oxmeta_use_fake();
                    oxmeta_tmdb_set_key("KEY");
                    oxmeta_omdb_set_key("KEY");
                    ox_fake_set("GET", c.url, 200, body.c_str());
                    if (readers) {
                        ASSERT_EQ(oxmeta_omdb_by_imdb("tt1"), OXMETA_OK);
                    }
                },
                c.call,
                [&](int status) {
                    expect_store_readable();
                    const std::string message = oxmeta_last_error();
                    switch (status) {
                        case OXMETA_OK:
                            EXPECT_EQ(oxmeta_result_count(), c.full_count);
                            break;
                        case OXMETA_E_OOM:
                            ++oom;
                            if (!message.empty()) {
                                EXPECT_EQ(message.rfind("oom", 0), 0u) << message;
                            }
                            break;
                        case OXMETA_E_TRANSPORT:  // the fake could not copy its reply
                            EXPECT_EQ(oxmeta_result_count(), 0);
                            break;
                        default:
                            ADD_FAILURE() << "status " << status << ": " << message;
                    }
                },
                mode);
            EXPECT_GT(injected, readers ? 1 : 3);
            EXPECT_GT(oom, 0);
        }
    }
}

TEST_F(AllocFailureTest, SettersKeepThePreviousValue) {
    struct Setter {
        const char *name;
        int (*set)(const char *);
    };
    const Setter setters[] = {
        {"tmdb key", oxmeta_tmdb_set_key},
        {"omdb key", oxmeta_omdb_set_key},
        {"bearer", oxmeta_tmdb_set_bearer},
        {"language", oxmeta_set_language},
    };
    const std::string old_url = "https://api.themoviedb.org/3/tv/1?api_key=OLD&language=en-US";
    const std::string new_url = "https://api.themoviedb.org/3/tv/1?api_key=NEW&language=en-US";
    const std::string new_language = "https://api.themoviedb.org/3/tv/1?api_key=OLD&language=NEW";
    for (const failing mode : {failing::one, failing::onward}) {
        for (const auto &setter : setters) {
            SCOPED_TRACE(setter.name);
            int oom = 0;
            for_each_failure(
                [&] {
                    reset_library();
                    oxmeta_use_fake();
                    oxmeta_tmdb_set_key("OLD");
                    oxmeta_omdb_set_key("OLD");
                    for (const std::string *url : {&old_url, &new_url, &new_language})
                        ox_fake_set("GET", url->c_str(), 200, R"({"name":"S"})");
                },
                [&] { return setter.set("NEW"); },
                [&](int status) {
                    ASSERT_TRUE(status == OXMETA_OK || status == OXMETA_E_OOM) << status;
                    if (status == OXMETA_E_OOM) ++oom;
                    if (std::string(setter.name) == "omdb key" || std::string(setter.name) == "bearer") return;
                    // The request goes out with the value the setter reported.
                    EXPECT_EQ(oxmeta_tmdb_tv_detail(1), OXMETA_OK);
                    const bool took = std::string(setter.name) == "language"
                                          ? ox_fake_calls("GET", new_language.c_str()) == 1
                                          : ox_fake_calls("GET", new_url.c_str()) == 1;
                    EXPECT_EQ(took, status == OXMETA_OK);
                },
                mode);
            EXPECT_GT(oom, 0);
        }
    }
}

TEST_F(AllocFailureTest, TvDetailLeavesOutSeasonsItCannotStore) {
    const std::string url = "https://api.themoviedb.org/3/tv/82856?api_key=KEY&language=en-US";
    const std::string body = read_fixture("tmdb_tv_detail.json");
    bool short_of_seasons = false;
    for_each_failure(
        [&] {
            reset_library();
            oxmeta_use_fake();
            oxmeta_tmdb_set_key("KEY");
            ox_fake_set("GET", url.c_str(), 200, body.c_str());
        },
        [] { return oxmeta_tmdb_tv_detail(82856); },
        [&](int status) {
            if (status == OXMETA_OK) {
                ASSERT_EQ(oxmeta_result_count(), 1);
                EXPECT_LE(oxmeta_tv_season_count(), 4);
                if (oxmeta_tv_season_count() < 4) short_of_seasons = true;
                // The seasons kept are the reply's, in order.
                for (int i = 0; i < oxmeta_tv_season_count(); ++i) EXPECT_LE(i, oxmeta_tv_season_number(i));
                EXPECT_EQ(oxmeta_tv_last_episode_number(), 8);
            } else if (status == OXMETA_E_OOM) {
                EXPECT_EQ(oxmeta_result_count(), 0);
                EXPECT_EQ(oxmeta_tv_season_count(), 0);
            }
        });
    EXPECT_TRUE(short_of_seasons);
}

TEST_F(AllocFailureTest, ExternalIdsKeepResultZeroOnFailure) {
    const std::string search = "https://api.themoviedb.org/3/search/multi?query=q&page=1&include_adult=false"
                               "&api_key=KEY&language=en-US";
    const std::string ids = "https://api.themoviedb.org/3/movie/1/external_ids?api_key=KEY&language=en-US";
    int oom = 0;
    for_each_failure(
        [&] {
            reset_library();
            oxmeta_use_fake();
            oxmeta_tmdb_set_key("KEY");
            ox_fake_set("GET", search.c_str(), 200, R"({"results":[{"id":1,"title":"A"},{"id":2}]})");
            ox_fake_set("GET", ids.c_str(), 200, R"({"imdb_id":"tt0000001"})");
            ASSERT_EQ(oxmeta_tmdb_search_multi("q", 1), OXMETA_OK);
        },
        [] { return oxmeta_tmdb_external_ids(1, 0); },
        [&](int status) {
            ASSERT_EQ(oxmeta_result_count(), 2);
            if (status == OXMETA_OK) {
                EXPECT_STREQ(oxmeta_result_imdb_id(0), "tt0000001");
            }
            if (status == OXMETA_E_OOM) {
                ++oom;
                EXPECT_STREQ(oxmeta_result_imdb_id(0), "");
            }
        });
    EXPECT_GT(oom, 0);
}

}  // namespace
