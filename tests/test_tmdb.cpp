// The TMDb client, driven as a host drives it: fake transport routes
// scripted with the exact URLs the client builds.
#include <climits>
#include <functional>
#include <string>

#include "support.h"

namespace {

const std::string kApi = "https://api.themoviedb.org/3";
const std::string kImages = "https://image.tmdb.org/t/p/";

class TmdbTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        oxmeta_use_fake();
        ASSERT_EQ(oxmeta_tmdb_set_key("k&y"), OXMETA_OK);
    }
    // URL of an operation path with the test key and the default language.
    static std::string url(const std::string &path, const std::string &language = "en-US") {
        const char separator = path.find('?') == std::string::npos ? '?' : '&';
        return kApi + path + separator + "api_key=k%26y&language=" + language;
    }
    static void script(const std::string &path, int status, const std::string &body) {
        ASSERT_EQ(ox_fake_set("GET", url(path).c_str(), status, body.c_str()), OXMETA_OK);
    }
    // Runs a multi-search for "q" answered with body.
    static int search(const std::string &body, int status = 200) {
        script("/search/multi?query=q&page=1&include_adult=false", status, body);
        return oxmeta_tmdb_search_multi("q", 1);
    }
    // Runs a search whose page holds the given items, text of a JSON array.
    static int search_items(const std::string &items) {
        return search(R"({"page":1,"total_pages":1,"total_results":1,"results":)" + items + "}");
    }
    // Leaves a known listing of two results, page 3 of 9.
    static void seed() {
        ASSERT_EQ(search(R"({"page":3,"total_pages":9,"total_results":170,"results":)"
                         R"([{"id":1,"title":"Seed"},{"id":2,"title":"Other"}]})"),
                  OXMETA_OK);
    }
    static void expect_seed() {
        ASSERT_EQ(oxmeta_result_count(), 2);
        EXPECT_STREQ(oxmeta_result_title(0), "Seed");
        EXPECT_EQ(oxmeta_page(), 3);
        EXPECT_EQ(oxmeta_total_pages(), 9);
        EXPECT_EQ(oxmeta_total_results(), 170);
    }
};

// ------------------------------------------------------------- requests

struct UrlCase {
    std::function<int()> call;
    std::string path;
};

TEST_F(TmdbTest, EveryOperationRequestsItsExactUrl) {
    const UrlCase cases[] = {
        {[] { return oxmeta_tmdb_search_multi("star wars", 2); },
         "/search/multi?query=star%20wars&page=2&include_adult=false"},
        {[] { return oxmeta_tmdb_search_multi("Amélie & co/1+1", 1); },
         "/search/multi?query=Am%C3%A9lie%20%26%20co%2F1%2B1&page=1&include_adult=false"},
        {[] { return oxmeta_tmdb_discover_movie(1, 0); },
         "/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false&page=1"},
        {[] { return oxmeta_tmdb_discover_movie(4, 1999); },
         "/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false&page=4&year=1999"},
        {[] { return oxmeta_tmdb_discover_movie(1, -5); },
         "/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false&page=1"},
        {[] { return oxmeta_tmdb_discover_tv(1, 0, 0); },
         "/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
         "&include_null_first_air_dates=false"},
        {[] { return oxmeta_tmdb_discover_tv(2, 1, 2020); },
         "/discover/tv?sort_by=popularity.desc&page=2&timezone=America%2FNew_York"
         "&include_null_first_air_dates=false&include_adult=true&first_air_date_year=2020"},
        {[] { return oxmeta_tmdb_discover_tv(3, 0, 1994); },
         "/discover/tv?sort_by=popularity.desc&page=3&timezone=America%2FNew_York"
         "&include_null_first_air_dates=false&first_air_date_year=1994"},
        {[] { return oxmeta_tmdb_tv_airing_today(7); }, "/tv/airing_today?page=7"},
        {[] { return oxmeta_tmdb_tv_on_the_air(INT_MAX); }, "/tv/on_the_air?page=2147483647"},
        {[] { return oxmeta_tmdb_find_by_imdb("tt0133093"); }, "/find/tt0133093?external_source=imdb_id"},
        {[] { return oxmeta_tmdb_find_by_imdb("a b/c"); }, "/find/a%20b%2Fc?external_source=imdb_id"},
        {[] { return oxmeta_tmdb_tv_detail(1399); }, "/tv/1399"},
        {[] { return oxmeta_tmdb_external_ids(603, 0); }, "/movie/603/external_ids"},
        {[] { return oxmeta_tmdb_external_ids(1399, 7); }, "/tv/1399/external_ids"},
    };
    for (const auto &c : cases) {
        script(c.path, 200, "{}");
        const int before = ox_fake_calls("GET", url(c.path).c_str());
        c.call();
        EXPECT_EQ(ox_fake_calls("GET", url(c.path).c_str()), before + 1) << c.path;
        const char separator = c.path.find('?') == std::string::npos ? '?' : '&';
        EXPECT_EQ(std::string(oxmeta_last_url()), kApi + c.path + separator + "api_key=***&language=en-US");
    }
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), static_cast<int>(std::size(cases)));
}

