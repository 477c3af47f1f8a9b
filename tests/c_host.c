/* A host written in C99 against the shared library: the public header must
 * compile as C, and a lookup must work end to end through the fake
 * transport. */
#include <stdio.h>
#include <string.h>

#include "oxmeta.h"

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "c_host: FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    const char *url = "https://www.omdbapi.com/?i=tt0133093&apikey=KEY";
    oxmeta_io none = {0, 0, 0, 0};
    int64_t votes = 0;

    oxmeta_set_io(&none);
    check(oxmeta_omdb_set_key("KEY") == OXMETA_OK, "set key");
    check(oxmeta_omdb_by_imdb("tt0133093") == OXMETA_E_NO_IO, "empty table is no transport");

    check(oxmeta_use_fake() == OXMETA_OK, "use fake");
    check(ox_fake_set("GET", url, 200,
                      "{\"Title\":\"The Matrix\",\"Year\":\"1999\",\"imdbID\":\"tt0133093\","
                      "\"imdbVotes\":\"1,234\",\"Response\":\"True\"}") == OXMETA_OK,
          "script route");
    check(oxmeta_omdb_by_imdb("tt0133093") == OXMETA_OK, "lookup");
    check(oxmeta_result_count() == 1, "one result");
    check(strcmp(oxmeta_result_title(0), "The Matrix") == 0, "title");
    check(oxmeta_result_year(0) == 1999, "year");
    check(oxmeta_omdb_votes(&votes) == 0 && votes == 1234, "votes");
    check(strcmp(oxmeta_last_url(), "https://www.omdbapi.com/?i=tt0133093&apikey=***") == 0, "masked url");
    check(ox_fake_calls("GET", url) == 1, "one call");

    check(oxmeta_tmdb_set_key("T") == OXMETA_OK, "tmdb key");
    check(ox_fake_set("GET",
                      "https://api.themoviedb.org/3/search/multi?query=the%20matrix&page=1"
                      "&include_adult=false&api_key=T&language=en-US",
                      200,
                      "{\"page\":1,\"total_pages\":1,\"total_results\":2,\"results\":["
                      "{\"id\":603,\"media_type\":\"movie\",\"title\":\"The Matrix\","
                      "\"release_date\":\"1999-03-30\",\"vote_average\":8.2,\"poster_path\":\"/m.jpg\"},"
                      "{\"id\":6384,\"media_type\":\"person\",\"name\":\"Keanu Reeves\"}]}") == OXMETA_OK,
          "script tmdb route");
    check(oxmeta_tmdb_search_multi("the matrix", 1) == OXMETA_OK, "tmdb search");
    check(oxmeta_result_count() == 2 && oxmeta_total_results() == 2, "two tmdb results");
    check(oxmeta_result_rating_permille(0) == 820, "tmdb rating");
    check(strcmp(oxmeta_result_media_type(1), "person") == 0, "tmdb media type");
    check(strcmp(oxmeta_tmdb_image_url(oxmeta_result_poster_path(0), NULL),
                 "https://image.tmdb.org/t/p/w500/m.jpg") == 0, "image address");

    check(ox_fake_set("GET", "https://itunes.apple.com/lookup?id=9007199254740993", 200,
                      "{\"resultCount\":1,\"results\":[{\"collectionId\":9007199254740993,"
                      "\"collectionName\":\"Show\",\"feedUrl\":\"https://f/rss\"}]}") == OXMETA_OK,
          "script itunes route");
    check(oxmeta_itunes_lookup(INT64_C(9007199254740993)) == OXMETA_OK, "itunes lookup");
    check(strcmp(oxmeta_result_id(0), "9007199254740993") == 0, "64-bit id");
    check(strcmp(oxmeta_result_feed_url(0), "https://f/rss") == 0, "feed url");

    oxmeta_shutdown();
    check(oxmeta_result_count() == 0, "shutdown clears results");
    check(oxmeta_omdb_by_imdb("tt0133093") == OXMETA_E_NO_KEY, "shutdown forgets the key");

    if (failures == 0) printf("c_host: ok\n");
    return failures == 0 ? 0 : 1;
}
