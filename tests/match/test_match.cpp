// TMDb searches by kind, episode and movie lookups, and oxmeta_tmdb_match,
// through the shipped shared library loaded at run time and the fake
// transport scripted with replies as TMDb writes them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../dl/oxmeta_dl.h"
#include "replies.h"

namespace {

using replies::item;

oxmeta_dl &ox() {
    static oxmeta_dl dl;
    static const bool opened = dl.open(OXMETA_LIBRARY_FILE);
    EXPECT_TRUE(opened) << OXMETA_LIBRARY_FILE;
    return dl;
}

class Tmdb : public ::testing::Test {
protected:
    void SetUp() override {
        ox().oxmeta_shutdown();
        ox().oxmeta_use_fake();
        ASSERT_EQ(ox().oxmeta_tmdb_set_key(replies::kKey), OXMETA_OK);
    }
    void TearDown() override { ox().oxmeta_shutdown(); }

    static int requests() { return ox().ox_fake_calls(nullptr, nullptr); }
    static std::string last_error() { return ox().oxmeta_last_error(); }
    static void script(const std::string &url, const std::string &body, int status = 200) {
        ASSERT_EQ(ox().ox_fake_set("GET", url.c_str(), status, body.c_str()), OXMETA_OK);
    }
};

// ------------------------------------------------------------ operations

TEST_F(Tmdb, SearchesAskForTheirKindWithTheYearOnlyWhenGiven) {
    struct {
        bool tv;
        int year;
        const char *url_tail;
    } const cases[] = {
        {false, 1982, "/search/movie?query=blade%20runner&include_adult=false&page=2&year=1982"},
        {false, 0, "/search/movie?query=blade%20runner&include_adult=false&page=2"},
        {false, -5, "/search/movie?query=blade%20runner&include_adult=false&page=2"},
        {true, 2005, "/search/tv?query=blade%20runner&include_adult=false&page=2&first_air_date_year=2005"},
        {true, 0, "/search/tv?query=blade%20runner&include_adult=false&page=2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url_tail);
        ox().ox_fake_reset();
        const std::string url = replies::with_credentials(c.url_tail);
        const std::string page = "{\"page\":2,\"total_pages\":3,\"total_results\":41,\"results\":[" +
                                 replies::item_json(c.tv, {78, "Blade Runner", "Blade Runner", "1982-06-25", 60, 13000}) +
                                 "]}";
        script(url, page);
        const int rc = c.tv ? ox().oxmeta_tmdb_search_tv("blade runner", c.year, 2)
                            : ox().oxmeta_tmdb_search_movie("blade runner", c.year, 2);
        ASSERT_EQ(rc, OXMETA_OK) << last_error();
        EXPECT_EQ(ox().ox_fake_calls("GET", url.c_str()), 1);
        EXPECT_EQ(ox().oxmeta_result_count(), 1);
        EXPECT_STREQ(ox().oxmeta_result_media_type(0), c.tv ? "tv" : "movie");
        EXPECT_STREQ(ox().oxmeta_result_title(0), "Blade Runner");
        EXPECT_EQ(ox().oxmeta_result_year(0), 1982);
        EXPECT_EQ(ox().oxmeta_total_pages(), 3);
        EXPECT_EQ(ox().oxmeta_total_results(), 41);
        EXPECT_EQ(ox().oxmeta_page(), 2);
        EXPECT_EQ(ox().oxmeta_result_match_score(0), -1);  // a search is not a match
    }
}

TEST_F(Tmdb, RefusedArgumentsSendNothing) {
    struct {
        int rc;
        const char *message;
        int (*call)();
    } const cases[] = {
        {OXMETA_E_INVALID_ARG, "search_movie: query required, page >= 1", [] { return ox().oxmeta_tmdb_search_movie("", 0, 1); }},
        {OXMETA_E_INVALID_ARG, "search_movie: query required, page >= 1", [] { return ox().oxmeta_tmdb_search_movie("x", 0, 0); }},
        {OXMETA_E_INVALID_ARG, "search_tv: query required, page >= 1", [] { return ox().oxmeta_tmdb_search_tv(nullptr, 0, 1); }},
        {OXMETA_E_INVALID_ARG, "tv_episode: tv_id > 0, season >= 0, episode >= 1", [] { return ox().oxmeta_tmdb_tv_episode(0, 1, 1); }},
        {OXMETA_E_INVALID_ARG, "tv_episode: tv_id > 0, season >= 0, episode >= 1", [] { return ox().oxmeta_tmdb_tv_episode(5, -1, 1); }},
        {OXMETA_E_INVALID_ARG, "tv_episode: tv_id > 0, season >= 0, episode >= 1", [] { return ox().oxmeta_tmdb_tv_episode(5, 1, 0); }},
        {OXMETA_E_INVALID_ARG, "movie_detail: movie_id > 0", [] { return ox().oxmeta_tmdb_movie_detail(-3); }},
        {OXMETA_E_INVALID_ARG, "match: path required", [] { return ox().oxmeta_tmdb_match(""); }},
        {OXMETA_E_INVALID_ARG, "match: path required", [] { return ox().oxmeta_tmdb_match(nullptr); }},
        {OXMETA_E_INVALID_ARG, "match: no title in \"/films/...\"", [] { return ox().oxmeta_tmdb_match("/films/..."); }},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), c.rc) << c.message;
        EXPECT_EQ(last_error(), c.message);
    }
    EXPECT_EQ(requests(), 0);
}

TEST_F(Tmdb, EpisodeIsOneRecordFromItsOwnMembers) {
    const std::string url = replies::episode_url(1399, 3, 9);
    script(url, replies::episode_reply(63141, "The Rains of Castamere", "2013-06-02", 3, 9));
    ASSERT_EQ(ox().oxmeta_tmdb_tv_episode(1399, 3, 9), OXMETA_OK) << last_error();
    EXPECT_EQ(ox().oxmeta_result_count(), 1);
    EXPECT_STREQ(ox().oxmeta_result_id(0), "63141");
    EXPECT_STREQ(ox().oxmeta_result_title(0), "The Rains of Castamere");
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "An episode.");
    EXPECT_EQ(ox().oxmeta_result_year(0), 2013);
    EXPECT_STREQ(ox().oxmeta_result_poster_path(0), "/s63141.jpg");
    EXPECT_EQ(ox().oxmeta_result_rating_permille(0), 740);
    EXPECT_STREQ(ox().oxmeta_result_media_type(0), "episode");

    // Season 0 holds the specials; a reply that is not an object keeps the store.
    script(replies::episode_url(1399, 0, 1), "[1]");
    EXPECT_EQ(ox().oxmeta_tmdb_tv_episode(1399, 0, 1), OXMETA_E_JSON);
    EXPECT_EQ(last_error(), "tv_episode: not an object");
    EXPECT_STREQ(ox().oxmeta_result_id(0), "63141");
}

TEST_F(Tmdb, SeasonIsItsEpisodesWithTheirNumbers) {
    // TMDb numbers this show's episodes across its seasons: season 5
    // holds episodes 89 to 112.
    std::vector<replies::episode> fifth;
    for (int n = 89; n <= 112; ++n) fifth.push_back({5000 + n, n, "Episode", "2011-04-01"});
    fifth[0] = {5089, 89, "Hour of Decision", "2011-04-01", ""};
    script(replies::season_url(1433, 5), replies::season_reply(1433, 5, fifth));
    const int pages = ox().oxmeta_total_pages();  // paging survives a shutdown
    ASSERT_EQ(ox().oxmeta_tmdb_tv_season(1433, 5), OXMETA_OK) << last_error();
    ASSERT_EQ(ox().oxmeta_result_count(), 24);
    EXPECT_STREQ(ox().oxmeta_result_id(0), "5089");
    EXPECT_STREQ(ox().oxmeta_result_title(0), "Hour of Decision");
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "");
    EXPECT_STREQ(ox().oxmeta_result_media_type(0), "episode");
    EXPECT_STREQ(ox().oxmeta_result_poster_path(0), "/s5089.jpg");
    EXPECT_EQ(ox().oxmeta_result_year(0), 2011);
    EXPECT_EQ(ox().oxmeta_result_rating_permille(0), 740);
    EXPECT_EQ(ox().oxmeta_result_season_number(23), 5);
    EXPECT_EQ(ox().oxmeta_result_episode_number(23), 112);
    for (int bad : {-1, 24}) {
        EXPECT_EQ(ox().oxmeta_result_season_number(bad), -1);
        EXPECT_EQ(ox().oxmeta_result_episode_number(bad), -1);
    }
    EXPECT_EQ(ox().oxmeta_total_pages(), pages);  // not a listing
    EXPECT_EQ(ox().oxmeta_tv_season_count(), 0);

    // Season 0 holds the specials; an element without an episode number is
    // no episode.
    script(replies::season_url(1433, 0),
           R"({"_id":"a","season_number":0,"episodes":[{"id":7,"name":"Special","episode_number":1,
                "season_number":0},{"id":8,"name":"Odd"}]})");
    ASSERT_EQ(ox().oxmeta_tmdb_tv_season(1433, 0), OXMETA_OK) << last_error();
    EXPECT_EQ(ox().oxmeta_result_season_number(0), 0);
    EXPECT_EQ(ox().oxmeta_result_episode_number(0), 1);
    EXPECT_EQ(ox().oxmeta_result_season_number(1), -1);
    EXPECT_EQ(ox().oxmeta_result_episode_number(1), -1);

    // Results of other operations are no episodes.
    script(replies::search_url(true, "Doctor Who", 0), replies::search_page(true, {{57243, "Doctor Who", "Doctor Who", "2005-03-26", 1, 1}}));
    ASSERT_EQ(ox().oxmeta_tmdb_search_tv("Doctor Who", 0, 1), OXMETA_OK);
    EXPECT_EQ(ox().oxmeta_result_season_number(0), -1);
    EXPECT_EQ(ox().oxmeta_result_episode_number(0), -1);
}