TEST_F(TmdbTest, LanguageIsEscapedAndDefaultsToEnUs) {
    const std::string path = "/tv/airing_today?page=1";
    const struct {
        const char *set;
        std::string sent;
    } cases[] = {
        {"pt BR/é", "pt%20BR%2F%C3%A9"},
        {"de-DE", "de-DE"},
        {"", "en-US"},
        {nullptr, "en-US"},
    };
    for (const auto &c : cases) {
        oxmeta_set_language(c.set);
        ASSERT_EQ(ox_fake_set("GET", url(path, c.sent).c_str(), 200, "{}"), OXMETA_OK);
        oxmeta_tmdb_tv_airing_today(1);
        EXPECT_EQ(ox_fake_calls("GET", url(path, c.sent).c_str()), 1) << c.sent;
        ox_fake_reset();
    }
}

TEST_F(TmdbTest, LongQueriesAreShortenedAndLongUrlsCut) {
    // The 512-byte path keeps 511: "/search/multi?query=" (20 bytes), the
    // query shortened to fit, and every parameter after it.
    const std::string query(600, 'q');
    const std::string shortened = "/search/multi?query=" + std::string(464, 'q') + "&page=1&include_adult=false";
    ASSERT_EQ(shortened.size(), 511u);
    script(shortened, 200, R"({"results":[{"id":1}]})");
    EXPECT_EQ(oxmeta_tmdb_search_multi(query.c_str(), 1), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_id(0), "1");
    // The URL buffer keeps 2047 bytes: a long key is cut inside the URL.
    oxmeta_tmdb_set_key(std::string(3000, 'k').c_str());
    const std::string full = kApi + shortened + "&api_key=" + std::string(3000, 'k');
    ox_fake_set("GET", full.substr(0, 2047).c_str(), 200, R"({"results":[{"id":2}]})");
    EXPECT_EQ(oxmeta_tmdb_search_multi(query.c_str(), 1), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_id(0), "2");
}

TEST_F(TmdbTest, CredentialRules) {
    // No credential at all.
    oxmeta_shutdown();
    EXPECT_EQ(oxmeta_tmdb_tv_detail(1), OXMETA_E_NO_KEY);
    EXPECT_STREQ(oxmeta_last_error(),
                 "no TMDb key set \xE2\x80\x94 call oxmeta_tmdb_set_key() or oxmeta_tmdb_set_bearer() "
                 "(no defaults, SPEC 1)");

    // Only a bearer token: refused before any request, and the last
    // request's diagnostics (here an OMDb one) stay as they were.
    oxmeta_omdb_set_key("o");
    const char omdb[] = "https://www.omdbapi.com/?i=tt1&apikey=o";
    ox_fake_set("GET", omdb, 203, R"({"Title":"Kept"})");
    ASSERT_EQ(oxmeta_omdb_by_imdb("tt1"), OXMETA_OK);
    ASSERT_EQ(oxmeta_tmdb_set_bearer("tok"), OXMETA_OK);
    script("/tv/on_the_air?page=1", 200, "{}");
    EXPECT_EQ(oxmeta_tmdb_tv_on_the_air(1), OXMETA_E_NO_KEY);
    EXPECT_STREQ(oxmeta_last_error(),
                 "bearer-only auth needs header support \xE2\x80\x94 set an api_key (v3) for now");
    EXPECT_EQ(ox_fake_calls("GET", nullptr), 1);
    EXPECT_EQ(oxmeta_last_http_code(), 203);
    EXPECT_STREQ(oxmeta_last_url(), "https://www.omdbapi.com/?i=tt1&apikey=***");
    EXPECT_STREQ(oxmeta_result_json(), R"({"Title":"Kept"})");
    EXPECT_STREQ(oxmeta_result_title(0), "Kept");

    // Key and token: the key is used.
    oxmeta_tmdb_set_key("k&y");
    script("/tv/9", 200, R"({"name":"Nine"})");
    EXPECT_EQ(oxmeta_tmdb_tv_detail(9), OXMETA_OK);
    EXPECT_EQ(ox_fake_calls("GET", url("/tv/9").c_str()), 1);
    EXPECT_STREQ(oxmeta_result_title(0), "Nine");
}

