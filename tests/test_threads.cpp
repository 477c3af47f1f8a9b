// Requests from several threads at once, with a transport that calls back
// into the library. Meant to run under ThreadSanitizer as well.
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/oxmeta_state.h"
#include "support.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRequestsPerThread = 200;

// Answers 200 for URLs of even-numbered threads and 500 for odd ones, after
// reading library state from inside the callback.
int busy_get(void *, const char *url, char **body, int *status, char **) {
    (void)oxmeta_last_error();
    (void)oxmeta_result_count();
    (void)oxmeta_last_http_code();
    (void)ox_fake_calls("GET", nullptr);
    const std::string u(url);
    const bool odd = u.find("i=odd") != std::string::npos;
    *status = odd ? 500 : 200;
    *body = malloc_copy("{\"Title\":\"T\",\"imdbID\":\"" + u.substr(u.find("i=") + 2, 8) + "\"}");
    return 0;
}

using ThreadTest = LibraryTest;

TEST_F(ThreadTest, ConcurrentLookupsMapTheirOwnStatus) {
    oxmeta_io table{nullptr, busy_get, nullptr, nullptr};
    oxmeta_set_io(&table);
    ASSERT_EQ(oxmeta_omdb_set_key("k"), OXMETA_OK);

    std::atomic<int> wrong{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::string id = (t % 2 ? "odd" : "even") + std::to_string(t);
            const int expected = t % 2 ? OXMETA_E_HTTP : OXMETA_OK;
            for (int i = 0; i < kRequestsPerThread; ++i)
                if (oxmeta_omdb_by_imdb(id.c_str()) != expected) ++wrong;
        });
    }
    // A reader and a scripting thread run alongside the requests.
    std::thread reader([&done] {
        while (!done) {
            const int n = oxmeta_result_count();
            for (int i = 0; i < n; ++i) (void)oxmeta_result_year(i);
            (void)oxmeta_warning_count();
            (void)oxmeta_total_pages();
        }
    });
    std::thread scripter([&done] {
        for (int i = 0; !done; ++i) {
            ox_fake_set("GET", ("u" + std::to_string(i % 16)).c_str(), 200, "{}");
            if (i % 64 == 63) ox_fake_reset();
        }
    });
    for (auto &th : threads) th.join();
    done = true;
    reader.join();
    scripter.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(oxmeta_result_count(), 1);
}

TEST_F(ThreadTest, ConcurrentRequestsThroughTheFakeTransport) {
    oxmeta_use_fake();
    for (int t = 0; t < kThreads; ++t)
        ox_fake_set("GET", ("https://h/" + std::to_string(t)).c_str(), 200 + t, "{}");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::string url = "https://h/" + std::to_string(t);
            for (int i = 0; i < kRequestsPerThread; ++i) {
                ox_buf body{};
                int status = 0;
                if (ox_http_get(url.c_str(), &body, &status) != OXMETA_OK || status != 200 + t) ++wrong;
                ox_buf_free(&body);
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ox_fake_calls("GET", nullptr), kThreads * kRequestsPerThread);
}

// Orders two requests so that the second one records its status while the
// first is between its own request and its status mapping: the first
// request's free callback waits until the second has released its texts.
struct InterleavingTransport {
    std::atomic<bool> first_waiting{false};
    std::atomic<bool> second_done{false};
    oxmeta_io table{this, get, nullptr, release};

    static int get(void *, const char *url, char **body, int *status, char **) {
        const bool first = std::string(url).find("i=first") != std::string::npos;
        *status = first ? 200 : 503;
        *body = malloc_copy(first ? "{\"Title\":\"First\"}" : "{}");
        return 0;
    }
    static void release(void *ctx, void *p) {
        auto *self = static_cast<InterleavingTransport *>(ctx);
        const bool first = p && std::string(static_cast<char *>(p)).find("First") != std::string::npos;
        std::free(p);
        if (first) {
            self->first_waiting = true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!self->second_done && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        } else if (p) {
            self->second_done = true;
        }
    }
};

TEST_F(ThreadTest, StatusOfAnotherThreadsRequestIsNotMapped) {
    InterleavingTransport transport;
    oxmeta_set_io(&transport.table);
    ASSERT_EQ(oxmeta_omdb_set_key("k"), OXMETA_OK);
    int first_status = 1;
    int second_status = 1;
    std::thread first([&] { first_status = oxmeta_omdb_by_imdb("first"); });
    while (!transport.first_waiting) std::this_thread::yield();
    second_status = oxmeta_omdb_by_imdb("second");
    first.join();
    ASSERT_TRUE(transport.second_done);
    EXPECT_EQ(second_status, OXMETA_E_HTTP);
    EXPECT_EQ(first_status, OXMETA_OK);
    EXPECT_EQ(oxmeta_last_http_code(), 503);  // the shared slot: last writer wins
}

