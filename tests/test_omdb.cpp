// The OMDb client, driven as a host drives it: fake transport routes
// scripted with the exact URLs the client builds.
#include <climits>
#include <cstdint>
#include <functional>
#include <string>

#include "support.h"

namespace {

const std::string kBase = "https://www.omdbapi.com/?";

class OmdbTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        oxmeta_use_fake();
        ASSERT_EQ(oxmeta_omdb_set_key("k&y"), OXMETA_OK);
    }
    // URL of a query with the test key, escaped as the client escapes it.
    static std::string url(const std::string &query) { return kBase + query + "&apikey=k%26y"; }
    // Scripts the reply to oxmeta_omdb_by_imdb(id) and runs it.
    static int by_imdb(const char *id, int status, const std::string &body) {
        ox_fake_set("GET", url(std::string("i=") + id).c_str(), status, body.c_str());
        return oxmeta_omdb_by_imdb(id);
    }
    // Leaves one known record in the store.
    static void seed() {
        ASSERT_EQ(by_imdb("tt0000001", 200, R"({"Title":"Seed","imdbID":"tt0000001"})"), OXMETA_OK);
    }
};

TEST_F(OmdbTest, ByImdbMapsEveryField) {
    const std::string body = R"({"Title":"The Matrix","Year":"1999","Rated":"R","Runtime":"136 min",)"
                             R"("Plot":"A hacker learns the truth.","Poster":"https://img/p.jpg",)"
                             R"("imdbRating":"8.7","imdbVotes":"1,234,567","imdbID":"tt0133093",)"
                             R"("Type":"movie","Response":"True"})";
    ASSERT_EQ(by_imdb("tt0133093", 200, body), OXMETA_OK);
    EXPECT_EQ(ox_fake_calls("GET", url("i=tt0133093").c_str()), 1);
    EXPECT_EQ(std::string(oxmeta_last_url()), kBase + "i=tt0133093&apikey=***");
    ASSERT_EQ(oxmeta_result_count(), 1);
    EXPECT_STREQ(oxmeta_result_source(0), "OMDB");
    EXPECT_STREQ(oxmeta_result_id(0), "tt0133093");
    EXPECT_STREQ(oxmeta_result_imdb_id(0), "tt0133093");
    EXPECT_STREQ(oxmeta_result_title(0), "The Matrix");
    EXPECT_STREQ(oxmeta_result_original_title(0), "");
    EXPECT_STREQ(oxmeta_result_overview(0), "A hacker learns the truth.");
    EXPECT_EQ(oxmeta_result_year(0), 1999);
    EXPECT_STREQ(oxmeta_result_media_type(0), "movie");
    EXPECT_STREQ(oxmeta_result_poster_path(0), "https://img/p.jpg");
    EXPECT_STREQ(oxmeta_result_backdrop_path(0), "");
    EXPECT_EQ(oxmeta_result_rating_permille(0), 870);
    EXPECT_EQ(oxmeta_result_popularity_permille(0), 0);
    EXPECT_STREQ(oxmeta_result_feed_url(0), "");
    EXPECT_EQ(std::string(oxmeta_result_json()), body);

    EXPECT_STREQ(oxmeta_omdb_field("Rated"), "R");
    int minutes = 0;
    EXPECT_EQ(oxmeta_omdb_runtime_minutes(&minutes), 136);
    EXPECT_EQ(minutes, 136);
    int64_t votes = 0;
    EXPECT_EQ(oxmeta_omdb_votes(&votes), 0);
    EXPECT_EQ(votes, 1234567);
}

TEST_F(OmdbTest, QueriesAreEscapedAndCutAtTheirBufferSize) {
    ox_fake_set("GET", url("t=Star%20Wars%3A%20Episode%20IV").c_str(), 200, "{}");
    EXPECT_EQ(oxmeta_omdb_by_title("Star Wars: Episode IV"), OXMETA_OK);

    ox_fake_set("GET", url("i=tt0944947&Season=1").c_str(), 200, "{}");
    EXPECT_EQ(oxmeta_omdb_season("tt0944947", 1), OXMETA_OK);

    // "t=" and the title fill the 600-byte query buffer: 599 bytes are kept.
    ox_fake_set("GET", url("t=" + std::string(597, 'a')).c_str(), 200, "{}");
    EXPECT_EQ(oxmeta_omdb_by_title(std::string(700, 'a').c_str()), OXMETA_OK);
    ox_fake_set("GET", url("i=" + std::string(253, 'b')).c_str(), 200, "{}");
    EXPECT_EQ(oxmeta_omdb_by_imdb(std::string(300, 'b').c_str()), OXMETA_OK);
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 4);
}