TEST_F(TmdbTest, FailuresKeepTheListingAndPublishTheBody) {
    const FailureCase cases[] = {
        {401, R"({"status_code":7,"status_message":"Invalid API key"})", OXMETA_E_AUTH,
         "TMDb 401 \xE2\x80\x94 key rejected"},
        {429, "{}", OXMETA_E_RATE_LIMIT, "TMDb 429 \xE2\x80\x94 rate limited, back off"},
        {404, R"({"results":[{"id":5}]})", OXMETA_E_HTTP, "TMDb HTTP 404"},
        {403, "{}", OXMETA_E_HTTP, "TMDb HTTP 403"},
        {503, "", OXMETA_E_HTTP, "TMDb HTTP 503"},
        {199, "{}", OXMETA_E_HTTP, "TMDb HTTP 199"},
        {300, "{}", OXMETA_E_HTTP, "TMDb HTTP 300"},
        {200, "", OXMETA_E_JSON, "TMDb response is not valid JSON"},
        {204, "", OXMETA_E_JSON, "TMDb response is not valid JSON"},
        {299, "{\"results\":[", OXMETA_E_JSON, "TMDb response is not valid JSON"},
        {200, "{} {}", OXMETA_E_JSON, "TMDb response is not valid JSON"},
    };
    expect_failures_keep_results(
        cases, [](int http, const std::string &body) { return search(body, http); }, seed, expect_seed);
}

TEST_F(TmdbTest, TransportFailureKeepsEverything) {
    seed();
    const std::string body = oxmeta_result_json();
    ox_fake_fail("GET", url("/tv/airing_today?page=1").c_str(), "connection reset");
    EXPECT_EQ(oxmeta_tmdb_tv_airing_today(1), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: connection reset");
    EXPECT_EQ(std::string(oxmeta_result_json()), body);
    expect_seed();

    oxmeta_set_io(nullptr);
    EXPECT_EQ(oxmeta_tmdb_find_by_imdb("tt1"), OXMETA_E_NO_IO);
    expect_seed();
}

struct ArgCase {
    std::function<int()> call;
    const char *message;
};

TEST_F(TmdbTest, RefusedArgumentsMakeNoRequest) {
    seed();
    const ArgCase cases[] = {
        {[] { return oxmeta_tmdb_search_multi(nullptr, 1); }, "search_multi: query required, page >= 1"},
        {[] { return oxmeta_tmdb_search_multi("", 1); }, "search_multi: query required, page >= 1"},
        {[] { return oxmeta_tmdb_search_multi("q", 0); }, "search_multi: query required, page >= 1"},
        {[] { return oxmeta_tmdb_discover_movie(0, 1999); }, "discover_movie: page >= 1"},
        {[] { return oxmeta_tmdb_discover_tv(-1, 1, 0); }, "discover_tv: page >= 1"},
        {[] { return oxmeta_tmdb_tv_airing_today(0); }, "airing_today: page >= 1"},
        {[] { return oxmeta_tmdb_tv_on_the_air(INT_MIN); }, "on_the_air: page >= 1"},
        {[] { return oxmeta_tmdb_find_by_imdb(nullptr); }, "find_by_imdb: imdb_id required"},
        {[] { return oxmeta_tmdb_find_by_imdb(""); }, "find_by_imdb: imdb_id required"},
        {[] { return oxmeta_tmdb_tv_detail(0); }, "tv_detail: tmdb_id > 0"},
        {[] { return oxmeta_tmdb_external_ids(-3, 1); }, "external_ids: tmdb_id > 0"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), OXMETA_E_INVALID_ARG) << c.message;
        EXPECT_STREQ(oxmeta_last_error(), c.message);
    }
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 1);  // the seed's own
    EXPECT_EQ(oxmeta_warning_count(), 0);           // a refused discover_tv warns of nothing
    expect_seed();
}

// ------------------------------------------------------------- listings

struct FixtureRow {
    int index;
    const char *media_type;
    const char *id;
    const char *title;
    const char *original_title;
    int year;
    int rating;
    int popularity;
    const char *poster;
};