TEST_F(Tmdb, SeasonFailuresSayWhat) {
    struct {
        int tv_id, season;
        const char *body;
        int status;
        int rc;
        const char *message;
    } const cases[] = {
        {0, 1, "", 200, OXMETA_E_INVALID_ARG, "tv_season: tv_id > 0, season >= 0"},
        {1433, -1, "", 200, OXMETA_E_INVALID_ARG, "tv_season: tv_id > 0, season >= 0"},
        {1433, 40,
         R"({"success":false,"status_code":34,"status_message":"The resource you requested could not be found."})",
         404, OXMETA_E_HTTP, "TMDb HTTP 404"},
        {1433, 9, R"({"_id":"b","season_number":9,"episodes":[]})", 200, OXMETA_E_NOT_FOUND,
         "tv_season: TMDb lists no episodes in season 9 of show 1433"},
        {1433, 8, "[]", 200, OXMETA_E_JSON, "tv_season: not an object"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        script(replies::season_url(1433, 1), replies::season_reply(1433, 1, {{1, 1, "Pilot"}}));
        ASSERT_EQ(ox().oxmeta_tmdb_tv_season(1433, 1), OXMETA_OK);
        if (c.tv_id > 0 && c.season >= 0) script(replies::season_url(c.tv_id, c.season), c.body, c.status);
        EXPECT_EQ(ox().oxmeta_tmdb_tv_season(c.tv_id, c.season), c.rc);
        EXPECT_EQ(last_error(), c.message);
        // Only a reply that lists no episodes empties the store.
        EXPECT_EQ(ox().oxmeta_result_count(), c.rc == OXMETA_E_NOT_FOUND ? 0 : 1);
    }
}

// French replies as TMDb gives them where it has no French text: the
// fallback language fills an empty title, overview or episode name, then
// the original language; present text is left alone.
TEST_F(Tmdb, AFallbackLanguageFillsOnlyWhatIsEmpty) {
    ASSERT_EQ(ox().oxmeta_set_language("fr-FR"), OXMETA_OK);
    const std::string movie_url =
        replies::with_credentials("/movie/78?append_to_response=external_ids,translations", "fr-FR");
    script(movie_url, R"({"id":78,"imdb_id":"tt0083658","original_language":"en","original_title":"Blade Runner",
        "overview":"","release_date":"1982-06-25","title":"Blade Runner","vote_average":7.9,
        "external_ids":{"imdb_id":"tt0083658"},"translations":{"translations":[
        {"iso_3166_1":"GB","iso_639_1":"en","name":"English","english_name":"English","data":{"homepage":"","overview":"British text.","runtime":117,"tagline":"","title":""}},
        {"iso_3166_1":"US","iso_639_1":"en","name":"English","english_name":"English","data":{"homepage":"","overview":"In the smog-choked dystopian Los Angeles of 2019, blade runner Rick Deckard is called out of retirement.","runtime":117,"tagline":"Man has made his match... now it's his problem.","title":"Blade Runner"}},
        {"iso_3166_1":"FR","iso_639_1":"fr","name":"Français","english_name":"French","data":{"homepage":"","overview":"","runtime":0,"tagline":"","title":""}}]}})");
    // Without a fallback nothing changes: no translations asked for.
    const std::string plain_url = replies::with_credentials("/movie/78?append_to_response=external_ids", "fr-FR");
    script(plain_url, R"({"id":78,"title":"Blade Runner","overview":"","release_date":"1982-06-25"})");
    ASSERT_EQ(ox().oxmeta_tmdb_movie_detail(78), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "");
    EXPECT_EQ(ox().ox_fake_calls("GET", plain_url.c_str()), 1);

    ASSERT_EQ(ox().oxmeta_set_language_fallback("en-US"), OXMETA_OK);
    ASSERT_EQ(ox().oxmeta_tmdb_movie_detail(78), OXMETA_OK) << last_error();
    EXPECT_EQ(ox().ox_fake_calls("GET", movie_url.c_str()), 1);
    EXPECT_STREQ(ox().oxmeta_result_title(0), "Blade Runner");
    EXPECT_STREQ(ox().oxmeta_result_overview(0),
                 "In the smog-choked dystopian Los Angeles of 2019, blade runner Rick Deckard is called out of retirement.");
    EXPECT_STREQ(ox().oxmeta_result_imdb_id(0), "tt0083658");

    // A French overview stays; no English one replaces it.
    script(replies::with_credentials("/tv/57243?append_to_response=translations", "fr-FR"),
           R"({"id":57243,"name":"Doctor Who","original_language":"en","original_name":"Doctor Who",
           "overview":"Le Docteur voyage dans le temps et l'espace.","first_air_date":"2005-03-26","seasons":[],
           "translations":{"translations":[{"iso_3166_1":"US","iso_639_1":"en","name":"English","english_name":"English",
           "data":{"name":"Doctor Who","overview":"The Doctor is a Time Lord.","homepage":"","tagline":""}}]}})");
    ASSERT_EQ(ox().oxmeta_tmdb_tv_detail(57243), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "Le Docteur voyage dans le temps et l'espace.");

    // Neither French nor English: the original language's text.
    script(replies::with_credentials("/tv/30991?append_to_response=translations", "fr-FR"),
           R"({"id":30991,"name":"","original_language":"ja","original_name":"カウボーイビバップ","overview":"",
           "first_air_date":"1998-04-03","seasons":[],"translations":{"translations":[
           {"iso_3166_1":"JP","iso_639_1":"ja","name":"日本語","english_name":"Japanese",
            "data":{"name":"","overview":"2071年、宇宙。","homepage":"","tagline":""}}]}})");
    ASSERT_EQ(ox().oxmeta_tmdb_tv_detail(30991), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_result_title(0), "カウボーイビバップ");
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "2071年、宇宙。");

    // An episode with no French name.
    script(replies::with_credentials("/tv/57243/season/1/episode/1?append_to_response=translations", "fr-FR"),
           R"({"air_date":"2005-03-26","episode_number":1,"id":941244,"name":"","overview":"","season_number":1,
           "still_path":null,"vote_average":7.2,"translations":{"translations":[{"iso_3166_1":"US","iso_639_1":"en",
           "name":"English","english_name":"English","data":{"name":"Rose","overview":"Rose Tyler meets the Doctor."}}]}})");
    ASSERT_EQ(ox().oxmeta_tmdb_tv_episode(57243, 1, 1), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_result_title(0), "Rose");
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "Rose Tyler meets the Doctor.");

    // A season with an episode lacking its overview is asked again in the
    // fallback language, once; the French text present stays.
    const std::string french = replies::season_url(57243, 1, "fr-FR");
    const std::string english = replies::season_url(57243, 1, "en-US");
    script(french, replies::season_reply(57243, 1, {{941244, 1, "Rose", "2005-03-26", "Rose rencontre le Docteur."},
                                                    {941245, 2, "", "2005-04-02", ""}}));
    script(english, replies::season_reply(57243, 1, {{941244, 1, "Rose", "2005-03-26", "Rose meets the Doctor."},
                                                     {941245, 2, "The End of the World", "2005-04-02", "Five billion years on."}}));
    ASSERT_EQ(ox().oxmeta_tmdb_tv_season(57243, 1), OXMETA_OK) << last_error();
    EXPECT_EQ(ox().ox_fake_calls("GET", english.c_str()), 1);
    EXPECT_STREQ(ox().oxmeta_result_overview(0), "Rose rencontre le Docteur.");
    EXPECT_STREQ(ox().oxmeta_result_title(1), "The End of the World");
    EXPECT_STREQ(ox().oxmeta_result_overview(1), "Five billion years on.");

    // "" sets none again.
    ASSERT_EQ(ox().oxmeta_set_language_fallback(""), OXMETA_OK);
    ASSERT_EQ(ox().oxmeta_tmdb_tv_season(57243, 1), OXMETA_OK);
    EXPECT_EQ(ox().ox_fake_calls("GET", english.c_str()), 1);
    EXPECT_STREQ(ox().oxmeta_result_title(1), "");
}

TEST_F(Tmdb, MovieDetailCarriesTheImdbId) {
    const std::string url = replies::with_credentials("/movie/78?append_to_response=external_ids");
    struct {
        const char *body;
        const char *imdb;
    } const cases[] = {
        {R"({"id":78,"title":"Blade Runner","original_title":"Blade Runner","release_date":"1982-06-25",
             "imdb_id":"tt0083658","vote_average":7.9,"external_ids":{"imdb_id":"tt0083658"}})",
         "tt0083658"},
        // Only the appended ids name it.
        {R"({"id":78,"title":"Blade Runner","release_date":"1982-06-25","imdb_id":null,
             "external_ids":{"imdb_id":"tt0083658","wikidata_id":"Q184843"}})",
         "tt0083658"},
        {R"({"id":78,"title":"Blade Runner","release_date":"1982-06-25"})", ""},
    };
    for (const auto &c : cases) {
        script(url, c.body);
        ASSERT_EQ(ox().oxmeta_tmdb_movie_detail(78), OXMETA_OK) << last_error();
        EXPECT_EQ(ox().oxmeta_result_count(), 1);
        EXPECT_STREQ(ox().oxmeta_result_imdb_id(0), c.imdb);
        EXPECT_STREQ(ox().oxmeta_result_title(0), "Blade Runner");
        EXPECT_STREQ(ox().oxmeta_result_media_type(0), "movie");
        EXPECT_EQ(ox().oxmeta_result_year(0), 1982);
    }
    script(url, R"({"status_code":34,"status_message":"The resource you requested could not be found."})", 404);
    EXPECT_EQ(ox().oxmeta_tmdb_movie_detail(78), OXMETA_E_HTTP);
    EXPECT_EQ(last_error(), "TMDb HTTP 404");
    EXPECT_EQ(ox().oxmeta_result_count(), 1);  // the failed request kept the store
}

// The percent-decoded value of parameter `name` in url, or "\x01" when the
// URL is not well formed (a "%" without two hex digits after it).
std::string query_value(const std::string &url, const std::string &name) {
    for (size_t at = 0; at < url.size(); ++at) {
        if (url[at] == '%' && (at + 2 >= url.size() || !std::isxdigit(static_cast<unsigned char>(url[at + 1])) ||
                               !std::isxdigit(static_cast<unsigned char>(url[at + 2]))))
            return "\x01";
    }
    size_t at = url.find("?" + name + "=");
    if (at == std::string::npos) return "\x01";
    at += name.size() + 2;
    std::string value;
    for (; at < url.size() && url[at] != '&'; ++at) {
        if (url[at] == '%') {
            value += static_cast<char>(std::stoi(url.substr(at + 1, 2), nullptr, 16));
            at += 2;
        } else {
            value += url[at];
        }
    }
    return value;
}

// The longest start of text, in whole characters, whose escaped form
// takes at most room bytes.
std::string clipped(const std::string &text, size_t room) {
    size_t keep = 0;
    while (keep < text.size()) {
        size_t next = keep + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        if (replies::escape(text.substr(0, next)).size() > room) break;
        keep = next;
    }
    return text.substr(0, keep);
}