TEST_F(OmdbTest, ArgumentErrorsWinOverAMissingKey) {
    oxmeta_shutdown();  // no key from here on
    struct Case {
        std::function<int()> call;
        const char *message;
    };
    const Case cases[] = {
        {[] { return oxmeta_omdb_by_imdb(""); }, "omdb_by_imdb: imdb_id required"},
        {[] { return oxmeta_omdb_by_imdb(nullptr); }, "omdb_by_imdb: imdb_id required"},
        {[] { return oxmeta_omdb_by_title(""); }, "omdb_by_title: title required"},
        {[] { return oxmeta_omdb_by_title(nullptr); }, "omdb_by_title: title required"},
        {[] { return oxmeta_omdb_season("tt1", 0); }, "omdb_season: imdb_id + season >= 1"},
        {[] { return oxmeta_omdb_season("tt1", -3); }, "omdb_season: imdb_id + season >= 1"},
        {[] { return oxmeta_omdb_season("", 2); }, "omdb_season: imdb_id + season >= 1"},
        {[] { return oxmeta_omdb_season(nullptr, 2); }, "omdb_season: imdb_id + season >= 1"},
    };
    for (const auto &c : cases) {
        oxmeta_set_timeout_ms(-1);  // some other message first
        EXPECT_EQ(c.call(), OXMETA_E_INVALID_ARG) << c.message;
        EXPECT_STREQ(oxmeta_last_error(), c.message);
    }
}

TEST_F(OmdbTest, WithoutAKeyNoRequestIsMade) {
    seed();
    const std::string body = oxmeta_result_json();
    oxmeta_shutdown();
    oxmeta_use_fake();
    ox_fake_set("GET", (kBase + "i=tt1&apikey=").c_str(), 200, "{}");
    const int results[] = {oxmeta_omdb_by_imdb("tt1"), oxmeta_omdb_by_title("x"), oxmeta_omdb_season("tt1", 1)};
    for (int status : results) EXPECT_EQ(status, OXMETA_E_NO_KEY);
    EXPECT_STREQ(oxmeta_last_error(),
                 "no OMDb key set \xE2\x80\x94 call oxmeta_omdb_set_key() (no defaults, SPEC 1)");
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 0);
    EXPECT_STREQ(oxmeta_last_url(), "");
}

TEST_F(OmdbTest, FailuresKeepTheStoreAndPublishTheBody) {
    const FailureCase cases[] = {
        {401, R"({"Error":"Invalid API key!"})", OXMETA_E_AUTH, "OMDb 401 \xE2\x80\x94 key rejected or daily limit"},
        {429, "{}", OXMETA_E_RATE_LIMIT, "OMDb 429 \xE2\x80\x94 rate limited"},
        {403, "forbidden", OXMETA_E_HTTP, "OMDb HTTP 403"},
        {500, "{}", OXMETA_E_HTTP, "OMDb HTTP 500"},
        {199, "{}", OXMETA_E_HTTP, "OMDb HTTP 199"},
        {300, "{}", OXMETA_E_HTTP, "OMDb HTTP 300"},
        {204, "", OXMETA_E_JSON, "OMDb response is not valid JSON"},
        {200, "not json", OXMETA_E_JSON, "OMDb response is not valid JSON"},
        {200, "{\"a\":1} trailing", OXMETA_E_JSON, "OMDb response is not valid JSON"},
        {200, "[]", OXMETA_E_JSON, "OMDb: not an object"},
        {299, "\"text\"", OXMETA_E_JSON, "OMDb: not an object"},
    };
    expect_failures_keep_results(
        cases, [](int http, const std::string &body) { return by_imdb("tt9", http, body); }, seed, [] {
            ASSERT_EQ(oxmeta_result_count(), 1);
            EXPECT_STREQ(oxmeta_result_title(0), "Seed");
        });
    // The error reply stays readable through the field lookup.
    by_imdb("tt9", 401, R"({"Error":"Invalid API key!"})");
    EXPECT_STREQ(oxmeta_omdb_field("Error"), "Invalid API key!");
}

