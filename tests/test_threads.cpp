// Requests from several threads at once, with a transport that calls back
// into the library. Meant to run under ThreadSanitizer as well.
#include <atomic>
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

}  // namespace
