// Allocation failures, injected one at a time: each scenario is run again
// and again, failing its first, second, third ... allocation, until it runs
// through without reaching the injected failure. Every run must end in a
// consistent state with a truthful status, and (under the leak checker)
// release everything. The library's malloc and realloc are routed here with
// the linker's --wrap.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "core/oxmeta_state.h"
#include "support.h"

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_realloc(void *p, size_t size);

namespace {

std::atomic<long> g_countdown{-1};  // allocations left before the failure
std::atomic<bool> g_hit{false};

bool inject() {
    long left = g_countdown.load();
    if (left < 0) return false;
    g_countdown = left - 1;
    if (left != 0) return false;
    g_hit = true;
    return true;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) { return inject() ? nullptr : __real_malloc(size); }
extern "C" void *__wrap_realloc(void *p, size_t size) { return inject() ? nullptr : __real_realloc(p, size); }

namespace {

// Runs `scenario` failing allocation n for n = 0, 1, ... and `check` after
// each run; returns how many failures were injected.
int for_each_failure(const std::function<void()> &setup, const std::function<int()> &scenario,
                     const std::function<void(int)> &check) {
    for (long n = 0;; ++n) {
        setup();
        g_hit = false;
        g_countdown = n;
        const int status = scenario();
        g_countdown = -1;
        if (!g_hit) return static_cast<int>(n);
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        check(status);
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

}  // namespace
