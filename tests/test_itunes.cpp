// The iTunes Search client, driven as a host drives it: fake transport
// routes scripted with the exact URLs the client builds.
#include <climits>
#include <cstdint>
#include <functional>
#include <string>

#include "support.h"

namespace {

const std::string kBase = "https://itunes.apple.com/";

class ItunesTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        oxmeta_use_fake();
    }
    static std::string search_url(const std::string &term, int limit = 10) {
        return kBase + "search?term=" + term + "&media=podcast&limit=" + std::to_string(limit) + "&country=US";
    }
    // Runs a podcast search for "q" answered with body.
    static int search(const std::string &body, int status = 200) {
        ox_fake_set("GET", search_url("q").c_str(), status, body.c_str());
        return oxmeta_itunes_search("q", nullptr, 10, nullptr);
    }
    // Runs a search whose reply holds the given items, text of a JSON array.
    static int search_items(const std::string &items) { return search(R"({"results":)" + items + "}"); }
    // Leaves two known results and the counters of one page of 2.
    static void seed() {
        ASSERT_EQ(search_items(R"([{"collectionName":"Seed"},{"trackName":"Other"}])"), OXMETA_OK);
    }
    static void expect_seed() {
        ASSERT_EQ(oxmeta_result_count(), 2);
        EXPECT_STREQ(oxmeta_result_title(0), "Seed");
        EXPECT_EQ(oxmeta_total_results(), 2);
    }
};

TEST_F(ItunesTest, RequestsTheExactUrl) {
    const struct {
        std::function<int()> call;
        std::string url;
    } cases[] = {
        {[] { return oxmeta_itunes_search("star talk", nullptr, 10, nullptr); }, search_url("star%20talk")},
        {[] { return oxmeta_itunes_search("x", "", 1, ""); }, search_url("x", 1)},
        {[] { return oxmeta_itunes_search("Amélie & Co", "movie", 200, "de"); },
         kBase + "search?term=Am%C3%A9lie%20%26%20Co&media=movie&limit=200&country=de"},
        {[] { return oxmeta_itunes_search("x", "tv show", 50, "g/b"); },
         kBase + "search?term=x&media=tv%20show&limit=50&country=g%2Fb"},
        {[] { return oxmeta_itunes_lookup(42); }, kBase + "lookup?id=42"},
        {[] { return oxmeta_itunes_lookup(INT64_MAX); }, kBase + "lookup?id=9223372036854775807"},
    };
    for (const auto &c : cases) {
        ox_fake_set("GET", c.url.c_str(), 200, R"({"resultCount":0,"results":[]})");
        EXPECT_EQ(c.call(), OXMETA_OK) << c.url;
        EXPECT_EQ(ox_fake_calls("GET", c.url.c_str()), 1) << c.url;
        EXPECT_EQ(std::string(oxmeta_last_url()), c.url);
    }
    EXPECT_EQ(oxmeta_warning_count(), 0);
}

TEST_F(ItunesTest, LimitAboveTwoHundredIsClampedWithAWarning) {
    ox_fake_set("GET", search_url("q", 200).c_str(), 200, "{}");
    EXPECT_EQ(oxmeta_itunes_search("q", nullptr, 201, nullptr), OXMETA_OK);
    EXPECT_EQ(oxmeta_itunes_search("q", nullptr, INT_MAX, nullptr), OXMETA_OK);
    EXPECT_EQ(ox_fake_calls("GET", search_url("q", 200).c_str()), 2);
    ASSERT_EQ(oxmeta_warning_count(), 2);
    EXPECT_STREQ(oxmeta_warning(0), "itunes_search: limit 201 clamped to 200 (Apple documented max)");
    EXPECT_STREQ(oxmeta_warning(1), "itunes_search: limit 2147483647 clamped to 200 (Apple documented max)");
}

