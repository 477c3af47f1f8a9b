// No key or token ever reaches the host through the diagnostics: for many
// generated credentials (any bytes but NUL, short and very long), whatever
// the operation and its outcome, neither the credential nor its
// percent-encoded form appears in the last URL or the last error.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace {

std::string percent_encode(const std::string &text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Credentials from a fixed seed: bytes a URL treats specially, spaces,
// UTF-8, anything else but NUL; mostly short, some very long.
std::vector<std::string> generated_credentials(int n) {
    static const std::vector<std::string> pieces = {"&", "=", "%", " ", "+", "?", "#", "\"", "/", "%26",
                                                    "api_key=", "Bearer%20", "\xC3\xA9", "\xE2\x80\x94", "\x7F",
                                                    "\x01", "\xFF"};
    std::mt19937 rng(20261210);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        const size_t length = i % 10 == 9 ? 3000 : 8 + rng() % 40;
        std::string key = "K" + std::to_string(i) + "-";
        while (key.size() < length) {
            if (rng() % 3 == 0) {
                key += pieces[rng() % pieces.size()];
            } else {
                key += static_cast<char>(1 + rng() % 255);
            }
        }
        out.push_back(key);
    }
    return out;
}

// Answers every request the way the test chooses; a failure's message
// quotes the URL, as a careless transport might.
struct ScriptedTransport {
    int outcome = 0;
    oxmeta_io table{this, get, nullptr, nullptr};

    static int get(void *ctx, const char *url, char **body, int *status, char **err) {
        switch (static_cast<ScriptedTransport *>(ctx)->outcome) {
            case 0: *status = 200; *body = malloc_copy(R"({"results":[{"id":1}],"Title":"T","imdb_id":"tt1"})"); return 0;
            case 1: *status = 401; *body = malloc_copy(R"({"status_message":"Invalid API key"})"); return 0;
            case 2: *status = 500; *body = malloc_copy("oops"); return 0;
            case 3: *status = 200; *body = malloc_copy("{not json"); return 0;
            default: *err = malloc_copy(std::string("could not GET ") + url + " (timed out)"); return -1;
        }
    }
};

using CredentialTest = LibraryTest;

TEST_F(CredentialTest, NoCredentialReachesTheDiagnostics) {
    const std::function<int()> operations[] = {
        [] { return oxmeta_tmdb_search_multi("q", 1); },     [] { return oxmeta_tmdb_discover_movie(1, 1999); },
        [] { return oxmeta_tmdb_discover_tv(1, 1, 0); },     [] { return oxmeta_tmdb_tv_airing_today(1); },
        [] { return oxmeta_tmdb_tv_on_the_air(1); },         [] { return oxmeta_tmdb_find_by_imdb("tt1"); },
        [] { return oxmeta_tmdb_tv_detail(1); },             [] { return oxmeta_tmdb_external_ids(1, 1); },
        [] { return oxmeta_omdb_by_imdb("tt1"); },           [] { return oxmeta_omdb_by_title("t"); },
        [] { return oxmeta_omdb_season("tt1", 2); },         [] { return oxmeta_itunes_search("q", nullptr, 5, nullptr); },
        [] { return oxmeta_itunes_lookup(7); },
    };
    ScriptedTransport transport;
    int checked = 0;
    for (const std::string &key : generated_credentials(60)) {
        const std::string encoded = percent_encode(key);
        auto expect_clean = [&](const char *what) {
            const std::string url = oxmeta_last_url();
            const std::string error = oxmeta_last_error();
            ASSERT_EQ(url.find(key), std::string::npos) << what << " url " << url;
            ASSERT_EQ(url.find(encoded), std::string::npos) << what << " url " << url;
            ASSERT_EQ(error.find(key), std::string::npos) << what << " error " << error;
            ASSERT_EQ(error.find(encoded), std::string::npos) << what << " error " << error;
            ++checked;
        };
        reset_library();
        oxmeta_set_io(&transport.table);
        ASSERT_EQ(oxmeta_tmdb_set_bearer(key.c_str()), OXMETA_OK);
        EXPECT_EQ(oxmeta_tmdb_tv_detail(1), OXMETA_E_NO_KEY);  // a token alone is never sent
        expect_clean("bearer only");
        ASSERT_EQ(oxmeta_tmdb_set_key(key.c_str()), OXMETA_OK);
        ASSERT_EQ(oxmeta_omdb_set_key(key.c_str()), OXMETA_OK);
        oxmeta_set_language("pt BR&x=1");
        for (int outcome = 0; outcome < 5; ++outcome) {
            transport.outcome = outcome;
            for (const auto &run : operations) {
                run();
                expect_clean("operation");
            }
        }
    }
    EXPECT_GT(checked, 3000);
}

}  // namespace