TEST_F(TmdbTest, RealisticSearchPageMapsEveryItem) {
    const std::string body = read_fixture("tmdb_search_multi.json");
    ASSERT_EQ(search(body), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 20);
    EXPECT_EQ(oxmeta_page(), 1);
    EXPECT_EQ(oxmeta_total_pages(), 36);
    EXPECT_EQ(oxmeta_total_results(), 714);
    EXPECT_EQ(std::string(oxmeta_result_json()), body);
    const FixtureRow rows[] = {
        {0, "movie", "11", "Star Wars", "Star Wars", 1977, 820, 983, "/6FfCtAuVAW8XJjZ7eWeLibRLWTw.jpg"},
        {1, "tv", "1399", "Star Trek: The Next Generation", "Star Trek: The Next Generation", 1987, 820, 712,
         "/vkLdu0ZBCtXvUyrs6OnFN5sXVsd.jpg"},
        // A person: no dates, no rating, a profile picture rather than a poster.
        {3, "person", "2", "Mark Hamill", "Mark Hamill", -1, 0, 335, ""},
        // "vote_average" sent as the integer 7.
        {4, "movie", "140607", "Star Wars: The Force Awakens", "Star Wars: The Force Awakens", 2015, 700, 527,
         "/wqnLdwVXoBjKibFRR5U3y0aDUhs.jpg"},
        // An empty release date, a null poster, the integer 0 as average.
        {15, "movie", "10000", "La estrella", "La estrella", -1, 0, 6, ""},
        // The integer 10 as average, an original name in UTF-8.
        {19, "tv", "1920", "Star Wars: Visions",
         "\xE3\x82\xB9\xE3\x82\xBF\xE3\x83\xBC\xE3\x83\xBB\xE3\x82\xA6\xE3\x82\xA9\xE3\x83\xBC\xE3\x82\xBA"
         "\xEF\xBC\x9A\xE3\x83\x93\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3\xE3\x82\xBA",
         2021, 1000, 81, "/bZAxV1eGmmkiX1N3PqJzk7gHe6u.jpg"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.index);
        EXPECT_STREQ(oxmeta_result_source(r.index), "TMDB");
        EXPECT_STREQ(oxmeta_result_media_type(r.index), r.media_type);
        EXPECT_STREQ(oxmeta_result_id(r.index), r.id);
        EXPECT_STREQ(oxmeta_result_imdb_id(r.index), "");
        EXPECT_STREQ(oxmeta_result_title(r.index), r.title);
        EXPECT_STREQ(oxmeta_result_original_title(r.index), r.original_title);
        EXPECT_EQ(oxmeta_result_year(r.index), r.year);
        EXPECT_EQ(oxmeta_result_rating_permille(r.index), r.rating);
        EXPECT_EQ(oxmeta_result_popularity_permille(r.index), r.popularity);
        EXPECT_STREQ(oxmeta_result_poster_path(r.index), r.poster);
        EXPECT_STREQ(oxmeta_result_feed_url(r.index), "");
    }
    EXPECT_STREQ(oxmeta_result_backdrop_path(0), "/zqkmTXzjkAgXmEWLRsY4UpTWCeo.jpg");
    EXPECT_EQ(std::string(oxmeta_result_overview(0)).rfind("Princess Leia is captured", 0), 0u);
    EXPECT_STREQ(oxmeta_result_overview(3), "");
    EXPECT_STREQ(oxmeta_result_id(20), "");
}

struct ItemCase {
    const char *item;
    const char *title;
    const char *original_title;
    int year;
    int rating;
    int popularity;
};