TEST_F(Tmdb, LongTitlesAreClippedAtACharacterWithEveryParameterKept) {
    std::string title;  // 250 bytes: 83 CJK characters and a digit
    while (title.size() < 249) title += "\xE6\x9D\xB1";  // 東
    title += "2";
    ASSERT_EQ(title.size(), 250u);
    ASSERT_EQ(ox().oxmeta_omdb_set_key("k3y"), OXMETA_OK);
    struct {
        const char *label;
        int (*call)(const char *);
        const char *parameter;
        const char *tail;  // what must follow the query, as sent
    } const cases[] = {
        {"search_movie", [](const char *q) { return ox().oxmeta_tmdb_search_movie(q, 2001, 1); }, "query",
         "&include_adult=false&page=1&year=2001&api_key=***&language=en-US"},
        {"search_tv", [](const char *q) { return ox().oxmeta_tmdb_search_tv(q, 2001, 1); }, "query",
         "&include_adult=false&page=1&first_air_date_year=2001&api_key=***&language=en-US"},
        {"search_multi", [](const char *q) { return ox().oxmeta_tmdb_search_multi(q, 1); }, "query",
         "&page=1&include_adult=false&api_key=***&language=en-US"},
        {"omdb_by_title", [](const char *q) { return ox().oxmeta_omdb_by_title(q); }, "t", "&apikey=***"},
        {"itunes_search", [](const char *q) { return ox().oxmeta_itunes_search(q, "podcast", 10, "JP"); }, "term",
         "&media=podcast&limit=10&country=JP"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        // A title of twice the length is clipped too; nothing is answered,
        // the request sent is what counts.
        for (const std::string &query : {title, title + title}) {
            ox().ox_fake_reset();
            c.call(query.c_str());
            const std::string url = ox().oxmeta_last_url();
            const std::string sent = query_value(url, c.parameter);
            ASSERT_NE(sent, "\x01") << url;
            EXPECT_GE(sent.size(), 100u) << url;
            EXPECT_EQ(query.compare(0, sent.size(), sent), 0) << url;  // a start of the title
            const bool whole = sent.size() == query.size() ||
                               (static_cast<unsigned char>(query[sent.size()]) & 0xC0) != 0x80;
            EXPECT_TRUE(whole) << url;  // cut between two characters
            EXPECT_EQ(url.substr(url.size() - std::strlen(c.tail)), c.tail);
        }
    }
}

TEST_F(Tmdb, ALongTitleMatchesWithThreeDistinctRequests) {
    std::string title;
    while (title.size() < 249) title += "\xE6\x9D\xB1";
    title += "2";
    const std::string file = title + ".2001.mkv";
    oxmeta_name n;
    n.size = sizeof n;
    ASSERT_EQ(ox().oxmeta_parse_name(file.c_str(), &n), OXMETA_OK);
    const std::string parsed = n.title;
    ASSERT_FALSE(parsed.empty());
    // Each search's own room: the path is 511 bytes at most.
    std::vector<std::string> urls;
    for (int year : {2001, 2000, 0}) {
        const std::string tail = "&include_adult=false&page=1" + (year ? "&year=" + std::to_string(year) : "");
        const std::string query = clipped(parsed, 511 - std::strlen("/search/movie?query=") - tail.size());
        urls.push_back(replies::search_url(false, query, year));
        script(urls.back(), replies::search_page(false, {}));
    }
    EXPECT_EQ(ox().oxmeta_tmdb_match(file.c_str()), OXMETA_E_NOT_FOUND) << last_error();
    for (const std::string &url : urls) EXPECT_EQ(ox().ox_fake_calls("GET", url.c_str()), 1) << url;
    EXPECT_EQ(requests(), 3);
}

// ------------------------------------------------------------ matching

struct scripted_search {
    bool tv;
    const char *query;
    int year;
    std::vector<item> items;
};

struct scripted_episode {
    int tv_id;
    int season;
    int episode;
    int id;  // 0: TMDb has no such episode (404)
    const char *name;
};

// A lookup by an id in the path: a detail or a /find reply, or a 404.
struct scripted_lookup {
    const char *path;
    std::string body;
    int status = 200;
};

struct match_case {
    const char *label;
    const char *file;
    std::vector<scripted_search> searches;
    int expect_id;  // 0: no confident match
    int expect_requests;
    std::vector<scripted_episode> episodes = {};
    const char *episode_title = "";
    std::vector<scripted_lookup> lookups = {};
    const char *language = "en-US";  // the language the replies are written in
    int ambiguous = 0;               // the entries "match: ambiguous" names, when it should
    const char *warning = "";        // the warning the match should leave
};

// Every film and show here is as TMDb lists it (ids, titles, dates), save
// the few made up for a rule and marked so; the popularity and vote
// counts are of the same order as TMDb's.
const item kBladeRunner{78, "Blade Runner", "Blade Runner", "1982-06-25", 61.2, 13521};
const item kThing1982{1091, "The Thing", "The Thing", "1982-06-25", 52.8, 6780};
const item kThing2011{60935, "The Thing", "The Thing", "2011-10-12", 30.1, 2610};
const item kRocky{1366, "Rocky", "Rocky", "1976-11-21", 48.0, 7200};
const item kRocky2{1367, "Rocky II", "Rocky II", "1979-06-15", 30.4, 3800};
const item kRocky3{1371, "Rocky III", "Rocky III", "1982-05-28", 28.7, 3500};
const item kTerminator{218, "The Terminator", "The Terminator", "1984-10-26", 70.2, 12500};
const item kTerminator2{280, "Terminator 2: Judgment Day", "Terminator 2: Judgment Day", "1991-07-03", 64.5, 12000};
const item kUp{14160, "Up", "Up", "2009-05-28", 90.3, 19400};
const item kUpInTheAir{22947, "Up in the Air", "Up in the Air", "2009-09-05", 95.8, 4100};
const item kDrive{64690, "Drive", "Drive", "2011-09-15", 40.5, 12100};
const item kDriveAngry{47327, "Drive Angry", "Drive Angry", "2011-02-09", 45.1, 1900};
const item kParasite{496243, "Parasite", "기생충", "2019-05-30", 88.0, 17800};
const item kAmoresPerros{55, "Amores Perros", "Amores perros", "2000-06-16", 18.3, 2800};
const item kAmelie{194, "Amélie", "Le Fabuleux Destin d'Amélie Poulain", "2001-04-25", 35.6, 10900};
const item kBicycleThieves{5156, "Bicycle Thieves", "Ladri di biciclette", "1948-11-24", 14.2, 1800};
const item kMatrix{603, "The Matrix", "The Matrix", "1999-03-31", 80.1, 24000};
const item kBorat{496, "Borat: Cultural Learnings of America for Make Benefit Glorious Nation of Kazakhstan",
                  "Borat: Cultural Learnings of America for Make Benefit Glorious Nation of Kazakhstan",
                  "2006-11-01", 20.4, 6500};
const item kFastFurious{13804, "Fast & Furious", "Fast & Furious", "2009-04-02", 45.6, 6900};
const item kFastAndTheFurious{9799, "The Fast and the Furious", "The Fast and the Furious", "2001-06-22", 50.3, 10200};
const item kQuintessence{781230, "Quintessence", "Quintessence", "2017-03-02", 1.2, 3};
const item kQuintet{18164, "Quintet", "Quintet", "1979-02-08", 5.7, 160};
const item kDoctorWho2005{57243, "Doctor Who", "Doctor Who", "2005-03-26", 120.5, 2900, "GB"};
const item kDoctorWho1963{121, "Doctor Who", "Doctor Who", "1963-11-23", 40.2, 600, "GB"};
const item kOfficeUk{2996, "The Office", "The Office", "2001-07-09", 60.0, 2000, "GB"};
const item kOfficeUs{2316, "The Office", "The Office", "2005-03-24", 55.0, 1900, "US"};
const item kLawOrder{549, "Law & Order", "Law & Order", "1990-09-13", 150.2, 800, "US"};
const item kLawOrderSvu{2734, "Law & Order: Special Victims Unit", "Law & Order: Special Victims Unit",
                        "1999-09-20", 300.8, 3900, "US"};
// A sequel number where TMDb has a subtitle.
const item kShrek{808, "Shrek", "Shrek", "2001-05-18", 120.3, 16500};
const item kShrekForeverAfter{10192, "Shrek Forever After", "Shrek Forever After", "2010-05-16", 75.4, 7000};
const item kIceAgeFr{425, "L'Âge de glace", "Ice Age", "2002-03-10", 90.2, 13000};
const item kContinentalDriftFr{57800, "L'Âge de glace 4 : La Dérive des continents", "Ice Age: Continental Drift",
                               "2012-06-26", 60.3, 8000};
const item kContinentalDrift{57800, "Ice Age: Continental Drift", "Ice Age: Continental Drift", "2012-06-26", 60.3, 8000};
const item kCollisionCourse{278154, "Ice Age: Collision Course", "Ice Age: Collision Course", "2016-06-23", 45.0, 4500};
const item kSaw{176, "Saw", "Saw", "2004-10-01", 40.1, 8000};
const item kSaw2{215, "Saw II", "Saw II", "2005-10-28", 30.2, 4500};
const item kSaw3{214, "Saw III", "Saw III", "2006-10-26", 28.0, 3900};
const item kDieHard2{1573, "Die Hard 2", "Die Hard 2", "1990-07-02", 35.0, 5500};
const item kLiveFreeOrDieHard{1571, "Live Free or Die Hard", "Live Free or Die Hard", "2007-06-20", 40.0, 6500};
const item kGoodDayToDieHard{47964, "A Good Day to Die Hard", "A Good Day to Die Hard", "2013-02-06", 38.0, 5800};
const item kPhilosophersStoneDe{671, "Harry Potter und der Stein der Weisen",
                                "Harry Potter and the Philosopher's Stone", "2001-11-16", 110.0, 26000};
const item kChamberOfSecretsDe{672, "Harry Potter und die Kammer des Schreckens",
                               "Harry Potter and the Chamber of Secrets", "2002-11-13", 95.0, 21000};
// The file names only the subtitle.
const item kAttackOfTheClones{1894, "Star Wars: Episode II - Attack of the Clones",
                              "Star Wars: Episode II - Attack of the Clones", "2002-05-15", 45.0, 13500};
const item kTwoTowers{121, "The Lord of the Rings: The Two Towers", "The Lord of the Rings: The Two Towers",
                      "2002-12-18", 85.0, 20000};
const item kTwoTowersDe{121, "Der Herr der Ringe: Die zwei Türme", "The Lord of the Rings: The Two Towers",
                        "2002-12-18", 85.0, 20000};
const item kDeadMansChest{58, "Pirates of the Caribbean: Dead Man's Chest",
                          "Pirates of the Caribbean: Dead Man's Chest", "2006-07-06", 70.0, 15000};
const item kTintinFr{17578, "Les Aventures de Tintin : Le Secret de la Licorne", "The Adventures of Tintin",
                     "2011-10-25", 30.0, 6000};
// A brand or author in front.
const item kJackRyan{73375, "Tom Clancy's Jack Ryan", "Tom Clancy's Jack Ryan", "2018-08-30", 50.0, 1500, "US"};
const item kRunaways{67466, "Marvel's Runaways", "Marvel's Runaways", "2017-11-21", 25.0, 800, "US"};
const item kLorax{73723, "Dr. Seuss' The Lorax", "Dr. Seuss' The Lorax", "2012-03-01", 30.0, 3800};
const item kPoirotDe{790, "Agatha Christie's Poirot", "Agatha Christie's Poirot", "1989-01-08", 30.0, 700, "GB"};
const item kDevilsAdvocate{1813, "The Devil's Advocate", "The Devil's Advocate", "1997-10-17", 40.0, 5900};
// A show with a subtitle.
const item kLastAirbender{246, "Avatar: The Last Airbender", "Avatar: The Last Airbender", "2005-02-21", 90.0, 4000,
                          "US"};
const item kLastAirbender2024{82452, "Avatar: The Last Airbender", "Avatar: The Last Airbender", "2024-02-22", 60.0,
                              900, "US"};
const item kKorra{33880, "The Legend of Korra", "The Legend of Korra", "2012-04-14", 40.0, 1800, "US"};
const item kArcane{94605, "Arcane: League of Legends", "Arcane: League of Legends", "2021-11-06", 80.0, 4200, "US,FR"};
// A year that belongs to the title (made-up entries, as the rule's own case).
const item kEventGames{990101, "Event Games", "Event Games", "", 3.1, 12, "GB"};
const item kEventGames2006{990102, "Event Games 2006", "Event Games 2006", "2006-02-10", 1.5, 4, "GB"};
const item kEventGamesFilm{990201, "Event Games", "Event Games", "2010-05-01", 2.2, 9};
const item kEventGames2006Film{990202, "Event Games 2006", "Event Games 2006", "2006-09-01", 1.1, 3};
// Ties nothing in the name decides.
const item kDune2021{438631, "Dune", "Dune", "2021-09-15", 95.3, 12000};
const item kDune1984{841, "Dune", "Dune", "1984-12-14", 35.4, 2900};
const item kAvatar{19995, "Avatar", "Avatar", "2009-12-15", 110.2, 31000};
const item kAvatar2004{53417, "Avatar", "Avatar", "2004-02-19", 1.9, 25};  // made up: an obscure namesake
const item kShamelessUs{34307, "Shameless", "Shameless", "2011-01-09", 150.0, 2400, "US"};
const item kShamelessUk{1906, "Shameless", "Shameless", "2004-01-13", 30.0, 400, "GB"};
const item kMiserables2012{82695, "Les Misérables", "Les Misérables", "2012-12-18", 40.0, 4500};
const item kMiserables2019{586863, "Les Misérables", "Les Misérables", "2019-11-20", 20.0, 1400};
const item kMiserables1998{4415, "Les Misérables", "Les Misérables", "1998-05-01", 15.0, 700};
// Titles of digits and signs ("#9" and "9½" made up beside the real "9").
const item kNine{12244, "9", "9", "2009-08-19", 25.0, 3400};
const item kHashNine{990301, "#9", "#9", "2009-03-01", 2.0, 400};
const item kNineHalf{990302, "9½", "9½", "2009-06-01", 1.5, 350};
const item kPlusOne{157360, "+1", "+1", "2013-09-20", 12.0, 600};
const item kOne{199373, "1", "1", "2013-09-13", 6.0, 120};
const item kTenThings{4951, "10 Things I Hate About You", "10 Things I Hate About You", "1999-03-31", 60.0, 7500};
const item kTen{9051, "10", "10", "1979-10-05", 9.0, 300};
const item k1883{118357, "1883", "1883", "2021-12-19", 60.0, 1500, "US"};
const item k1923{157744, "1923", "1923", "2022-12-18", 45.0, 700, "US"};
// Ids in the path.
const item kPulpFiction{680, "Pulp Fiction", "Pulp Fiction", "1994-09-10", 80.0, 27000};
const item kSimpsons{456, "The Simpsons", "The Simpsons", "1989-12-17", 200.0, 9000, "US"};
const item kBreakingBad{1396, "Breaking Bad", "Breaking Bad", "2008-01-20", 300.0, 13000, "US"};
const item kHeat{949, "Heat", "Heat", "1995-12-15", 40.0, 7000};

const std::string kNotFoundBody =
    R"({"success":false,"status_code":34,"status_message":"The resource you requested could not be found."})";

const std::vector<match_case> kCases = {
    {"the year given picks the film", "Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv",
     {{false, "Blade Runner", 1982, {kBladeRunner}}}, 78, 1},
    {"remake: the original by its year", "The.Thing.1982.1080p.BluRay.x264.mkv",
     {{false, "The Thing", 1982, {kThing2011, kThing1982}}}, 1091, 1},
    {"remake: the remake by its year", "The Thing (2011)/The.Thing.2011.720p.BluRay.x264-SPARKS.mkv",
     {{false, "The Thing", 2011, {kThing1982, kThing2011}}}, 60935, 1},
    {"sequel in Roman numerals", "Rocky.II.1979.REMASTERED.1080p.BluRay.mkv",
     {{false, "Rocky II", 1979, {kRocky, kRocky2, kRocky3}}}, 1367, 1},
    {"sequel in digits against Roman numerals", "Rocky 2 (1979).mkv",
     {{false, "Rocky 2", 1979, {kRocky, kRocky3, kRocky2}}}, 1367, 1},
    {"sequel number with a subtitle", "Terminator.2.Judgment.Day.1991.DC.1080p.mkv",
     {{false, "Terminator 2 Judgment Day", 1991, {kTerminator, kTerminator2}}}, 280, 1},
    {"one word beside a longer title", "Up.2009.1080p.BluRay.x264.mkv",
     {{false, "Up", 2009, {kUpInTheAir, kUp}}}, 14160, 1},
    {"one word beside a longer, more popular title", "Drive.2011.720p.mkv",
     {{false, "Drive", 2011, {kDriveAngry, kDrive}}}, 64690, 1},
    {"year one after the release", "Parasite.2020.1080p.WEB-DL.mkv",
     {{false, "Parasite", 2020, {kParasite}}}, 496243, 1},
    {"year one after, found with the year before", "Amores.Perros.2001.DVDRip.XviD.avi",
     {{false, "Amores Perros", 2000, {kAmoresPerros}}}, 55, 2},
    {"original title in the file name", "Le.Fabuleux.Destin.d.Amelie.Poulain.2001.1080p.BluRay.mkv",
     {{false, "Le Fabuleux Destin d Amelie Poulain", 2001, {kAmelie}}}, 194, 1},
    {"original title with accents and case", "Ladri di Biciclette (1948).mkv",
     {{false, "Ladri di Biciclette", 1948, {kBicycleThieves}}}, 5156, 1},
    {"leading article missing", "Matrix.1999.1080p.mkv", {{false, "Matrix", 1999, {kMatrix}}}, 603, 1},
    {"subtitle left out of the name", "Borat.2006.DVDRip.mkv", {{false, "Borat", 2006, {kBorat}}}, 496, 1},
    {"'and' for '&'", "Fast.and.Furious.2009.1080p.mkv",
     {{false, "Fast and Furious", 2009, {kFastAndTheFurious, kFastFurious}}}, 13804, 1},
    {"no year: equal titles not far apart in renown", "The Thing.mkv",
     {{false, "The Thing", 0, {kThing2011, kThing1982}}}, 0, 1, {}, "", {}, "en-US", 2},
    {"nothing matches: three searches, candidates kept", "Zorblax.Quintessence.2017.1080p.WEB.mkv",
     {{false, "Zorblax Quintessence", 2017, {kQuintessence}}, {false, "Zorblax Quintessence", 0, {kQuintessence, kQuintet}}},
     0, 3},
    {"equal title, another decade", "Blade.Runner.2019.mkv",
     {{false, "Blade Runner", 0, {kBladeRunner}}}, 0, 3},
    {"show with its year", "Doctor.Who.2005.S01E01.Rose.720p.mkv",
     {{true, "Doctor Who", 2005, {kDoctorWho2005}}}, 57243, 2, {{57243, 1, 1, 941244, "Rose"}}, "Rose"},
    {"show without a year: two series of one title", "Doctor.Who.S01E01.mkv",
     {{true, "Doctor Who", 0, {kDoctorWho1963, kDoctorWho2005}}}, 0, 1, {}, "", {}, "en-US", 2},
    {"show with a country: US", "The.Office.US.S02E01.The.Dundies.720p.mkv",
     {{true, "The Office", 0, {kOfficeUk, kOfficeUs}}}, 2316, 2, {{2316, 2, 1, 64512, "The Dundies"}}, "The Dundies"},
    {"show with a country: UK", "The Office (UK) - 1x01 - Downsize.avi",
     {{true, "The Office", 0, {kOfficeUs, kOfficeUk}}}, 2996, 2, {{2996, 1, 1, 196, "Downsize"}}, "Downsize"},
    {"show with '&', beside its spin-off", "Law.and.Order.S01E01.Prescription.for.Death.mkv",
     {{true, "Law and Order", 0, {kLawOrderSvu, kLawOrder}}}, 549, 2, {{549, 1, 1, 35391, "Prescription for Death"}},
     "Prescription for Death"},
    {"episode TMDb does not have", "Doctor.Who.2005.S40E01.mkv",
     {{true, "Doctor Who", 2005, {kDoctorWho2005}}}, 0, 2, {{57243, 40, 1, 0, ""}}},
    {"show that matches nothing: no episode lookup", "Zorblax.Chronicles.S01E02.mkv",
     {{true, "Zorblax Chronicles", 0, {kOfficeUs}}}, 0, 1},

    // A sequel number where TMDb has a subtitle: the franchise, the year.
    {.label = "sequel number, subtitle on TMDb", .file = "Shrek.4.2010.1080p.BluRay.x264.mkv",
     .searches = {{false, "Shrek 4", 2010, {kShrek, kShrekForeverAfter}}}, .expect_id = 10192, .expect_requests = 1},
    {.label = "sequel number, French reply: the original title", .file = "Ice.Age.4.2012.720p.mkv",
     .searches = {{false, "Ice Age 4", 2012, {kIceAgeFr, kContinentalDriftFr}}}, .expect_id = 57800,
     .expect_requests = 1, .language = "fr-FR"},
    {.label = "sequel number equal to a Roman numeral", .file = "Saw.3.2006.mkv",
     .searches = {{false, "Saw 3", 2006, {kSaw, kSaw3, kSaw2}}}, .expect_id = 214, .expect_requests = 1},
    {.label = "sequel number, franchise inside the title", .file = "Die.Hard.5.2013.mkv",
     .searches = {{false, "Die Hard 5", 2013, {kDieHard2, kLiveFreeOrDieHard, kGoodDayToDieHard}}},
     .expect_id = 47964, .expect_requests = 1},
    {.label = "sequel number, German reply", .file = "Harry.Potter.2.2002.mkv",
     .searches = {{false, "Harry Potter 2", 2002, {kPhilosophersStoneDe, kChamberOfSecretsDe}}}, .expect_id = 672,
     .expect_requests = 1, .language = "de-DE"},
    {.label = "sequel number, no film of that year", .file = "Ice.Age.5.2014.mkv",
     .searches = {{false, "Ice Age 5", 0, {kCollisionCourse, kContinentalDrift}}}, .expect_id = 0,
     .expect_requests = 3},
    // The file names only the subtitle.
    {.label = "subtitle alone", .file = "Attack.of.the.Clones.2002.mkv",
     .searches = {{false, "Attack of the Clones", 2002, {kAttackOfTheClones}}}, .expect_id = 1894,
     .expect_requests = 1},
    {.label = "subtitle alone, its article left out", .file = "The.Two.Towers.2002.mkv",
     .searches = {{false, "The Two Towers", 2002, {kTwoTowers}}}, .expect_id = 121, .expect_requests = 1},
    {.label = "subtitle alone, an apostrophe", .file = "Dead.Mans.Chest.2006.mkv",
     .searches = {{false, "Dead Mans Chest", 2006, {kDeadMansChest}}}, .expect_id = 58, .expect_requests = 1},
    {.label = "subtitle alone, French reply", .file = "Le.Secret.de.la.Licorne.2011.mkv",
     .searches = {{false, "Le Secret de la Licorne", 2011, {kTintinFr}}}, .expect_id = 17578, .expect_requests = 1,
     .language = "fr-FR"},
    {.label = "subtitle alone, German reply", .file = "Die.zwei.Türme.2002.mkv",
     .searches = {{false, "Die zwei Türme", 2002, {kTwoTowersDe}}}, .expect_id = 121, .expect_requests = 1,
     .language = "de-DE"},
    {.label = "subtitle alone, no year", .file = "Attack.of.the.Clones.mkv",
     .searches = {{false, "Attack of the Clones", 0, {kAttackOfTheClones}}}, .expect_id = 0, .expect_requests = 1},
    // A brand or author in front.
    {.label = "brand in front of a show", .file = "Jack.Ryan.S01E01.Pilot.mkv",
     .searches = {{true, "Jack Ryan", 0, {kJackRyan}}}, .expect_id = 73375, .expect_requests = 2,
     .episodes = {{73375, 1, 1, 1554290, "Pilot"}}, .episode_title = "Pilot"},
    {.label = "one-word brand", .file = "Runaways.S02E03.mkv", .searches = {{true, "Runaways", 0, {kRunaways}}},
     .expect_id = 67466, .expect_requests = 2, .episodes = {{67466, 2, 3, 1579012, "Gimmie Shelter"}},
     .episode_title = "Gimmie Shelter"},
    {.label = "author in front of a film, the year right", .file = "The.Lorax.2012.mkv",
     .searches = {{false, "The Lorax", 2012, {kLorax}}}, .expect_id = 73723, .expect_requests = 1},
    {.label = "author in front, German reply", .file = "Poirot.S01E01.mkv",
     .searches = {{true, "Poirot", 0, {kPoirotDe}}}, .expect_id = 790, .expect_requests = 2,
     .episodes = {{790, 1, 1, 62921, "Der Koch von Clapham"}}, .episode_title = "Der Koch von Clapham",
     .language = "de-DE"},
    {.label = "author in front of a film, no year", .file = "The.Lorax.mkv",
     .searches = {{false, "The Lorax", 0, {kLorax}}}, .expect_id = 0, .expect_requests = 1},
    {.label = "possessive after an article is no brand", .file = "Advocate.1997.mkv",
     .searches = {{false, "Advocate", 1997, {kDevilsAdvocate}}}, .expect_id = 0, .expect_requests = 3},
    // A show with a subtitle and no rival.
    {.label = "show with a subtitle, no rival", .file = "Avatar.S01E01.mkv",
     .searches = {{true, "Avatar", 0, {kLastAirbender, kKorra}}}, .expect_id = 246, .expect_requests = 2,
     .episodes = {{246, 1, 1, 1011, "The Boy in the Iceberg"}}, .episode_title = "The Boy in the Iceberg"},
    {.label = "show with a subtitle, two origins", .file = "Arcane.S01E01.mkv",
     .searches = {{true, "Arcane", 0, {kArcane}}}, .expect_id = 94605, .expect_requests = 2,
     .episodes = {{94605, 1, 1, 1953734, "Welcome to the Playground"}}, .episode_title = "Welcome to the Playground"},
    {.label = "show with a subtitle and a rival of it", .file = "Avatar.S01E01.mkv",
     .searches = {{true, "Avatar", 0, {kLastAirbender, kLastAirbender2024}}}, .expect_id = 0, .expect_requests = 1},
    {.label = "film with a subtitle needs the year", .file = "Borat.mkv",
     .searches = {{false, "Borat", 0, {kBorat}}}, .expect_id = 0, .expect_requests = 1},
    // A year that belongs to the title.
    {.label = "year in the show's title", .file = "Event.Games.2006.S01E01.mkv",
     .searches = {{true, "Event Games", 0, {kEventGames, kEventGames2006}}}, .expect_id = 990102,
     .expect_requests = 3, .episodes = {{990102, 1, 1, 990103, "Opening"}}, .episode_title = "Opening"},
    {.label = "year in the film's title", .file = "Event.Games.2006.mkv",
     .searches = {{false, "Event Games", 2006, {kEventGamesFilm, kEventGames2006Film}}}, .expect_id = 990202,
     .expect_requests = 1},
    {.label = "no year: the show without it", .file = "Event.Games.S01E01.mkv",
     .searches = {{true, "Event Games", 0, {kEventGames2006, kEventGames}}}, .expect_id = 990101,
     .expect_requests = 2, .episodes = {{990101, 1, 1, 990104, "Heats"}}, .episode_title = "Heats"},
    // Ties nothing in the name decides.
    {.label = "two films of one title, no year", .file = "Dune.mkv",
     .searches = {{false, "Dune", 0, {kDune2021, kDune1984}}}, .expect_id = 0, .expect_requests = 1, .ambiguous = 2},
    {.label = "two films of one title, the year parts them", .file = "Dune.2021.mkv",
     .searches = {{false, "Dune", 2021, {kDune2021, kDune1984}}}, .expect_id = 438631, .expect_requests = 1},
    {.label = "one of two films far better known", .file = "Avatar.mkv",
     .searches = {{false, "Avatar", 0, {kAvatar2004, kAvatar}}}, .expect_id = 19995, .expect_requests = 1},
    {.label = "a show name used in two countries", .file = "The.Office.S01E01.mkv",
     .searches = {{true, "The Office", 0, {kOfficeUs, kOfficeUk}}}, .expect_id = 0, .expect_requests = 1,
     .ambiguous = 2},
    {.label = "a show name in two countries, one better known", .file = "Shameless.S01E01.mkv",
     .searches = {{true, "Shameless", 0, {kShamelessUs, kShamelessUk}}}, .expect_id = 0, .expect_requests = 1,
     .ambiguous = 2},
    {.label = "three films of one title, French reply", .file = "Les.Miserables.mkv",
     .searches = {{false, "Les Miserables", 0, {kMiserables2012, kMiserables2019, kMiserables1998}}}, .expect_id = 0,
     .expect_requests = 1, .language = "fr-FR", .ambiguous = 3},
    // Titles of digits and signs.
    {.label = "digits alone, not with a sign", .file = "9.2009.mkv",
     .searches = {{false, "9", 2009, {kHashNine, kNine, kNineHalf}}}, .expect_id = 12244, .expect_requests = 1},
    {.label = "a sign kept", .file = "+1.2013.mkv", .searches = {{false, "+1", 2013, {kOne, kPlusOne}}},
     .expect_id = 157360, .expect_requests = 1},
    {.label = "a digit without the sign", .file = "1.2013.mkv", .searches = {{false, "1", 2013, {kPlusOne, kOne}}},
     .expect_id = 199373, .expect_requests = 1},
    {.label = "digits before words", .file = "10.Things.I.Hate.About.You.1999.mkv",
     .searches = {{false, "10 Things I Hate About You", 1999, {kTen, kTenThings}}}, .expect_id = 4951,
     .expect_requests = 1},
    {.label = "a show titled by a year", .file = "1883.S01E01.mkv", .searches = {{true, "1883", 0, {k1923, k1883}}},
     .expect_id = 118357, .expect_requests = 2, .episodes = {{118357, 1, 1, 3262145, "1883"}},
     .episode_title = "1883"},
    // An id in the path wins.
    {.label = "TMDb id in the name", .file = "Pulp Fiction (1994) [tmdbid-680].mkv", .searches = {}, .expect_id = 680,
     .expect_requests = 1, .lookups = {{"/movie/680", replies::detail_json(false, kPulpFiction)}}},
    {.label = "TMDb id whatever the title says", .file = "Wrong Title {tmdb-680}.mkv", .searches = {},
     .expect_id = 680, .expect_requests = 1, .lookups = {{"/movie/680", replies::detail_json(false, kPulpFiction)}}},
    {.label = "bare IMDb id", .file = "Pulp.Fiction.1994.tt0110912.mkv", .searches = {}, .expect_id = 680,
     .expect_requests = 1,
     .lookups = {{"/find/tt0110912?external_source=imdb_id", replies::find_reply(false, kPulpFiction)}}},
    {.label = "tagged IMDb id, French reply", .file = "Pulp Fiction (1994) [imdbid-tt0110912].mkv", .searches = {},
     .expect_id = 680, .expect_requests = 1,
     .lookups = {{"/find/tt0110912?external_source=imdb_id", replies::find_reply(false, kPulpFiction)}},
     .language = "fr-FR"},
    {.label = "TVDb id in the show's folder", .file = "The Simpsons [tvdbid-71663]/Season 01/The Simpsons - S01E01.mkv",
     .searches = {}, .expect_id = 456, .expect_requests = 2,
     .episodes = {{456, 1, 1, 62527, "Simpsons Roasting on an Open Fire"}},
     .episode_title = "Simpsons Roasting on an Open Fire",
     .lookups = {{"/find/71663?external_source=tvdb_id", replies::find_reply(true, kSimpsons)}}},
    {.label = "TMDb id of a show", .file = "Breaking Bad [tmdbid-1396]/S01E01.mkv", .searches = {}, .expect_id = 1396,
     .expect_requests = 2, .episodes = {{1396, 1, 1, 62085, "Pilot"}}, .episode_title = "Pilot",
     .lookups = {{"/tv/1396", replies::detail_json(true, kBreakingBad)}}},
    {.label = "TMDb id unknown: the search, with a warning", .file = "Blade Runner (1982) [tmdbid-999999999].mkv",
     .searches = {{false, "Blade Runner", 1982, {kBladeRunner}}}, .expect_id = 78, .expect_requests = 2,
     .lookups = {{"/movie/999999999", kNotFoundBody, 404}},
     .warning = "match: TMDb has no film for TMDb id 999999999; matched by title instead"},
    {.label = "TMDb id unknown for a show: one search left", .file = "Doctor Who (2005) [tmdbid-1]/Doctor.Who.2005.S01E01.mkv",
     .searches = {{true, "Doctor Who", 0, {kDoctorWho1963, kDoctorWho2005}}}, .expect_id = 57243,
     .expect_requests = 3, .episodes = {{57243, 1, 1, 941244, "Rose"}}, .episode_title = "Rose",
     .lookups = {{"/tv/1", kNotFoundBody, 404}},
     .warning = "match: TMDb has no show for TMDb id 1; matched by title instead"},
    {.label = "IMDb id TMDb does not list", .file = "Heat.1995.tt9999999.mkv",
     .searches = {{false, "Heat", 1995, {kHeat}}}, .expect_id = 949, .expect_requests = 2,
     .lookups = {{"/find/tt9999999?external_source=imdb_id",
                  R"({"movie_results":[],"person_results":[],"tv_results":[],"tv_episode_results":[],"tv_season_results":[]})"}},
     .warning = "match: TMDb has no film for IMDb id tt9999999; matched by title instead"},
};

class Matching : public Tmdb {
protected:
    // Every search the case may send answers with an empty page unless the
    // case scripts it.
    static void script_case(const match_case &c) {
        ASSERT_EQ(ox().oxmeta_set_language(c.language), OXMETA_OK);
        const std::string lang = c.language;
        oxmeta_name n;
        n.size = sizeof n;
        ASSERT_EQ(ox().oxmeta_parse_name(c.file, &n), OXMETA_OK);
        const bool tv = std::strcmp(n.kind, "episode") == 0;
        for (int year : {n.year, n.year - 1, 0})
            script(replies::search_url(tv, n.title, year > 0 ? year : 0, lang), replies::search_page(tv, {}));
        for (const auto &s : c.searches)
            script(replies::search_url(s.tv, s.query, s.year, lang), replies::search_page(s.tv, s.items));
        for (const auto &l : c.lookups) script(replies::with_credentials(l.path, lang), l.body, l.status);
        // One season reply holds every episode the case names in it.
        std::map<std::pair<int, int>, std::vector<replies::episode>> seasons;
        for (const auto &e : c.episodes) {
            auto &listed = seasons[{e.tv_id, e.season}];
            if (e.id) listed.push_back({e.id, e.episode, e.name});
        }
        for (const auto &[show_season, listed] : seasons) {
            const std::string url = replies::season_url(show_season.first, show_season.second, lang);
            if (listed.empty())
                script(url, kNotFoundBody, 404);
            else
                script(url, replies::season_reply(show_season.first, show_season.second, listed));
        }
    }
};

TEST_F(Matching, CasesPickTheRightEntryOrNone) {
    int with_answer = 0, right_first = 0, without_answer = 0, declined = 0;
    for (const match_case &c : kCases) {
        SCOPED_TRACE(std::string(c.label) + ": " + c.file);
        ox().ox_fake_reset();
        script_case(c);
        const int warnings = ox().oxmeta_warning_count();
        const int rc = ox().oxmeta_tmdb_match(c.file);
        const std::string best = ox().oxmeta_result_id(0);
        EXPECT_EQ(requests(), c.expect_requests);
        const bool episode_missing = !c.episodes.empty() && c.episodes[0].id == 0;
        if (c.expect_id && !episode_missing) {
            ++with_answer;
            EXPECT_EQ(rc, OXMETA_OK) << last_error();
            EXPECT_EQ(best, std::to_string(c.expect_id));
            EXPECT_GE(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
            right_first += rc == OXMETA_OK && best == std::to_string(c.expect_id);
        } else {
            ++without_answer;
            EXPECT_EQ(rc, OXMETA_E_NOT_FOUND);
            declined += rc == OXMETA_E_NOT_FOUND;
        }
        if (c.ambiguous) {
            oxmeta_name n;
            n.size = sizeof n;
            ox().oxmeta_parse_name(c.file, &n);
            EXPECT_EQ(last_error(), "match: ambiguous: \"" + std::string(n.title) + "\" is " +
                                        std::to_string(c.ambiguous) + " entries");
            EXPECT_GE(ox().oxmeta_result_count(), c.ambiguous);
        } else if (rc != OXMETA_OK) {
            EXPECT_EQ(last_error().find("match: ambiguous"), std::string::npos) << last_error();
        }
        // A match named by an id is that entry alone, with the full score.
        if (!c.lookups.empty() && c.searches.empty()) {
            EXPECT_EQ(ox().oxmeta_result_count(), 1);
            EXPECT_EQ(ox().oxmeta_result_match_score(0), 1000);
        }
        if (c.warning[0]) {
            EXPECT_EQ(ox().oxmeta_warning_count(), warnings + 1);
            EXPECT_STREQ(ox().oxmeta_warning(warnings), c.warning);
        } else {
            EXPECT_EQ(ox().oxmeta_warning_count(), warnings);
        }
        EXPECT_STREQ(ox().oxmeta_match_episode_title(), c.episode_title);
        if (c.episode_title[0]) {
            EXPECT_STREQ(ox().oxmeta_match_episode_id(), std::to_string(c.episodes[0].id).c_str());
        }
        // Best first, every score on the scale, none past the store.
        const int count = ox().oxmeta_result_count();
        for (int i = 0; i < count; ++i) {
            const int score = ox().oxmeta_result_match_score(i);
            EXPECT_GE(score, 0);
            EXPECT_LE(score, 1000);
            if (i > 0) {
                EXPECT_LE(score, ox().oxmeta_result_match_score(i - 1));
            }
        }
        EXPECT_EQ(ox().oxmeta_result_match_score(count), -1);
        EXPECT_EQ(ox().oxmeta_result_match_score(-1), -1);
    }
    std::printf("matching: right entry first in %d of %d, no confident match in %d of %d\n", right_first,
                with_answer, declined, without_answer);
}

TEST_F(Matching, NoConfidentMatchNamesTheTitleAndKeepsTheCandidates) {
    const match_case &c = kCases[16];
    ASSERT_STREQ(c.file, "Zorblax.Quintessence.2017.1080p.WEB.mkv");
    script_case(c);
    ASSERT_EQ(ox().oxmeta_tmdb_match(c.file), OXMETA_E_NOT_FOUND);
    EXPECT_EQ(last_error(), "match: no confident match for \"Zorblax Quintessence\"");
    ASSERT_EQ(ox().oxmeta_result_count(), 2);
    EXPECT_STREQ(ox().oxmeta_result_title(0), "Quintessence");
    EXPECT_LT(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "");

    const match_case &missing = kCases[23];
    ox().ox_fake_reset();
    script_case(missing);
    ASSERT_EQ(ox().oxmeta_tmdb_match(missing.file), OXMETA_E_NOT_FOUND);
    EXPECT_EQ(last_error(), "match: TMDb has no episode S40E01 of \"Doctor Who\"");
    EXPECT_STREQ(ox().oxmeta_result_id(0), "57243");  // the show stays, confident
    EXPECT_GE(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
    EXPECT_STREQ(ox().oxmeta_match_episode_id(), "");
}

TEST_F(Matching, AFailedRequestKeepsTheStoreAsItWas) {
    const match_case &c = kCases[0];
    script_case(c);
    ASSERT_EQ(ox().oxmeta_tmdb_match(c.file), OXMETA_OK);
    const std::string url = replies::search_url(false, "Alien", 1979);
    for (int status : {401, 429, 500}) {
        script(url, "{}", status);
        EXPECT_NE(ox().oxmeta_tmdb_match("Alien.1979.mkv"), OXMETA_OK);
        EXPECT_STREQ(ox().oxmeta_result_id(0), "78");
        EXPECT_GE(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
    }
    EXPECT_EQ(last_error(), "TMDb HTTP 500");
    ASSERT_EQ(ox().ox_fake_fail("GET", url.c_str(), "connection reset"), OXMETA_OK);
    EXPECT_EQ(ox().oxmeta_tmdb_match("Alien.1979.mkv"), OXMETA_E_TRANSPORT);
    EXPECT_STREQ(ox().oxmeta_result_id(0), "78");

    // The episode lookup failing otherwise than "not found" fails the match.
    const match_case &show = kCases[18];
    script_case(show);
    script(replies::season_url(57243, 1), "{}", 503);
    EXPECT_EQ(ox().oxmeta_tmdb_match(show.file), OXMETA_E_HTTP);
    EXPECT_STREQ(ox().oxmeta_result_id(0), "78");
}

TEST_F(Matching, ScoresAndEpisodeBelongToTheMatchOnly) {
    const match_case &c = kCases[18];
    script_case(c);
    ASSERT_EQ(ox().oxmeta_tmdb_match(c.file), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "Rose");
    // Another operation replaces the store: the match is gone with it.
    script(replies::search_url(false, "Heat", 0), replies::search_page(false, {{949, "Heat", "Heat", "1995-12-15", 40, 7000}}));
    ASSERT_EQ(ox().oxmeta_tmdb_search_movie("Heat", 0, 1), OXMETA_OK);
    EXPECT_EQ(ox().oxmeta_result_match_score(0), -1);
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "");
    EXPECT_STREQ(ox().oxmeta_match_episode_id(), "");
    // The paging counters are the search's, not the match's.
    EXPECT_EQ(ox().oxmeta_total_results(), 1);
}

TEST_F(Matching, HostileRepliesNeverCrashOrScoreOffTheScale) {
    const char *const bodies[] = {
        "{}", "[]", "null", R"({"results":{}})", R"({"results":[1,"x",null,[]]})",
        R"({"results":[{"id":-4,"title":"Blade Runner"},{"id":"78","title":7,"release_date":"garbage"}]})",
        R"({"results":[{"id":78,"title":"Blade Runner","popularity":1e308,"vote_count":-5,"release_date":"1982"},
                       {"id":79,"title":"","original_title":null,"popularity":"high","origin_country":"US"}]})",
    };
    const std::string url = replies::search_url(false, "Blade Runner", 1982);
    for (const char *body : bodies) {
        SCOPED_TRACE(body);
        ox().ox_fake_reset();
        script(url, body);
        script(replies::search_url(false, "Blade Runner", 1981), body);
        script(replies::search_url(false, "Blade Runner", 0), body);
        const int rc = ox().oxmeta_tmdb_match("Blade.Runner.1982.mkv");
        EXPECT_TRUE(rc == OXMETA_OK || rc == OXMETA_E_NOT_FOUND) << rc;
        for (int i = 0; i < ox().oxmeta_result_count(); ++i) {
            EXPECT_GE(ox().oxmeta_result_match_score(i), 0);
            EXPECT_LE(ox().oxmeta_result_match_score(i), 1000);
        }
    }
}

