// The fake transport: scripting routes and answering requests from them.
#include <climits>
#include <string>

#include "core/oxmeta_state.h"
#include "support.h"

namespace {

class FakeTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        oxmeta_use_fake();
    }
    void TearDown() override {
        ox_buf_free(&body_);
        LibraryTest::TearDown();
    }
    int get(const char *url) {
        ox_buf_free(&body_);
        return ox_http_get(url, &body_, &status_);
    }
    std::string body() const { return body_.data ? std::string(body_.data, body_.len) : ""; }
    ox_buf body_{};
    int status_ = -1;
};

TEST_F(FakeTest, MethodMustBeExactlyGetOrPost) {
    oxmeta_tmdb_set_key("");  // leaves a message to compare against
    const std::string before = oxmeta_last_error();
    for (const char *method : {"get", "Get", "GET ", " GET", "PUT", "POSTS", ""}) {
        EXPECT_EQ(ox_fake_set(method, "u", 200, "{}"), OXMETA_E_INVALID_ARG) << method;
        EXPECT_EQ(ox_fake_fail(method, "u", "m"), OXMETA_E_INVALID_ARG) << method;
    }
    EXPECT_EQ(ox_fake_set(nullptr, "u", 200, "{}"), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(ox_fake_set("GET", nullptr, 200, "{}"), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(ox_fake_fail(nullptr, "u", nullptr), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(ox_fake_fail("GET", nullptr, nullptr), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(g_ox.fake_routes.count, 0);
    EXPECT_EQ(oxmeta_last_error(), before);
    // The two methods it knows are taken.
    EXPECT_EQ(ox_fake_set("POST", "u", 200, "{}"), OXMETA_OK);
    EXPECT_EQ(ox_fake_fail("POST", "v", "m"), OXMETA_OK);
    EXPECT_EQ(ox_fake_set("GET", "u", 200, "{}"), OXMETA_OK);
    EXPECT_EQ(g_ox.fake_routes.count, 3);
}

TEST_F(FakeTest, CallCountersSaturate) {
    ox_fake_set("GET", "a", 200, "");
    ox_fake_set("GET", "b", 200, "");
    {
        ox_guard g;
        g_ox.fake_routes.items[0].calls = INT_MAX - 1;
        g_ox.fake_routes.items[1].calls = INT_MAX - 1;
    }
    for (int i = 0; i < 3; ++i) ASSERT_EQ(get("a"), OXMETA_OK);
    EXPECT_EQ(ox_fake_calls("GET", "a"), INT_MAX);
    EXPECT_EQ(ox_fake_calls("GET", "b"), INT_MAX - 1);
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), INT_MAX);  // the sum of both
}

TEST_F(FakeTest, FirstRequestBindsTheFakeTable) {
    ASSERT_EQ(ox_fake_set("GET", "https://h/a", 203, "{\"x\":1}"), OXMETA_OK);
    EXPECT_EQ(g_ox.io, nullptr);
    ASSERT_EQ(get("https://h/a"), OXMETA_OK);
    EXPECT_NE(g_ox.io, nullptr);
    EXPECT_EQ(body(), "{\"x\":1}");
    EXPECT_EQ(status_, 203);
    EXPECT_EQ(oxmeta_last_http_code(), 203);
    EXPECT_EQ(ox_fake_calls("GET", "https://h/a"), 1);
}

TEST_F(FakeTest, NullBodyAnswersEmpty) {
    ASSERT_EQ(ox_fake_set("GET", "u", 204, nullptr), OXMETA_OK);
    ASSERT_EQ(get("u"), OXMETA_OK);
    EXPECT_EQ(body(), "");
    EXPECT_EQ(status_, 204);
}

TEST_F(FakeTest, RescriptingKeepsOneRouteAndItsCount) {
    ox_fake_set("GET", "u", 200, "one");
    ASSERT_EQ(get("u"), OXMETA_OK);
    ASSERT_EQ(get("u"), OXMETA_OK);
    ox_fake_set("GET", "u", 500, "two");
    ASSERT_EQ(get("u"), OXMETA_OK);
    EXPECT_EQ(body(), "two");
    EXPECT_EQ(status_, 500);
    EXPECT_EQ(g_ox.fake_routes.count, 1);
    EXPECT_EQ(ox_fake_calls("GET", "u"), 3);

    ox_fake_fail("GET", "u", "boom");
    EXPECT_EQ(get("u"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: boom");
    EXPECT_EQ(oxmeta_last_http_code(), 0);
    EXPECT_EQ(ox_fake_calls("GET", "u"), 4);

    ox_fake_set("GET", "u", 200, "back");
    ASSERT_EQ(get("u"), OXMETA_OK);
    EXPECT_EQ(body(), "back");
    EXPECT_EQ(g_ox.fake_routes.items[0].fail_message, nullptr);
}

TEST_F(FakeTest, FailureWithoutMessageIsConnectionRefused) {
    ASSERT_EQ(ox_fake_fail("GET", "u", nullptr), OXMETA_OK);
    EXPECT_EQ(get("u"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: connection refused");
}

TEST_F(FakeTest, UnscriptedUrlsFindNoRoute) {
    EXPECT_EQ(get("https://h/a"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");

    // Exact match only: the query, the case and the method all count.
    ox_fake_set("GET", "https://h/a?k=1", 200, "{}");
    ox_fake_set("POST", "https://h/b", 200, "{}");
    for (const char *url : {"https://h/a", "https://h/a?k=1&", "https://H/a?k=1", "https://h/b"}) {
        EXPECT_EQ(get(url), OXMETA_E_TRANSPORT) << url;
        EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");
    }
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 0);
}

TEST_F(FakeTest, CallsSumsOverFilters) {
    ox_fake_set("GET", "a", 200, "");
    ox_fake_set("GET", "b", 200, "");
    ox_fake_set("POST", "a", 200, "");
    get("a");
    get("a");
    get("b");
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 3);
    EXPECT_EQ(ox_fake_calls("GET", nullptr), 3);
    EXPECT_EQ(ox_fake_calls(nullptr, "a"), 2);
    EXPECT_EQ(ox_fake_calls("POST", nullptr), 0);
    EXPECT_EQ(ox_fake_calls("GET", "zzz"), 0);
}

TEST_F(FakeTest, ResetRemovesRoutesAndKeepsFakeMode) {
    ox_fake_set("GET", "a", 200, "");
    get("a");
    ox_fake_reset();
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 0);
    EXPECT_EQ(g_ox.fake_routes.items, nullptr);
    EXPECT_EQ(get("a"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");
}

TEST_F(FakeTest, NinthRouteGrowsTheTable) {
    for (int i = 0; i < 9; ++i) {
        const std::string url = "https://h/" + std::to_string(i);
        ASSERT_EQ(ox_fake_set("GET", url.c_str(), 200 + i, url.c_str()), OXMETA_OK);
    }
    EXPECT_EQ(g_ox.fake_routes.capacity, 16);
    for (int i = 0; i < 9; ++i) {
        const std::string url = "https://h/" + std::to_string(i);
        ASSERT_EQ(get(url.c_str()), OXMETA_OK);
        EXPECT_EQ(body(), url);
        EXPECT_EQ(status_, 200 + i);
    }
}

TEST_F(FakeTest, PostSlotAlwaysFails) {
    const oxmeta_io *io = oxmeta_fake_io();
    char *body = nullptr;
    char *err = nullptr;
    int status = 1;
    EXPECT_EQ(io->post(io->ctx, "u", "a", "b", &body, &status, &err), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(err, "fake: POST not used by oxmeta");
    EXPECT_EQ(io->free, nullptr);  // its texts come from malloc: the library frees them with free()
    std::free(err);
    EXPECT_EQ(io->post(io->ctx, "u", "a", "b", &body, &status, nullptr), -1);
}

TEST_F(FakeTest, ShutdownEmptiesRoutesButStaysFake) {
    ox_fake_set("GET", "a", 200, "");
    oxmeta_shutdown();
    EXPECT_EQ(get("a"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");
}

}  // namespace
