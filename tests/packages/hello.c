/* A program built against liboxmeta-dev: the header, pkg-config's flags
 * (or the CMake package), and the installed shared library. */
#include <stdio.h>
#include <string.h>

#include <oxmeta.h>

int main(void) {
    oxmeta_name n;
    memset(&n, 0, sizeof n);
    n.size = sizeof n;
    if (oxmeta_parse_name("Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv", &n) != OXMETA_OK) return 1;
    printf("%s: %s (%d), %s\n", n.kind, n.title, n.year, n.screen_size);
    return strcmp(n.title, "Dark City") == 0 && n.year == 1998 ? 0 : 1;
}