TEST_F(ItunesTest, LongTermsAreShortenedToFitTheUrlBuffer) {
    // The address keeps 1023 bytes: the term gives way, the parameters stay.
    const std::string term(1500, 't');
    const size_t room = 1023 - search_url("").size();
    const std::string url = search_url(term.substr(0, room));
    ASSERT_EQ(url.size(), 1023u);
    ox_fake_set("GET", url.c_str(), 200, R"({"results":[{"trackName":"Shortened"}]})");
    EXPECT_EQ(oxmeta_itunes_search(term.c_str(), nullptr, 10, nullptr), OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_title(0), "Shortened");
}

TEST_F(ItunesTest, RefusedArgumentsMakeNoRequest) {
    seed();
    const struct {
        std::function<int()> call;
        const char *message;
    } cases[] = {
        {[] { return oxmeta_itunes_search(nullptr, nullptr, 0, nullptr); }, "itunes_search: term required"},
        {[] { return oxmeta_itunes_search("", "podcast", 10, "US"); }, "itunes_search: term required"},
        {[] { return oxmeta_itunes_search("q", nullptr, 0, nullptr); }, "itunes_search: limit >= 1"},
        {[] { return oxmeta_itunes_search("q", nullptr, -4, nullptr); }, "itunes_search: limit >= 1"},
        {[] { return oxmeta_itunes_lookup(0); }, "itunes_lookup: id > 0"},
        {[] { return oxmeta_itunes_lookup(INT64_MIN); }, "itunes_lookup: id > 0"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), OXMETA_E_INVALID_ARG) << c.message;
        EXPECT_STREQ(oxmeta_last_error(), c.message);
    }
    EXPECT_EQ(ox_fake_calls(nullptr, nullptr), 1);
    EXPECT_EQ(oxmeta_warning_count(), 0);
    expect_seed();
}

TEST_F(ItunesTest, FailuresKeepTheResultsAndPublishTheBody) {
    const FailureCase cases[] = {
        {403, "{}", OXMETA_E_RATE_LIMIT, "iTunes 403 \xE2\x80\x94 rate limited by IP, back off"},
        {429, "{}", OXMETA_E_HTTP, "iTunes HTTP 429"},
        {401, "{}", OXMETA_E_HTTP, "iTunes HTTP 401"},
        {404, R"({"results":[{"trackName":"x"}]})", OXMETA_E_HTTP, "iTunes HTTP 404"},
        {199, "{}", OXMETA_E_HTTP, "iTunes HTTP 199"},
        {300, "{}", OXMETA_E_HTTP, "iTunes HTTP 300"},
        {200, "", OXMETA_E_JSON, "iTunes response is not valid JSON"},
        {204, "", OXMETA_E_JSON, "iTunes response is not valid JSON"},
        {200, "<html>busy</html>", OXMETA_E_JSON, "iTunes response is not valid JSON"},
        {200, "[]", OXMETA_E_JSON, "iTunes: not an object"},
        {299, "null", OXMETA_E_JSON, "iTunes: not an object"},
    };
    expect_failures_keep_results(
        cases, [](int http, const std::string &body) { return search(body, http); }, seed, expect_seed);
    seed();
    ox_fake_fail("GET", (kBase + "lookup?id=7").c_str(), "dns failure");
    EXPECT_EQ(oxmeta_itunes_lookup(7), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(oxmeta_last_error(), "transport: dns failure");
    expect_seed();
}

TEST_F(ItunesTest, CountersDescribeOnePage) {
    const struct {
        std::string reply;
        int count;
        int total;
    } cases[] = {
        {R"({"resultCount":0,"results":[]})", 0, 0},
        {R"({"resultCount":50})", 0, 50},
        {R"({"results":[{},{},{}]})", 3, 3},
        {R"({"resultCount":"x","results":[{}]})", 1, 1},
        {R"({"resultCount":null,"results":{}})", 0, 0},
        {R"({"resultCount":9,"results":[{}]})", 1, 9},
        {R"({})", 0, 0},
    };
    for (const auto &c : cases) {
        seed();
        ASSERT_EQ(search(c.reply), OXMETA_OK) << c.reply;
        EXPECT_EQ(oxmeta_result_count(), c.count) << c.reply;
        EXPECT_EQ(oxmeta_total_results(), c.total) << c.reply;
        EXPECT_EQ(oxmeta_total_pages(), 1);
        EXPECT_EQ(oxmeta_page(), 1);
    }
}

struct Row {
    int index;
    const char *id;
    const char *title;
    const char *media_type;
    int year;
    const char *poster;
    const char *feed;
    const char *overview;
};

void expect_rows(const Row *rows, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const Row &r = rows[i];
        SCOPED_TRACE(r.index);
        EXPECT_STREQ(oxmeta_result_source(r.index), "ITUNES");
        EXPECT_STREQ(oxmeta_result_id(r.index), r.id);
        EXPECT_STREQ(oxmeta_result_title(r.index), r.title);
        EXPECT_STREQ(oxmeta_result_media_type(r.index), r.media_type);
        EXPECT_EQ(oxmeta_result_year(r.index), r.year);
        EXPECT_STREQ(oxmeta_result_poster_path(r.index), r.poster);
        EXPECT_STREQ(oxmeta_result_feed_url(r.index), r.feed);
        EXPECT_STREQ(oxmeta_result_overview(r.index), r.overview);
        EXPECT_STREQ(oxmeta_result_imdb_id(r.index), "");
        EXPECT_STREQ(oxmeta_result_original_title(r.index), "");
        EXPECT_STREQ(oxmeta_result_backdrop_path(r.index), "");
        EXPECT_EQ(oxmeta_result_rating_permille(r.index), -1);
        EXPECT_EQ(oxmeta_result_popularity_permille(r.index), -1);
    }
}

