// Requests from several threads at once, with a transport that calls back
// into the library. Meant to run under ThreadSanitizer as well.
#include <atomic>
#include <cstdlib>
#include <chrono>
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

}  // namespace