// An id lookup answered with something else than the entry: an object
// without an id, or a find without an entry of the file's kind, is "not
// found" and the title is searched; a reply that is no object fails the
// match, as a search's would; nothing is ever stored with another's id.
TEST_F(Matching, IdLookupsReadOnlyTheEntryTheyAskFor) {
    const char *const file = "Blade Runner (1982) [tmdbid-78].mkv";
    const std::string detail = replies::with_credentials("/movie/78");
    struct {
        const char *body;
        int status;
        int rc;
        const char *best;  // "" when the store keeps what it held
    } const cases[] = {
        {R"({"id":"none","title":"Blade Runner"})", 200, OXMETA_OK, "78"},  // searched: 78 by its title
        {R"({"title":"Blade Runner"})", 200, OXMETA_OK, "78"},
        {"[1,2]", 200, OXMETA_E_JSON, ""},
        {"{}", 503, OXMETA_E_HTTP, ""},
        {"{}", 401, OXMETA_E_AUTH, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        ox().ox_fake_reset();
        script(detail, c.body, c.status);
        script(replies::search_url(false, "Blade Runner", 1982), replies::search_page(false, {kBladeRunner}));
        const int rc = ox().oxmeta_tmdb_match(file);
        EXPECT_EQ(rc, c.rc) << last_error();
        if (c.best[0]) {
            EXPECT_STREQ(ox().oxmeta_result_id(0), c.best);
            EXPECT_EQ(requests(), 2);
        } else {
            EXPECT_EQ(requests(), 1);  // no search after a failed lookup
        }
    }
    // A film's IMDb id that TMDb lists only as a show is not the film.
    ox().ox_fake_reset();
    script(replies::with_credentials("/find/tt0083658?external_source=imdb_id"),
           replies::find_reply(true, kDoctorWho2005));
    script(replies::search_url(false, "Blade Runner", 1982), replies::search_page(false, {kBladeRunner}));
    ASSERT_EQ(ox().oxmeta_tmdb_match("Blade.Runner.1982.tt0083658.mkv"), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_result_id(0), "78");
}

// Episodes numbered from the show's start, or by the day they aired, and
// files of several episodes: the show's detail and a season reply (or an
// absolute episode group) name each one.
const item kAttackOnTitan{1429, "Attack on Titan", "進撃の巨人", "2013-04-07", 150.0, 6000, "JP"};
const item kHunterXHunter{46298, "Hunter x Hunter", "HUNTER×HUNTER", "2011-10-02", 90.0, 2100, "JP"};
const item kBrotherhood{31911, "Fullmetal Alchemist: Brotherhood", "鋼の錬金術師 FULLMETAL ALCHEMIST", "2009-04-05",
                        80.0, 2000, "JP"};
const item kDailyShow{2224, "The Daily Show", "The Daily Show", "1996-07-22", 40.0, 600, "US"};
const item kCowboyBebop{30991, "Cowboy Bebop", "カウボーイビバップ", "1998-04-03", 45.2, 1800, "JP"};

struct placed_case {
    const char *file;
    int season;  // -1: no episode found
    int number;
    int requests;
    const char *error = "";  // when no episode is found
};

const placed_case kPlacedCases[] = {
    // Counting through the regular seasons (25, 12, 22, 30), the specials left out.
    {"[SubsPlease] Attack on Titan - 01 [1080p].mkv", 1, 1, 3},
    {"[SubsPlease] Attack on Titan - 25 [1080p].mkv", 1, 25, 3},
    {"[SubsPlease] Attack on Titan - 26 [1080p].mkv", 2, 1, 3},
    {"[SubsPlease] Attack on Titan - 59 [1080p].mkv", 3, 22, 3},
    {"[SubsPlease] Attack on Titan - 60 [1080p].mkv", 4, 1, 3},
    {"[SubsPlease] Attack on Titan - 89 [1080p].mkv", 4, 30, 3},
    {"[SubsPlease] Attack on Titan - 90 [1080p].mkv", -1, -1, 2,
     "match: TMDb has no episode 90 of \"Attack on Titan\""},
    // TMDb numbers this show's episodes across its seasons.
    {"Hunter x Hunter - 088 [720p].mkv", 4, 88, 3},
    {"Hunter x Hunter - 090 [720p].mkv", 5, 90, 3},
    {"Hunter x Hunter - 112 [720p].mkv", 5, 112, 3},
    // An absolute episode group orders the episodes instead of the seasons.
    {"[Group] Fullmetal Alchemist Brotherhood - 05 [1080p].mkv", 1, 5, 3},
    {"[Group] Fullmetal Alchemist Brotherhood - 40 [1080p].mkv", 1, 40, 3},
    {"[Group] Fullmetal Alchemist Brotherhood - 65 [1080p].mkv", -1, -1, 3,
     "match: TMDb has no episode 65 of \"Fullmetal Alchemist Brotherhood\""},
    // By air date: the day itself, or the only episode a day off.
    {"The.Daily.Show.2024.01.15.720p.WEB.h264-GRP.mkv", 29, 5, 3},
    {"The.Daily.Show.2024.01.12.720p.WEB.h264-GRP.mkv", 29, 4, 3},
    {"The.Daily.Show.2023.12.14.720p.WEB.h264-GRP.mkv", 28, 149, 3},
    {"The.Daily.Show.2024.01.13.720p.WEB.h264-GRP.mkv", -1, -1, 3,
     "match: TMDb has no episode aired on 2024-01-13 of \"The Daily Show\""},
    {"The.Daily.Show.2024.01.17.720p.WEB.h264-GRP.mkv", -1, -1, 3,
     "match: TMDb has no episode aired on 2024-01-17 of \"The Daily Show\""},
    {"The.Daily.Show.1990.05.01.720p.WEB.h264-GRP.mkv", -1, -1, 2,
     "match: TMDb has no episode aired on 1990-05-01 of \"The Daily Show\""},
    // A show whose detail TMDb no longer has (404).
    {"[Fansub] Cowboy Bebop - 05 [1080p].mkv", -1, -1, 2, "match: TMDb has no episode 5 of \"Cowboy Bebop\""},
};

// Episodes first to last of one season, ids from the show's.
std::vector<replies::episode> numbered(int show, int season, int first, int last) {
    std::vector<replies::episode> out;
    for (int n = first; n <= last; ++n) out.push_back({show * 1000 + season * 200 + n, n, "Episode"});
    return out;
}

std::string group_episode(int show, int season, int number, int order) {
    std::string e = replies::season_episode_json(show, season, {show * 1000 + season * 200 + number, number, "Episode"});
    e.pop_back();
    return e + ",\"order\":" + std::to_string(order) + "}";
}

class PlacedEpisodes : public Matching {
protected:
    void SetUp() override {
        Matching::SetUp();
        script(replies::with_credentials("/tv/30991?append_to_response=episode_groups"), kNotFoundBody, 404);
        for (const item &show : {kAttackOnTitan, kHunterXHunter, kDailyShow, kCowboyBebop})
            script(replies::search_url(true, show.title, 0), replies::search_page(true, {show}));
        script(replies::search_url(true, "Fullmetal Alchemist Brotherhood", 0), replies::search_page(true, {kBrotherhood}));

        const char *by_air_date =
            R"({"description":"","episode_count":89,"group_count":4,"id":"5c5b2a1a0e0a2621f4c7a6a1","name":"Aired Order","network":null,"type":1})";
        script(replies::with_credentials("/tv/1429?append_to_response=episode_groups"),
               replies::tv_detail_reply(kAttackOnTitan, {{0, 8, "2013-07-06"}, {1, 25, "2013-04-07"}, {2, 12, "2017-04-01"},
                                                         {3, 22, "2018-07-23"}, {4, 30, "2020-12-07"}},
                                        by_air_date));
        const int titan[] = {0, 25, 12, 22, 30};
        for (int season = 1; season <= 4; ++season)
            script(replies::season_url(1429, season), replies::season_reply(1429, season, numbered(1429, season, 1, titan[season])));

        script(replies::with_credentials("/tv/46298?append_to_response=episode_groups"),
               replies::tv_detail_reply(kHunterXHunter, {{1, 22, "2011-10-02"}, {2, 22, "2012-03-04"}, {3, 22, "2012-08-05"},
                                                         {4, 22, "2013-01-06"}, {5, 24, "2013-06-02"}}));
        for (int season = 1; season <= 5; ++season)
            script(replies::season_url(46298, season),
                   replies::season_reply(46298, season, numbered(46298, season, 22 * (season - 1) + 1, season == 5 ? 112 : 22 * season)));

        // The group's parts listed out of their order, a special first.
        const char *groups =
            R"({"description":"","episode_count":64,"group_count":2,"id":"5b1a7d6d0e0a2607d3015b5a","name":"Absolute","network":null,"type":2})";
        script(replies::with_credentials("/tv/31911?append_to_response=episode_groups"),
               replies::tv_detail_reply(kBrotherhood, {{0, 5, "2009-08-19"}, {1, 64, "2009-04-05"}},
                                        (std::string(by_air_date) + "," + groups).c_str()));
        std::string late, early = group_episode(31911, 0, 1, 0);
        for (int n = 1; n <= 32; ++n) early += "," + group_episode(31911, 1, n, n);
        for (int n = 33; n <= 64; ++n) late += (late.empty() ? "" : ",") + group_episode(31911, 1, n, n - 33);
        script(replies::with_credentials("/tv/episode_group/5b1a7d6d0e0a2607d3015b5a"),
               R"({"description":"","episode_count":64,"group_count":2,"groups":[{"id":"5b1a7e0f","name":"Part 2","order":1,"episodes":[)" +
                   late + R"(],"locked":true},{"id":"5b1a7df1","name":"Part 1","order":0,"episodes":[)" + early +
                   R"(],"locked":true}],"id":"5b1a7d6d0e0a2607d3015b5a","name":"Absolute","network":null,"type":2})");

        script(replies::with_credentials("/tv/2224"),
               replies::tv_detail_reply(kDailyShow, {{28, 150, "2023-01-17"}, {29, 40, "2024-01-08"}}));
        script(replies::season_url(2224, 28),
               replies::season_reply(2224, 28, {{2224148, 148, "Guest Night", "2023-12-13"}, {2224149, 149, "Guest Night", "2023-12-14"}}));
        std::vector<replies::episode> jan;
        const char *days[] = {"2024-01-08", "2024-01-09", "2024-01-10", "2024-01-11", "2024-01-15", "2024-01-16", "2024-01-18"};
        for (int n = 1; n <= 7; ++n) jan.push_back({2224200 + n, n, "Guest Night", days[n - 1]});
        script(replies::season_url(2224, 29), replies::season_reply(2224, 29, jan));
    }
};

TEST_F(PlacedEpisodes, NumberedFromTheStartOrByDateFoundInTheirSeason) {
    for (const placed_case &c : kPlacedCases) {
        SCOPED_TRACE(c.file);
        const int before = requests();
        const int rc = ox().oxmeta_tmdb_match(c.file);
        EXPECT_EQ(requests() - before, c.requests);
        EXPECT_LE(requests() - before, 4);
        EXPECT_GE(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
        if (c.season < 0) {
            EXPECT_EQ(rc, OXMETA_E_NOT_FOUND);
            EXPECT_EQ(last_error(), c.error);
            EXPECT_EQ(ox().oxmeta_match_episode_count(), 0);
            EXPECT_STREQ(ox().oxmeta_match_episode_id(), "");
            continue;
        }
        ASSERT_EQ(rc, OXMETA_OK) << last_error();
        ASSERT_EQ(ox().oxmeta_match_episode_count(), 1);
        EXPECT_EQ(ox().oxmeta_match_episode_season(0), c.season);
        EXPECT_EQ(ox().oxmeta_match_episode_number(0), c.number);
        const int show = std::atoi(ox().oxmeta_result_id(0));
        const int id = show == 2224 ? (c.season == 28 ? 2224000 : 2224200) + c.number : show * 1000 + c.season * 200 + c.number;
        EXPECT_STREQ(ox().oxmeta_match_episode_id(), std::to_string(id).c_str());
        EXPECT_STREQ(ox().oxmeta_match_episode_id_at(0), std::to_string(id).c_str());
    }
}

TEST_F(Matching, AFileOfSeveralEpisodesNamesEachOne) {
    script_case(kCases[18]);  // Doctor Who (2005)
    script(replies::season_url(57243, 1),
           replies::season_reply(57243, 1, {{941244, 1, "Rose"}, {941245, 2, "The End of the World"}, {941246, 3, "The Unquiet Dead"}}));
    const int warnings = ox().oxmeta_warning_count();
    ASSERT_EQ(ox().oxmeta_tmdb_match("Doctor.Who.2005.S01E02E03.720p.mkv"), OXMETA_OK) << last_error();
    EXPECT_EQ(requests(), 2);  // the search, and the season for both
    ASSERT_EQ(ox().oxmeta_match_episode_count(), 2);
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "The End of the World");
    EXPECT_STREQ(ox().oxmeta_match_episode_title_at(1), "The Unquiet Dead");
    EXPECT_STREQ(ox().oxmeta_match_episode_id_at(1), "941246");
    EXPECT_EQ(ox().oxmeta_match_episode_season(1), 1);
    EXPECT_EQ(ox().oxmeta_match_episode_number(1), 3);
    for (int bad : {-1, 2}) {
        EXPECT_STREQ(ox().oxmeta_match_episode_title_at(bad), "");
        EXPECT_STREQ(ox().oxmeta_match_episode_id_at(bad), "");
        EXPECT_EQ(ox().oxmeta_match_episode_season(bad), -1);
        EXPECT_EQ(ox().oxmeta_match_episode_number(bad), -1);
    }
    EXPECT_EQ(ox().oxmeta_warning_count(), warnings);

    // An episode after the first that TMDb does not have: the others are
    // named, and a warning says which is missing.
    ASSERT_EQ(ox().oxmeta_tmdb_match("Doctor.Who.2005.S01E03E04.720p.mkv"), OXMETA_OK) << last_error();
    ASSERT_EQ(ox().oxmeta_match_episode_count(), 1);
    EXPECT_EQ(ox().oxmeta_match_episode_number(0), 3);
    ASSERT_EQ(ox().oxmeta_warning_count(), warnings + 1);
    EXPECT_STREQ(ox().oxmeta_warning(warnings), "match: TMDb has no episode S01E04 of \"Doctor Who\"; the others are named");

    // Another operation takes the episodes away with the candidates.
    ASSERT_EQ(ox().oxmeta_tmdb_tv_season(57243, 1), OXMETA_OK);
    EXPECT_EQ(ox().oxmeta_match_episode_count(), 0);
    EXPECT_STREQ(ox().oxmeta_match_episode_title_at(0), "");
}

TEST_F(Matching, AnEpisodeWithoutTextTakesItFromItsSeasonInTheFallbackLanguage) {
    script_case(kCases[18]);  // Doctor Who (2005)
    script(replies::season_url(57243, 1),
           replies::season_reply(57243, 1, {{941244, 1, "Rose"}, {941245, 2, "", "2005-04-02", ""}, {941246, 3, "", "2005-04-09", ""}}));
    const std::string french = replies::season_url(57243, 1, "fr-FR");
    script(french, replies::season_reply(57243, 1, {{941244, 1, "Rose"}, {941245, 2, "La Fin du monde", "2005-04-02"},
                                                    {941246, 3, "Des morts inassouvis", "2005-04-09"}}));
    ASSERT_EQ(ox().oxmeta_set_language_fallback("fr-FR"), OXMETA_OK);
    // An episode with its texts asks nothing more.
    ASSERT_EQ(ox().oxmeta_tmdb_match("Doctor.Who.2005.S01E01.720p.mkv"), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "Rose");
    EXPECT_EQ(ox().ox_fake_calls("GET", french.c_str()), 0);
    // Both episodes of a file filled from one request for their season.
    ASSERT_EQ(ox().oxmeta_tmdb_match("Doctor.Who.2005.S01E02E03.720p.mkv"), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_match_episode_title_at(0), "La Fin du monde");
    EXPECT_STREQ(ox().oxmeta_match_episode_title_at(1), "Des morts inassouvis");
    EXPECT_EQ(ox().ox_fake_calls("GET", french.c_str()), 1);

    // The season in the fallback language failing leaves the name empty and
    // says so; the match itself stands.
    script(french, R"({"status_code":34,"status_message":"The resource you requested could not be found."})", 404);
    const int warnings = ox().oxmeta_warning_count();
    ASSERT_EQ(ox().oxmeta_tmdb_match("Doctor.Who.2005.S01E02E03.720p.mkv"), OXMETA_OK) << last_error();
    EXPECT_STREQ(ox().oxmeta_match_episode_id(), "941245");
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), "");
    EXPECT_STREQ(ox().oxmeta_match_episode_title_at(1), "");
    EXPECT_EQ(ox().ox_fake_calls("GET", french.c_str()), 2);  // asked once for both
    ASSERT_EQ(ox().oxmeta_warning_count(), warnings + 1);
    EXPECT_TRUE(std::string(ox().oxmeta_warning(warnings)).find("match: season 1 in fr-FR failed") == 0)
        << ox().oxmeta_warning(warnings);
    ASSERT_EQ(ox().oxmeta_set_language_fallback(""), OXMETA_OK);
}

