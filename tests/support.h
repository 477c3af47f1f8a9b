// Shared test helpers: a fixture that returns the library to its state at
// load, and a host transport table that records what the library does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "oxmeta.h"

// Every test starts and ends with nothing configured and no transport.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { reset_library(); }
    void TearDown() override { reset_library(); }
    static void reset_library() {
        oxmeta_shutdown();
        oxmeta_set_io(nullptr);
    }
};

// A reply kept under tests/fixtures, read whole.
inline std::string read_fixture(const std::string &name) {
    std::ifstream in(std::string(OXMETA_FIXTURE_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "missing fixture " << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline char *malloc_copy(const std::string &s) {
    auto *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) return nullptr;  // as a host out of memory would: no text
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// A host transport answering every GET with one scripted reply. It records
// the URLs it was given and the pointers it handed out and got back.
struct HostTransport {
    int rc = 0;
    int status = 200;
    bool hand_body = true;
    std::string body = "{}";  // may hold NUL bytes
    bool hand_error = false;
    std::string error;

    std::vector<std::string> urls;
    std::vector<void *> handed;  // body then error text of every call
    std::vector<void *> freed;   // in the order the library released them
    oxmeta_io table{};

    explicit HostTransport(bool with_free_slot = true) {
        table.ctx = this;
        table.get = &HostTransport::get;
        table.post = nullptr;
        table.free = with_free_slot ? &HostTransport::release : nullptr;
    }

    static int get(void *ctx, const char *url, char **body, int *http_status, char **err) {
        auto *self = static_cast<HostTransport *>(ctx);
        EXPECT_EQ(*body, nullptr);
        EXPECT_EQ(*err, nullptr);
        EXPECT_EQ(*http_status, 0);
        self->urls.emplace_back(url);
        *body = self->hand_body ? malloc_copy(self->body) : nullptr;
        *err = self->hand_error ? malloc_copy(self->error) : nullptr;
        *http_status = self->status;
        self->handed.push_back(*body);
        self->handed.push_back(*err);
        return self->rc;
    }

    static void release(void *ctx, void *p) {
        auto *self = static_cast<HostTransport *>(ctx);
        self->freed.push_back(p);
        std::free(p);
    }
};

// A reply a provider refuses: the HTTP status and body, and the status code
// and message the operation must give for it.
struct FailureCase {
    int http;
    std::string body;
    int status;
    const char *message;
};

// Runs each case (run answers the operation with that reply) after seed();
// the failure must publish the reply's body and status and leave what seed()
// stored, as expect_seeded checks.
inline void expect_failures_keep_results(std::span<const FailureCase> cases,
                                         const std::function<int(int, const std::string &)> &run,
                                         const std::function<void()> &seed,
                                         const std::function<void()> &expect_seeded) {
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.http) + " " + c.body);
        seed();
        EXPECT_EQ(run(c.http, c.body), c.status);
        EXPECT_STREQ(oxmeta_last_error(), c.message);
        EXPECT_EQ(oxmeta_last_http_code(), c.http);
        EXPECT_EQ(std::string(oxmeta_result_json()), c.body);
        expect_seeded();
    }
}