TEST_F(OmdbTest, TransportFailureKeepsTheLastBody) {
    seed();
    ox_fake_fail("GET", url("i=tt2").c_str(), "timed out");
    EXPECT_EQ(oxmeta_omdb_by_imdb("tt2"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: timed out");
    EXPECT_STREQ(oxmeta_omdb_field("Title"), "Seed");
    EXPECT_STREQ(oxmeta_result_title(0), "Seed");
}

TEST_F(OmdbTest, NotFoundStoresOneRecord) {
    struct Case {
        const char *body;
        const char *message;
    };
    const Case cases[] = {
        {R"({"Response":"False","Error":"Movie not found!"})", "OMDb: Movie not found!"},
        {R"({"Response":"False"})", "OMDb: Response:False"},
        {R"({"Response":"False","Error":""})", "OMDb: Response:False"},
        {R"({"Response":"False","Error":7,"imdbID":"tt5","Title":"T"})", "OMDb: Response:False"},
    };
    for (const auto &c : cases) {
        seed();
        EXPECT_EQ(by_imdb("tt5", 200, c.body), OXMETA_E_NOT_FOUND) << c.body;
        EXPECT_STREQ(oxmeta_last_error(), c.message);
        ASSERT_EQ(oxmeta_result_count(), 1);
        EXPECT_STREQ(oxmeta_result_source(0), "OMDB");
        EXPECT_STREQ(oxmeta_result_media_type(0), "");
        EXPECT_EQ(oxmeta_result_year(0), 0);
        EXPECT_EQ(oxmeta_result_rating_permille(0), 0);
        EXPECT_EQ(oxmeta_result_popularity_permille(0), 0);
    }
    EXPECT_STREQ(oxmeta_result_id(0), "tt5");
    EXPECT_STREQ(oxmeta_result_imdb_id(0), "tt5");
    EXPECT_STREQ(oxmeta_result_title(0), "T");
}

TEST_F(OmdbTest, OtherResponseValuesTakeTheSuccessPath) {
    for (const char *body : {R"({"Response":"false"})", R"({"Response":false})", R"({"Response":"True"})"}) {
        EXPECT_EQ(by_imdb("tt6", 200, body), OXMETA_OK) << body;
        EXPECT_STREQ(oxmeta_result_media_type(0), "movie");
    }
}

TEST_F(OmdbTest, EmptyObjectGivesDefaults) {
    ASSERT_EQ(by_imdb("tt7", 200, "{}"), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 1);
    EXPECT_STREQ(oxmeta_result_id(0), "");
    EXPECT_STREQ(oxmeta_result_title(0), "");
    EXPECT_STREQ(oxmeta_result_media_type(0), "movie");
    EXPECT_EQ(oxmeta_result_year(0), -1);
    EXPECT_EQ(oxmeta_result_rating_permille(0), -1);
    EXPECT_EQ(oxmeta_result_popularity_permille(0), 0);
}

struct MappingCase {
    const char *body;
    const char *media_type;
    int rating;
    const char *id;
    const char *title;
};

TEST_F(OmdbTest, MemberMappingRules) {
    const MappingCase cases[] = {
        {R"({"Type":"series"})", "tv", -1, "", ""},
        {R"({"Type":"episode"})", "episode", -1, "", ""},
        {R"({"Type":"Series"})", "Series", -1, "", ""},
        {R"({"Type":""})", "movie", -1, "", ""},
        {R"({"Type":3})", "movie", -1, "", ""},
        {R"({"imdbRating":"N/A"})", "movie", -1, "", ""},
        {R"({"imdbRating":""})", "movie", -1, "", ""},
        {R"({"imdbRating":"7.8"})", "movie", 780, "", ""},
        {R"({"imdbRating":"0"})", "movie", 0, "", ""},
        {R"({"imdbRating":"0.0"})", "movie", 0, "", ""},
        {R"({"imdbRating":"10"})", "movie", 1000, "", ""},
        {R"({"imdbRating":"-1"})", "movie", -1, "", ""},
        {R"({"imdbRating":7.8})", "movie", -1, "", ""},
        {R"({"imdbID":123,"Title":"A"})", "movie", -1, "", "A"},
        // Only the first member of a name counts, whatever its type.
        {R"({"Title":5,"Title":"Second","imdbID":"tt1","imdbID":"tt2"})", "movie", -1, "tt1", ""},
        // Nested members are never read.
        {R"({"Ratings":[{"Title":"x"}],"x":{"Title":"y"}})", "movie", -1, "", ""},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(by_imdb("tt8", 200, c.body), OXMETA_OK) << c.body;
        EXPECT_STREQ(oxmeta_result_media_type(0), c.media_type) << c.body;
        EXPECT_EQ(oxmeta_result_rating_permille(0), c.rating) << c.body;
        EXPECT_STREQ(oxmeta_result_id(0), c.id) << c.body;
        EXPECT_STREQ(oxmeta_result_imdb_id(0), c.id) << c.body;
        EXPECT_STREQ(oxmeta_result_title(0), c.title) << c.body;
    }
    ASSERT_EQ(by_imdb("tt8", 200, R"({"Poster":"N/A","Year":"2011\u20132019"})"), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_poster_path(0), "N/A");
    EXPECT_EQ(oxmeta_result_year(0), 2011);
}

TEST_F(OmdbTest, FieldLookup) {
    EXPECT_STREQ(oxmeta_omdb_field("Title"), "");  // nothing received yet
    const std::string long_text(3000, 'x');
    ASSERT_EQ(by_imdb("tt3", 200,
                      R"({"Title":"T","Year":2001,"Ratings":[1],"Obj":{},"Null":null,"Long":")" + long_text +
                          R"(","Esc":"a\"b\u00e9"})"),
              OXMETA_OK);
    EXPECT_STREQ(oxmeta_omdb_field("Title"), "T");
    EXPECT_STREQ(oxmeta_omdb_field("title"), "");
    for (const char *key : {"Year", "Ratings", "Obj", "Null", "Missing", ""}) EXPECT_STREQ(oxmeta_omdb_field(key), "") << key;
    EXPECT_STREQ(oxmeta_omdb_field(nullptr), "");
    EXPECT_EQ(std::string(oxmeta_omdb_field("Long")), long_text.substr(0, 2047));
    EXPECT_STREQ(oxmeta_omdb_field("Esc"), "a\"b\xC3\xA9");
    // Every call returns the same buffer.
    EXPECT_EQ(oxmeta_omdb_field("Title"), oxmeta_omdb_field("Esc"));

    by_imdb("tt3", 200, "not json");
    EXPECT_STREQ(oxmeta_omdb_field("Title"), "");
}

