// The request path through a host transport table.
#include <string>

#include "core/oxmeta_state.h"
#include "support.h"

namespace {

class RequestTest : public LibraryTest {
protected:
    // Runs one request and returns its status; the body lands in body_.
    int request(const char *url = "https://h/x?api_key=SECRET&q=1") {
        ox_buf_free(&body_);
        return ox_http_get(url, &body_, &status_);
    }
    void TearDown() override {
        ox_buf_free(&body_);
        LibraryTest::TearDown();
    }
    ox_buf body_{};
    int status_ = -1;
};

TEST_F(RequestTest, NullArgumentsAreInternalErrors) {
    ox_buf b{};
    EXPECT_EQ(ox_http_get(nullptr, &b), OXMETA_E_INVALID_ARG);
    EXPECT_STREQ(oxmeta_last_error(), "internal: NULL url/body");
    EXPECT_EQ(ox_http_get("u", nullptr), OXMETA_E_INVALID_ARG);
}

TEST_F(RequestTest, NoTransportLeavesDiagnosticsAlone) {
    HostTransport host;
    host.status = 201;
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request("https://h/first"), OXMETA_OK);
    oxmeta_set_io(nullptr);

    EXPECT_EQ(request(), OXMETA_E_NO_IO);
    EXPECT_STREQ(oxmeta_last_error(), "no IO backend installed");
    EXPECT_EQ(oxmeta_last_http_code(), 201);
    EXPECT_STREQ(oxmeta_last_url(), "https://h/first");
}

TEST_F(RequestTest, TableWithoutGetCountsAsNoTransport) {
    HostTransport host;
    host.table.get = nullptr;
    oxmeta_set_io(&host.table);
    EXPECT_EQ(request(), OXMETA_E_NO_IO);
    EXPECT_STREQ(oxmeta_last_error(), "no IO backend installed");
}

TEST_F(RequestTest, HttpErrorStatusIsNotJudgedHere) {
    HostTransport host;
    host.status = 404;
    host.body = "{\"status_message\":\"nope\"}";
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request(), OXMETA_OK);
    EXPECT_STREQ(body_.data, "{\"status_message\":\"nope\"}");
    EXPECT_EQ(status_, 404);
    EXPECT_EQ(oxmeta_last_http_code(), 404);
    // The request path never writes the last body; providers do.
    EXPECT_STREQ(oxmeta_result_json(), "");
}

TEST_F(RequestTest, UrlIsSentInClearAndStoredMasked) {
    HostTransport host;
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request("https://h/x?api_key=SECRET&q=1"), OXMETA_OK);
    ASSERT_EQ(host.urls.size(), 1u);
    EXPECT_EQ(host.urls[0], "https://h/x?api_key=SECRET&q=1");
    EXPECT_STREQ(oxmeta_last_url(), "https://h/x?api_key=***&q=1");
}

struct FailureCase {
    const char *name;
    int rc;
    bool hand_error;
    const char *error;
    int status;
    const char *message;
};

TEST_F(RequestTest, TransportFailures) {
    const FailureCase cases[] = {
        {"error text", 7, true, "connection refused", 0, "transport: connection refused"},
        {"empty error text", -1, true, "", 0, "transport: "},
        {"no error text", 1, false, "", 0, "transport: unknown IO failure"},
        {"status recorded", 2, true, "gateway", 503, "transport: gateway"},
    };
    for (const auto &c : cases) {
        HostTransport host;
        host.rc = c.rc;
        host.hand_error = c.hand_error;
        host.error = c.error;
        host.status = c.status;
        host.body = "ignored";
        oxmeta_set_io(&host.table);
        EXPECT_EQ(request(), OXMETA_E_TRANSPORT) << c.name;
        EXPECT_STREQ(oxmeta_last_error(), c.message) << c.name;
        EXPECT_EQ(oxmeta_last_http_code(), c.status) << c.name;
        EXPECT_STREQ(oxmeta_last_url(), "https://h/x?api_key=***&q=1") << c.name;
        EXPECT_EQ(body_.len, 0u) << c.name;  // a body handed out on failure is dropped
        EXPECT_EQ(host.freed, host.handed) << c.name;
    }
}

TEST_F(RequestTest, BodyStopsAtFirstNul) {
    HostTransport host;
    host.body = std::string("{\"a\":1}\0tail", 12);
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request(), OXMETA_OK);
    EXPECT_EQ(std::string(body_.data, body_.len), "{\"a\":1}");
}

TEST_F(RequestTest, FreeSlotReleasesBodyThenErrorEvenWhenNull) {
    HostTransport host;
    oxmeta_set_io(&host.table);
    host.hand_body = false;  // a null body counts as empty
    ASSERT_EQ(request(), OXMETA_OK);
    EXPECT_EQ(body_.len, 0u);
    host.hand_body = true;
    host.hand_error = true;  // an error text on success is released unread
    host.error = "ignored";
    ASSERT_EQ(request(), OXMETA_OK);
    ASSERT_EQ(host.freed.size(), 4u);
    EXPECT_EQ(host.freed, host.handed);
    EXPECT_EQ(host.freed[0], nullptr);
    EXPECT_EQ(host.freed[1], nullptr);
}

TEST_F(RequestTest, WithoutFreeSlotTextsGoToStandardFree) {
    // Under the leak checker a text left unreleased fails the run.
    HostTransport host(false);
    host.hand_error = true;
    host.error = "x";
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request(), OXMETA_OK);
    host.rc = 3;
    EXPECT_EQ(request(), OXMETA_E_TRANSPORT);
    EXPECT_TRUE(host.freed.empty());
}

// A transport whose get calls back into the library: no lock may be held.
int reentrant_get(void *, const char *, char **body, int *status, char **) {
    (void)oxmeta_last_error();
    (void)oxmeta_result_count();
    (void)oxmeta_last_url();
    (void)ox_fake_calls(nullptr, nullptr);
    oxmeta_set_timeout_ms(5);
    *body = malloc_copy("{}");
    *status = 200;
    return 0;
}

TEST_F(RequestTest, CallbacksMayCallBackIntoTheLibrary) {
    oxmeta_io table{nullptr, reentrant_get, nullptr, nullptr};
    oxmeta_set_io(&table);
    EXPECT_EQ(request(), OXMETA_OK);
    EXPECT_STREQ(body_.data, "{}");
}

TEST_F(RequestTest, UseCurlKeepsTheHostTableServing) {
    HostTransport host;
    oxmeta_set_io(&host.table);
    EXPECT_EQ(oxmeta_use_curl(), OXMETA_E_NO_IO);
    EXPECT_EQ(request(), OXMETA_OK);
    EXPECT_EQ(host.urls.size(), 1u);
}

TEST_F(RequestTest, UseFakeDropsTheHostTable) {
    HostTransport host;
    oxmeta_set_io(&host.table);
    oxmeta_use_fake();
    EXPECT_EQ(request("https://h/none"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");
    EXPECT_TRUE(host.urls.empty());
}

TEST_F(RequestTest, ShutdownKeepsTransportAndHttpCode) {
    HostTransport host;
    host.status = 299;
    oxmeta_set_io(&host.table);
    ASSERT_EQ(request(), OXMETA_OK);
    oxmeta_shutdown();
    EXPECT_EQ(oxmeta_last_http_code(), 299);
    EXPECT_STREQ(oxmeta_last_url(), "");
    EXPECT_EQ(request(), OXMETA_OK);
    EXPECT_EQ(host.urls.size(), 2u);
}

}  // namespace