TEST_F(TmdbTest, ItemMappingRules) {
    const ItemCase cases[] = {
        // Title and name fallbacks.
        {R"({"title":"","name":"From name"})", "From name", "", -1, 0, 0},
        {R"({"title":7,"name":"From name"})", "From name", "", -1, 0, 0},
        {R"({"name":8})", "", "", -1, 0, 0},
        {R"({"title":"T","name":"N","original_title":"","original_name":""})", "T", "", -1, 0, 0},
        {R"({"original_title":"OT","original_name":"ON"})", "", "OT", -1, 0, 0},
        {R"({"original_title":null,"original_name":"ON"})", "", "ON", -1, 0, 0},
        // Dates.
        {R"({"release_date":"","first_air_date":"2004-09-22"})", "", "", 2004, 0, 0},
        {R"({"release_date":"1999-03-31","first_air_date":"2004-09-22"})", "", "", 1999, 0, 0},
        {R"({"release_date":null,"first_air_date":"2004"})", "", "", 2004, 0, 0},
        {R"({"release_date":"soon"})", "", "", -1, 0, 0},
        // Vote average: reals round half away from zero and stay in 0..1000.
        {R"({"vote_average":7.25})", "", "", -1, 725, 0},
        {R"({"vote_average":7.8})", "", "", -1, 780, 0},
        {R"({"vote_average":10.0})", "", "", -1, 1000, 0},
        {R"({"vote_average":12.5})", "", "", -1, 1000, 0},
        {R"({"vote_average":-1.5})", "", "", -1, 0, 0},
        {R"({"vote_average":0.004})", "", "", -1, 0, 0},
        {R"({"vote_average":0.005})", "", "", -1, 1, 0},
        {R"({"vote_average":1e300})", "", "", -1, 1000, 0},
        {R"({"vote_average":-1e300})", "", "", -1, 0, 0},
        // Integers read like reals.
        {R"({"vote_average":8})", "", "", -1, 800, 0},
        {R"({"vote_average":0})", "", "", -1, 0, 0},
        {R"({"vote_average":-3})", "", "", -1, 0, 0},
        {R"({"vote_average":18446744073709551615})", "", "", -1, 1000, 0},
        // Strings: thousandths over ten, no upper bound, negatives kept.
        {R"({"vote_average":"7.5"})", "", "", -1, 750, 0},
        {R"({"vote_average":"7.25"})", "", "", -1, 725, 0},
        {R"({"vote_average":"12"})", "", "", -1, 1200, 0},
        {R"({"vote_average":"-1.5"})", "", "", -1, -1500, 0},
        {R"({"vote_average":"n/a"})", "", "", -1, 0, 0},
        {R"({"vote_average":true})", "", "", -1, 0, 0},
        // Popularity: any number times ten, rounded, never below 0, saturating.
        {R"({"popularity":12.34})", "", "", -1, 0, 123},
        {R"({"popularity":3})", "", "", -1, 0, 30},
        {R"({"popularity":-2.5})", "", "", -1, 0, 0},
        {R"({"popularity":214748364.7})", "", "", -1, 0, INT_MAX},
        {R"({"popularity":1e300})", "", "", -1, 0, INT_MAX},
        {R"({"popularity":18446744073709551615})", "", "", -1, 0, INT_MAX},
        {R"({"popularity":"12"})", "", "", -1, 0, 0},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(search_items(std::string("[") + c.item + "]"), OXMETA_OK) << c.item;
        ASSERT_EQ(oxmeta_result_count(), 1);
        EXPECT_STREQ(oxmeta_result_title(0), c.title) << c.item;
        EXPECT_STREQ(oxmeta_result_original_title(0), c.original_title) << c.item;
        EXPECT_EQ(oxmeta_result_year(0), c.year) << c.item;
        EXPECT_EQ(oxmeta_result_rating_permille(0), c.rating) << c.item;
        EXPECT_EQ(oxmeta_result_popularity_permille(0), c.popularity) << c.item;
    }
}

TEST_F(TmdbTest, MediaTypeIdsAndElementsThatAreNoObjects) {
    const std::string page = R"({"results":[{"id":1,"media_type":"tv"},{"id":"42","media_type":""},{"title":"x"},)"
                             R"(42,{"id":3000000000},{"id":-7.9,"overview":5,"poster_path":1}]})";
    script("/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false&page=1", 200, page);
    ASSERT_EQ(oxmeta_tmdb_discover_movie(1, 0), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 6);
    const struct {
        const char *media_type;
        const char *id;
    } rows[] = {{"tv", "1"}, {"movie", "42"}, {"movie", "0"}, {"movie", "0"}, {"movie", "-1294967296"}, {"movie", "-7"}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(oxmeta_result_media_type(i), rows[i].media_type) << i;
        EXPECT_STREQ(oxmeta_result_id(i), rows[i].id) << i;
    }
    // The number 42 as an element still makes a record of defaults.
    EXPECT_STREQ(oxmeta_result_title(3), "");
    EXPECT_EQ(oxmeta_result_year(3), -1);
    EXPECT_EQ(oxmeta_result_rating_permille(3), 0);
    EXPECT_EQ(oxmeta_result_popularity_permille(3), 0);
    EXPECT_STREQ(oxmeta_result_overview(5), "");
    EXPECT_STREQ(oxmeta_result_poster_path(5), "");

    // Elements of every other kind, the last of them at the end of the
    // document, each make a record of defaults without being read as objects.
    ASSERT_EQ(search_items(R"([7,"text",null,true,[1,{"id":9}],{"id":2},[]])"), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(oxmeta_result_id(i), i == 5 ? "2" : "0") << i;
        EXPECT_STREQ(oxmeta_result_title(i), "") << i;
        EXPECT_EQ(oxmeta_result_year(i), -1) << i;
    }

    // The multi-search has no default: an item without a type has none.
    ASSERT_EQ(search_items(R"([{"id":1}])"), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_media_type(0), "");
    script("/tv/on_the_air?page=1", 200, R"({"results":[{"id":1},{"id":2,"media_type":"movie"}]})");
    ASSERT_EQ(oxmeta_tmdb_tv_on_the_air(1), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_media_type(0), "tv");
    EXPECT_STREQ(oxmeta_result_media_type(1), "movie");
}