struct ReaderCase {
    const char *body;
    int minutes;
    int votes_status;
    int64_t votes;
};

TEST_F(OmdbTest, RuntimeAndVotesReaders) {
    const ReaderCase cases[] = {
        {R"({"Runtime":"142 min","imdbVotes":"1,234"})", 142, 0, 1234},
        {R"({"Runtime":"1 h 30 min","imdbVotes":"0"})", 1, -1, 0},
        {R"({"Runtime":"N/A","imdbVotes":"N/A"})", -1, -1, 0},
        {R"({"Runtime":"","imdbVotes":""})", -1, -1, 0},
        {R"({"Runtime":"abc","imdbVotes":"abc"})", -1, -1, 0},
        {R"({"Runtime":90,"imdbVotes":5})", -1, -1, 0},
        {R"({"Runtime":"min 45","imdbVotes":"1 2 3"})", 45, 0, 123},
        // Long digit runs saturate instead of overflowing.
        {R"({"Runtime":"99999999999999999999","imdbVotes":"99999999999999999999999"})", INT_MAX, 0, INT64_MAX},
        {"{}", -1, -1, 0},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(by_imdb("tt4", 200, c.body), OXMETA_OK) << c.body;
        int minutes = 12345;
        EXPECT_EQ(oxmeta_omdb_runtime_minutes(&minutes), c.minutes) << c.body;
        EXPECT_EQ(minutes, c.minutes) << c.body;
        EXPECT_EQ(oxmeta_omdb_runtime_minutes(nullptr), c.minutes) << c.body;
        int64_t votes = 777;
        EXPECT_EQ(oxmeta_omdb_votes(&votes), c.votes_status) << c.body;
        EXPECT_EQ(votes, c.votes) << c.body;
        EXPECT_EQ(oxmeta_omdb_votes(nullptr), c.votes_status) << c.body;
    }
}

TEST_F(OmdbTest, ShutdownForgetsTheKeyAndBody) {
    seed();
    oxmeta_shutdown();
    EXPECT_STREQ(oxmeta_omdb_field("Title"), "");
    EXPECT_EQ(oxmeta_omdb_by_imdb("tt0000001"), OXMETA_E_NO_KEY);
    oxmeta_omdb_set_key("k&y");
    EXPECT_EQ(oxmeta_omdb_by_imdb("tt0000001"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: fake: no route for this URL");
}

}  // namespace