TEST_F(ItunesTest, RealisticPodcastSearch) {
    const std::string body = read_fixture("itunes_podcast_search.json");
    ox_fake_set("GET", search_url("science", 5).c_str(), 200, body.c_str());
    ASSERT_EQ(oxmeta_itunes_search("science", "podcast", 5, "US"), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 5);
    EXPECT_EQ(oxmeta_total_results(), 5);
    const std::string art = "https://is1-ssl.mzstatic.com/image/thumb/Podcasts";
    const std::string daily = art + "125/v4/0d/b4/a8/0db4a8b4/mza_1.jpg/600x600bb.jpg";
    const std::string radiolab = art + "211/v4/51/12/b8/5112b847/mza_4.jpg/100x100bb.jpg";
    const Row rows[] = {
        {0, "1200361736", "The Daily", "podcast", 2026, daily.c_str(), "https://feeds.simplecast.com/54nAGcIl", ""},
        // An empty 600-pixel artwork falls back to the 100-pixel one.
        {3, "73330895", "Radiolab", "podcast", 2026, radiolab.c_str(), "http://feeds.wnyc.org/radiolab", ""},
    };
    expect_rows(rows, std::size(rows));
    EXPECT_STREQ(oxmeta_result_title(4), "H\xC3\xB6rspiel & Feature \xE2\x80\x94 Deutschlandfunk");
}

TEST_F(ItunesTest, MixedMediaReply) {
    const std::string body = read_fixture("itunes_mixed.json");
    ox_fake_set("GET", (kBase + "lookup?id=909253").c_str(), 200, body.c_str());
    ASSERT_EQ(oxmeta_itunes_lookup(909253), OXMETA_OK);
    ASSERT_EQ(oxmeta_result_count(), 6);
    EXPECT_EQ(oxmeta_total_results(), 6);
    const Row rows[] = {
        // A podcast episode: "feedUrl" makes it a podcast, the collection id wins.
        {0, "1200361736", "The Daily", "podcast", 2026, "https://is1-ssl.mzstatic.com/image/thumb/ep/600x600bb.jpg",
         "https://feeds.simplecast.com/54nAGcIl", "Short description."},
        {1, "271469518", "The Matrix", "movie", 1999, "https://is1-ssl.mzstatic.com/image/thumb/Video/100x100bb.jpg", "",
         "Thomas A. Anderson is a man living two lives."},
        // A song: empty collection name and 100-pixel artwork are passed over.
        {2, "1440857781", "Upside Down", "song", 2006, "https://is1-ssl.mzstatic.com/image/thumb/Music/60x60bb.jpg",
         "", ""},
        // A collection whose id is a real number: the artist id is taken.
        {3, "909253", "Jack Johnson", "", 2006, "https://is1-ssl.mzstatic.com/image/thumb/Music/100x100bb.jpg", "", ""},
        {4, "-5", "Pilot", "tv", -1, "", "", ""},
        // An element that is no object still makes a record.
        {5, "0", "", "", -1, "", "", ""},
    };
    expect_rows(rows, std::size(rows));
}