TEST_F(Matching, ThreadsMatchingAtOnceLeaveOneWholeMatch) {
    const match_case &film = kCases[0];
    const match_case &show = kCases[18];
    script_case(film);
    script_case(show);
    std::atomic<bool> done{false};
    std::atomic<int> odd{0};
    std::thread reader([&] {
        while (!done) {
            const int score = ox().oxmeta_result_match_score(0);
            odd += score < -1 || score > 1000;
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int k = 0; k < 50; ++k) {
                const int rc = ox().oxmeta_tmdb_match((t + k) % 2 ? film.file : show.file);
                odd += rc != OXMETA_OK;
            }
        });
    }
    for (auto &w : workers) w.join();
    done = true;
    reader.join();
    EXPECT_EQ(odd, 0);
    // Whichever match published last, its candidates, scores and episode agree.
    const std::string best = ox().oxmeta_result_id(0);
    ASSERT_TRUE(best == "78" || best == "57243") << best;
    EXPECT_GE(ox().oxmeta_result_match_score(0), OXMETA_MATCH_CONFIDENT);
    EXPECT_STREQ(ox().oxmeta_match_episode_title(), best == "78" ? "" : "Rose");
    EXPECT_EQ(requests(), 100 * 1 + 100 * 2);
}

}  // namespace