// Answers TMDb pages of 3 or 20 items, iTunes replies of 7 items and a TV
// detail of 12 seasons, reading library state from inside the callback.
int listing_get(void *, const char *url, char **body, int *status, char **) {
    (void)oxmeta_result_count();
    (void)oxmeta_tv_season_count();
    const std::string u(url);
    auto items = [](int n, const char *member) {
        std::string list;
        for (int i = 0; i < n; ++i) list += (i ? "," : "") + ("{\"" + std::string(member) + "\":\"t\"}");
        return list;
    };
    std::string reply;
    if (u.find("itunes") != std::string::npos) {
        reply = "{\"results\":[" + items(7, "trackName") + "]}";
    } else if (u.find("/tv/1?") != std::string::npos) {
        std::string seasons;
        for (int i = 0; i < 12; ++i) seasons += (i ? "," : "") + ("{\"season_number\":" + std::to_string(i) + "}");
        reply = "{\"name\":\"Show\",\"seasons\":[" + seasons + "]}";
    } else {
        const int n = u.find("page=3") != std::string::npos ? 3 : 20;
        reply = "{\"page\":" + std::to_string(n) + ",\"results\":[" + items(n, "title") + "]}";
    }
    *status = 200;
    *body = malloc_copy(reply);
    return 0;
}

TEST_F(ThreadTest, ReadersSeeWholeResultSetsOnly) {
    oxmeta_io table{nullptr, listing_get, nullptr, nullptr};
    oxmeta_set_io(&table);
    ASSERT_EQ(oxmeta_tmdb_set_key("k"), OXMETA_OK);
    std::atomic<int> wrong{0};
    std::atomic<int> torn{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < kRequestsPerThread; ++i)
            if (oxmeta_tmdb_tv_airing_today(3) != OXMETA_OK) ++wrong;
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRequestsPerThread; ++i)
            if (oxmeta_tmdb_tv_on_the_air(20) != OXMETA_OK) ++wrong;
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRequestsPerThread; ++i)
            if (oxmeta_itunes_search("q", nullptr, 7, nullptr) != OXMETA_OK) ++wrong;
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRequestsPerThread; ++i)
            if (oxmeta_tmdb_tv_detail(1) != OXMETA_OK) ++wrong;
    });
    std::thread reader([&] {
        while (!done) {
            const int n = oxmeta_result_count();
            if (n != 0 && n != 1 && n != 3 && n != 7 && n != 20) ++torn;
            const int seasons = oxmeta_tv_season_count();
            if (seasons != 0 && seasons != 12) ++torn;
            for (int i = 0; i < n; ++i) (void)oxmeta_result_title(i);
            for (int i = 0; i < seasons; ++i) (void)oxmeta_tv_season_number(i);
        }
    });
    for (auto &th : threads) th.join();
    done = true;
    reader.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(torn, 0);
}

// One reply that every operation accepts: a TMDb page, find, TV detail, a
// season and external ids, an OMDb title and an iTunes result list at once.
const char kEveryReply[] =
    R"({"page":1,"total_pages":3,"total_results":41,"results":[{"id":1,"title":"A","collectionId":5,)"
    R"("collectionName":"P","feedUrl":"f"},{"id":2,"name":"B"}],"resultCount":2,)"
    R"("movie_results":[{"id":1,"title":"A"}],"name":"S","seasons":[{"season_number":1},{"season_number":2}],)"
    R"("last_episode_to_air":{"season_number":2,"episode_number":3},"imdb_id":"tt1","Title":"T","Year":"2001",)"
    R"("Runtime":"90 min","imdbVotes":"1,000","Response":"True","episodes":[{"id":9,"name":"E","season_number":1,)"
    R"("episode_number":1},{"id":10,"name":"F","season_number":1,"episode_number":2}]})";

// Answers every GET with kEveryReply after calling back into the library.
int stress_get(void *, const char *, char **body, int *status, char **) {
    (void)oxmeta_result_count();
    (void)oxmeta_tv_season_count();
    (void)oxmeta_warning_count();
    (void)ox_fake_calls("GET", nullptr);
    (void)oxmeta_last_http_code();
    *status = 200;
    *body = malloc_copy(kEveryReply);
    return 0;
}