TEST_F(ItunesTest, ItemRules) {
    const struct {
        const char *item;
        const char *id;
        const char *title;
        const char *media_type;
    } cases[] = {
        {R"({"collectionId":1,"trackId":2,"artistId":3})", "1", "", ""},
        {R"({"collectionId":"1","trackId":2})", "2", "", ""},
        {R"({"collectionId":1.5,"trackId":null,"artistId":3})", "3", "", ""},
        {R"({"collectionId":1e3})", "0", "", ""},
        {R"({"collectionId":9223372036854775807})", "9223372036854775807", "", ""},
        {R"({"collectionId":-9223372036854775808})", "-9223372036854775808", "", ""},
        // Beyond the signed range the exact unsigned value is kept.
        {R"({"collectionId":18446744073709551615})", "18446744073709551615", "", ""},
        // Beyond 64 bits the number is no integer any more.
        {R"({"collectionId":18446744073709551616,"trackId":4})", "4", "", ""},
        {R"({"collectionId":5,"collectionId":6})", "5", "", ""},
        {R"({"collectionName":"","trackName":"","artistName":""})", "0", "", ""},
        {R"({"collectionName":"C","trackName":"T","artistName":"A"})", "0", "C", ""},
        {R"({"collectionName":1,"trackName":"T"})", "0", "T", ""},
        {R"({"artistName":"A"})", "0", "A", ""},
        {R"({"kind":"feature-movie"})", "0", "", "movie"},
        {R"({"kind":"movie"})", "0", "", "movie"},
        {R"({"kind":"tv-episode"})", "0", "", "tv"},
        {R"({"kind":"podcast-episode"})", "0", "", "podcast"},
        {R"({"kind":"my-podcasts"})", "0", "", "podcast"},
        {R"({"kind":"Podcast"})", "0", "", "Podcast"},
        {R"({"kind":"ebook"})", "0", "", "ebook"},
        {R"({"kind":""})", "0", "", ""},
        {R"({"kind":7})", "0", "", ""},
        {R"({"kind":"song","feedUrl":""})", "0", "", "podcast"},
        {R"({"kind":"song","feedUrl":null})", "0", "", "song"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(search_items(std::string("[") + c.item + "]"), OXMETA_OK) << c.item;
        EXPECT_STREQ(oxmeta_result_id(0), c.id) << c.item;
        EXPECT_STREQ(oxmeta_result_title(0), c.title) << c.item;
        EXPECT_STREQ(oxmeta_result_media_type(0), c.media_type) << c.item;
    }
    ASSERT_EQ(search_items(R"([{"longDescription":"","description":"D","artworkUrl600":"","artworkUrl100":"",)"
                           R"("artworkUrl60":""}, {"longDescription":"L","description":"D","releaseDate":"2019"}])"),
              OXMETA_OK);
    EXPECT_STREQ(oxmeta_result_overview(0), "D");
    EXPECT_STREQ(oxmeta_result_poster_path(0), "");
    EXPECT_STREQ(oxmeta_result_overview(1), "L");
    EXPECT_EQ(oxmeta_result_year(1), 2019);
}

}  // namespace