TEST_F(TmdbTest, PagesWithoutResultsAreNotFound) {
    const std::string replies[] = {
        R"({"page":5,"total_pages":4,"total_results":61,"results":[]})",
        R"({"page":5,"total_pages":4,"total_results":61})",
        R"({"page":5,"total_pages":4,"total_results":61,"results":{"id":1}})",
        R"({"page":5,"total_pages":4,"total_results":61,"results":null})",
    };
    for (const auto &reply : replies) {
        seed();
        EXPECT_EQ(search(reply), OXMETA_E_NOT_FOUND) << reply;
        EXPECT_STREQ(oxmeta_last_error(), "TMDb: empty results[]");
        EXPECT_EQ(oxmeta_result_count(), 0);
        EXPECT_EQ(oxmeta_page(), 5);
        EXPECT_EQ(oxmeta_total_pages(), 4);
        EXPECT_EQ(oxmeta_total_results(), 61);
    }
    // A root that is no object: empty store, counters 0.
    seed();
    EXPECT_EQ(search("[1,2]"), OXMETA_E_NOT_FOUND);
    EXPECT_EQ(oxmeta_result_count(), 0);
    EXPECT_EQ(oxmeta_total_pages(), 0);
    EXPECT_EQ(oxmeta_page(), 0);
    // Missing counters are 0 and the results still count.
    EXPECT_EQ(search(R"({"results":[{"id":1}],"total_pages":"12"})"), OXMETA_OK);
    EXPECT_EQ(oxmeta_result_count(), 1);
    EXPECT_EQ(oxmeta_total_pages(), 12);
    EXPECT_EQ(oxmeta_total_results(), 0);
    EXPECT_EQ(oxmeta_page(), 0);
}

TEST_F(TmdbTest, DiscoverTvWarnsOfTheAdultFlagEvenWhenTheRequestFails) {
    const std::string flagged = "/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
                                "&include_null_first_air_dates=false&include_adult=true";
    const char warning[] = "discover_tv: include_adult=true set explicitly (legacy omits the flag)";
    script(flagged, 500, "{}");
    EXPECT_EQ(oxmeta_tmdb_discover_tv(1, 1, 0), OXMETA_E_HTTP);
    script(flagged, 200, R"({"results":[{"name":"Show"}]})");
    EXPECT_EQ(oxmeta_tmdb_discover_tv(1, 1, 0), OXMETA_OK);
    ASSERT_EQ(oxmeta_warning_count(), 2);
    EXPECT_STREQ(oxmeta_warning(0), warning);
    EXPECT_STREQ(oxmeta_warning(1), warning);
    EXPECT_STREQ(oxmeta_result_title(0), "Show");
    EXPECT_STREQ(oxmeta_result_media_type(0), "tv");

    script("/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
           "&include_null_first_air_dates=false",
           200, R"({"results":[{"name":"Show"}]})");
    EXPECT_EQ(oxmeta_tmdb_discover_tv(1, 0, 0), OXMETA_OK);
    EXPECT_EQ(oxmeta_warning_count(), 2);
}

// ------------------------------------------------------------- lookups

TEST_F(TmdbTest, FindStoresMoviesThenShowsThenPeople) {
    const std::string path = "/find/tt0944947?external_source=imdb_id";
    script(path, 200,
           R"({"person_results":[{"id":3,"name":"Person"}],"tv_results":[{"id":1399,"name":"Show",)"
           R"("first_air_date":"2011-04-17"}],"movie_results":[{"id":11,"title":"Film"}],"tv_episode_results":[{"id":9}]})");
    ASSERT_EQ(oxmeta_tmdb_find_by_imdb("tt0944947"), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 3);
    const char *types[] = {"movie", "tv", "person"};
    const char *ids[] = {"11", "1399", "3"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(oxmeta_result_media_type(i), types[i]);
        EXPECT_STREQ(oxmeta_result_id(i), ids[i]);
        EXPECT_STREQ(oxmeta_result_imdb_id(i), i == 0 ? "tt0944947" : "");
    }
    EXPECT_EQ(oxmeta_result_year(1), 2011);

    // Only a person: the first result, so it carries the id asked for.
    script("/find/nm0000434?external_source=imdb_id", 200,
           R"({"movie_results":[],"tv_results":{},"person_results":[{"id":2,"name":"Mark Hamill","media_type":"cast"}]})");
    ASSERT_EQ(oxmeta_tmdb_find_by_imdb("nm0000434"), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 1);
    EXPECT_STREQ(oxmeta_result_title(0), "Mark Hamill");
    EXPECT_STREQ(oxmeta_result_media_type(0), "cast");
    EXPECT_STREQ(oxmeta_result_imdb_id(0), "nm0000434");
}