TEST_F(ThreadTest, StressEveryOperationWithReaders) {
    constexpr int kWorkers = 8;
    constexpr int kRounds = 200;
    oxmeta_io table{nullptr, stress_get, nullptr, nullptr};
    oxmeta_set_io(&table);
    ASSERT_EQ(oxmeta_tmdb_set_key("k"), OXMETA_OK);
    ASSERT_EQ(oxmeta_omdb_set_key("k"), OXMETA_OK);
    const std::function<int(int)> steps[] = {
        [](int) { return oxmeta_tmdb_search_multi("q", 1); },
        [](int) { return oxmeta_tmdb_discover_movie(1, 1999); },
        [](int) { return oxmeta_tmdb_discover_tv(1, 1, 2020); },
        [](int) { return oxmeta_tmdb_tv_airing_today(2); },
        [](int) { return oxmeta_tmdb_tv_on_the_air(3); },
        [](int) { return oxmeta_tmdb_find_by_imdb("tt1"); },
        [](int) { return oxmeta_tmdb_tv_detail(7); },
        [](int) { return oxmeta_tmdb_tv_season(7, 1); },
        [](int) { return oxmeta_tmdb_external_ids(7, 1); },
        [](int) { return oxmeta_omdb_by_imdb("tt1"); },
        [](int) { return oxmeta_omdb_by_title("t"); },
        [](int) { return oxmeta_omdb_season("tt1", 1); },
        [](int) { return oxmeta_itunes_search("q", nullptr, 201, nullptr); },
        [](int) { return oxmeta_itunes_lookup(5); },
        [](int t) { return oxmeta_set_language(t % 2 ? "de-DE" : nullptr); },
        [](int t) { return oxmeta_set_language_fallback(t % 3 ? "en-US" : nullptr); },
        [](int t) { return oxmeta_tmdb_set_key(t % 2 ? "k" : "k2"); },
        [](int t) { return oxmeta_set_timeout_ms(t); },
        [](int t) { return ox_fake_set("GET", ("https://stress/" + std::to_string(t)).c_str(), 200, "{}"); },
        [](int t) { return ox_fake_fail("POST", ("https://stress/" + std::to_string(t)).c_str(), "down"); },
        [](int t) {
            if (t == 0) ox_fake_reset();
            return OXMETA_OK;
        },
    };
    std::atomic<int> failed{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < kWorkers; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t k = 0; k < std::size(steps); ++k) {
                    const int rc = steps[(k + static_cast<size_t>(t)) % std::size(steps)](t);
                    if (rc != OXMETA_OK) ++failed;
                }
        });
    }
    // Readers of every text and number, and of the season data; the texts
    // are not read through, as another thread may replace them at any time.
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                const int n = oxmeta_result_count();
                for (int i = -1; i <= n; ++i) {
                    for (auto get : {oxmeta_result_source, oxmeta_result_id, oxmeta_result_imdb_id,
                                     oxmeta_result_title, oxmeta_result_original_title, oxmeta_result_overview,
                                     oxmeta_result_media_type, oxmeta_result_poster_path,
                                     oxmeta_result_backdrop_path, oxmeta_result_feed_url})
                        if (!get(i)) ++failed;
                    (void)(oxmeta_result_year(i) + oxmeta_result_rating_permille(i) +
                           oxmeta_result_popularity_permille(i) + oxmeta_result_season_number(i) +
                           oxmeta_result_episode_number(i));
                }
                for (int i = -1; i <= oxmeta_tv_season_count(); ++i) {
                    (void)oxmeta_tv_season_number(i);
                    if (!oxmeta_tv_season_poster(i)) ++failed;
                }
                (void)(oxmeta_total_pages() + oxmeta_total_results() + oxmeta_page() +
                       oxmeta_tv_last_episode_season() + oxmeta_tv_last_episode_number());
                for (const char *text : {oxmeta_last_error(), oxmeta_last_url(), oxmeta_result_json(),
                                         oxmeta_warning(oxmeta_warning_count() - 1)})
                    if (!text) ++failed;
            }
        });
    }
    // The field readers share one buffer, so one thread alone uses them.
    readers.emplace_back([&] {
        while (!done) {
            const std::string title = oxmeta_omdb_field("Title");
            if (!title.empty() && title != "T") ++failed;
            const int minutes = oxmeta_omdb_runtime_minutes(nullptr);
            if (minutes != -1 && minutes != 90) ++failed;
            int64_t votes = 0;
            if (oxmeta_omdb_votes(&votes) == 0 && votes != 1000) ++failed;
            (void)std::strlen(oxmeta_tmdb_image_url("/p.jpg", "w92"));
        }
    });
    for (auto &th : workers) th.join();
    done = true;
    for (auto &th : readers) th.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(oxmeta_warning_count(), 2 * kWorkers * kRounds);  // discover_tv and the clamped limit
}

}  // namespace
