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

    oxmeta_shutdown();
    check(oxmeta_result_count() == 0, "shutdown clears results");
    check(oxmeta_omdb_by_imdb("tt0133093") == OXMETA_E_NO_KEY, "shutdown forgets the key");

    if (failures == 0) printf("c_host: ok\n");
    return failures == 0 ? 0 : 1;
}