TEST_F(TmdbTest, FindWithoutAMatchEmptiesTheStore) {
    seed();
    const std::string id = "tt 9&x";
    script("/find/tt%209%26x?external_source=imdb_id", 200,
           R"({"movie_results":[],"tv_results":[],"person_results":[]})");
    EXPECT_EQ(oxmeta_tmdb_find_by_imdb(id.c_str()), OXMETA_E_NOT_FOUND);
    EXPECT_STREQ(oxmeta_last_error(), "TMDb /find: no movie/tv/person match for tt 9&x");
    EXPECT_EQ(oxmeta_result_count(), 0);
    EXPECT_EQ(oxmeta_page(), 3);  // lookups leave the paging counters alone
}

TEST_F(TmdbTest, TvDetailKeepsSeasonsAndLastEpisode) {
    const std::string body = read_fixture("tmdb_tv_detail.json");
    script("/tv/82856", 200, body);
    ASSERT_EQ(oxmeta_tmdb_tv_detail(82856), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 1);
    EXPECT_STREQ(oxmeta_result_source(0), "TMDB");
    EXPECT_STREQ(oxmeta_result_id(0), "82856");
    EXPECT_STREQ(oxmeta_result_title(0), "The Mandalorian");
    EXPECT_STREQ(oxmeta_result_original_title(0), "The Mandalorian");
    EXPECT_STREQ(oxmeta_result_media_type(0), "tv");
    EXPECT_EQ(oxmeta_result_year(0), 2019);
    EXPECT_EQ(oxmeta_result_rating_permille(0), 841);
    EXPECT_EQ(oxmeta_result_popularity_permille(0), 1109);
    EXPECT_STREQ(oxmeta_result_poster_path(0), "/eU1i6eHXlzMOlEq0ku1Rzq7Y4wA.jpg");
    ASSERT_EQ(oxmeta_tv_season_count(), 4);
    const int numbers[] = {0, 1, 2, 3};
    const char *posters[] = {"", "/fEmhmOkJ9eEJDHyaoPmVQbajyvQ.jpg", "/lXODuVwSdfv9O4PGYTEDwAIfNKu.jpg",
                             "/30aLk9jMR7UqCUgkfqZjbbWmZsl.jpg"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(oxmeta_tv_season_number(i), numbers[i]);
        EXPECT_STREQ(oxmeta_tv_season_poster(i), posters[i]);
    }
    EXPECT_EQ(oxmeta_tv_season_number(4), -1);
    EXPECT_EQ(oxmeta_tv_last_episode_season(), 3);
    EXPECT_EQ(oxmeta_tv_last_episode_number(), 8);

    // A listing afterwards replaces the results only.
    seed();
    EXPECT_EQ(oxmeta_tv_season_count(), 4);
    EXPECT_EQ(oxmeta_tv_last_episode_number(), 8);

    // A reply that is no object changes nothing but the body and the error.
    script("/tv/5", 200, "[1]");
    EXPECT_EQ(oxmeta_tmdb_tv_detail(5), OXMETA_E_JSON);
    EXPECT_STREQ(oxmeta_last_error(), "tv_detail: not an object");
    expect_seed();
    EXPECT_EQ(oxmeta_tv_season_count(), 4);
    EXPECT_EQ(oxmeta_tv_last_episode_season(), 3);
}

TEST_F(TmdbTest, TvDetailSeasonAndEpisodeRules) {
    // Seventeen seasons grow the arrays twice; odd elements have no data.
    std::string seasons;
    for (int i = 0; i < 17; ++i) {
        if (i) seasons += ",";
        seasons += i % 2 ? (i == 5 ? "7" : "{}") : R"({"season_number":)" + std::to_string(i) + R"(,"poster_path":"/s)" +
                                                           std::to_string(i) + R"(.jpg"})";
    }
    const struct {
        std::string reply;
        int seasons;
        int last_season;
        int last_episode;
    } cases[] = {
        {R"({"name":"A","release_date":"1990-01-01","seasons":[)" + seasons +
             R"(],"last_episode_to_air":{"season_number":"2","episode_number":5.9}})",
         17, 2, 5},
        {R"({"name":"B","seasons":[],"last_episode_to_air":null})", 0, -1, -1},
        {R"({"name":"C","seasons":{"season_number":1},"last_episode_to_air":{}})", 0, -1, -1},
        {R"({"name":"D"})", 0, -1, -1},
    };
    for (const auto &c : cases) {
        script("/tv/7", 200, c.reply);
        ASSERT_EQ(oxmeta_tmdb_tv_detail(7), OXMETA_OK) << c.reply;
        EXPECT_EQ(oxmeta_result_count(), 1);
        EXPECT_EQ(oxmeta_result_year(0), -1);  // only "first_air_date" gives the year here
        EXPECT_EQ(oxmeta_tv_season_count(), c.seasons);
        EXPECT_EQ(oxmeta_tv_last_episode_season(), c.last_season);
        EXPECT_EQ(oxmeta_tv_last_episode_number(), c.last_episode);
        if (c.seasons == 17) {
            for (int i = 0; i < 17; ++i) {
                EXPECT_EQ(oxmeta_tv_season_number(i), i % 2 ? -1 : i) << i;
                EXPECT_EQ(std::string(oxmeta_tv_season_poster(i)), i % 2 ? "" : "/s" + std::to_string(i) + ".jpg");
            }
        }
    }
}

