/* A host that defines a function of the same name as one of the library's
 * exports. The host's own calls reach its function; the library's own calls
 * must still reach the library's. */
#include <stdio.h>
#include <string.h>

#include "oxmeta.h"

const char *oxmeta_omdb_field(const char *key) {
    (void)key;
    return "999 min";
}

int main(void) {
    int minutes = 0;
    oxmeta_use_fake();
    oxmeta_omdb_set_key("K");
    ox_fake_set("GET", "https://www.omdbapi.com/?i=tt1&apikey=K", 200,
                "{\"Runtime\":\"136 min\",\"imdbVotes\":\"1,234\",\"Response\":\"True\"}");
    if (oxmeta_omdb_by_imdb("tt1") != OXMETA_OK) {
        fprintf(stderr, "interpose_host: lookup failed: %s\n", oxmeta_last_error());
        return 1;
    }
    if (strcmp(oxmeta_omdb_field("Runtime"), "999 min") != 0) {
        fprintf(stderr, "interpose_host: the host's own function was not called\n");
        return 1;
    }
    minutes = oxmeta_omdb_runtime_minutes(NULL);
    if (minutes != 136) {
        fprintf(stderr, "interpose_host: the library read %d minutes through the host's function\n", minutes);
        return 1;
    }
    oxmeta_shutdown();
    printf("interpose_host: ok\n");
    return 0;
}