TEST_F(TmdbTest, ExternalIdsOnAnEmptyStoreAddOneResult) {
    for (const int is_tv : {0, 1}) {
        reset_library();
        oxmeta_use_fake();
        oxmeta_tmdb_set_key("k&y");
        const std::string path = std::string(is_tv ? "/tv" : "/movie") + "/603/external_ids";
        script(path, 200, R"({"id":603,"imdb_id":"tt0133093","wikidata_id":"Q83495"})");
        ASSERT_EQ(oxmeta_tmdb_external_ids(603, is_tv), OXMETA_OK);
        ASSERT_EQ(oxmeta_result_count(), 1);
        EXPECT_STREQ(oxmeta_result_source(0), "TMDB");
        EXPECT_STREQ(oxmeta_result_id(0), "603");
        EXPECT_STREQ(oxmeta_result_imdb_id(0), "tt0133093");
        EXPECT_STREQ(oxmeta_result_media_type(0), is_tv ? "tv" : "movie");
        EXPECT_STREQ(oxmeta_result_title(0), "");
        EXPECT_EQ(oxmeta_result_year(0), 0);
        EXPECT_EQ(oxmeta_result_rating_permille(0), 0);
        EXPECT_EQ(oxmeta_result_popularity_permille(0), 0);
    }
}

TEST_F(TmdbTest, ExternalIdsTouchOnlyResultZero) {
    search_items(R"([{"id":1,"title":"A"},{"id":2},{"id":3},{"id":4},{"id":5}])");
    script("/movie/1/external_ids", 200, R"({"imdb_id":"tt0000001"})");
    ASSERT_EQ(oxmeta_tmdb_external_ids(1, 0), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 5);
    EXPECT_STREQ(oxmeta_result_imdb_id(0), "tt0000001");
    EXPECT_STREQ(oxmeta_result_title(0), "A");
    EXPECT_STREQ(oxmeta_result_imdb_id(1), "");

    for (const char *reply : {R"({"imdb_id":null})", R"({"imdb_id":""})", "{}", "[]"}) {
        script("/movie/1/external_ids", 200, reply);
        EXPECT_EQ(oxmeta_tmdb_external_ids(1, 0), OXMETA_E_NOT_FOUND) << reply;
        EXPECT_STREQ(oxmeta_last_error(), "external_ids: no imdb_id for tmdb 1");
        EXPECT_EQ(oxmeta_result_count(), 5);
        EXPECT_STREQ(oxmeta_result_imdb_id(0), "");
        oxmeta_tmdb_external_ids(1, 0);
    }
    EXPECT_EQ(oxmeta_page(), 1);
}

TEST_F(TmdbTest, ImageAddresses) {
    const struct {
        const char *path;
        const char *size;
        std::string address;
    } cases[] = {
        {"/abc.jpg", nullptr, kImages + "w500/abc.jpg"},
        {"/abc.jpg", "", kImages + "w500/abc.jpg"},
        {"abc.jpg", "w185", kImages + "w185/abc.jpg"},
        {"/a b.png", "original", kImages + "original/a b.png"},
        {"", "w185", ""},
        {nullptr, nullptr, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(std::string(oxmeta_tmdb_image_url(c.path, c.size)), c.address);
    const std::string long_path(2000, 'p');
    EXPECT_EQ(std::string(oxmeta_tmdb_image_url(long_path.c_str(), "w92")),
              (kImages + "w92/" + long_path).substr(0, 1023));
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 0);
}

TEST_F(TmdbTest, ImageAddressFromTheAddressHandedOutBefore) {
    // The buffer handed out is the next call's path or size.
    const std::string first = oxmeta_tmdb_image_url("/abc.jpg", "w500");
    EXPECT_EQ(std::string(oxmeta_tmdb_image_url(oxmeta_tmdb_image_url("/abc.jpg", "w500"), "w92")),
              kImages + "w92/" + first);
    EXPECT_EQ(std::string(oxmeta_tmdb_image_url("/x.jpg", oxmeta_tmdb_image_url("/abc.jpg", "w500"))),
              kImages + first + "/x.jpg");
}

}  // namespace
