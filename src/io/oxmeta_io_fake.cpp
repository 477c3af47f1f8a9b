// The fake transport: an oxmeta_io table that answers GETs from the scripted
// routes in g_ox.fake_routes.
#include <climits>
#include <cstdlib>

#include "core/oxmeta_state.h"

namespace {

// Hands a copy of text out through an optional out-parameter.
bool hand_out(char **out, const char *text) {
    if (!out) return true;
    *out = ox_strdup(text);
    return *out != nullptr;
}

int fakeio_get(void *, const char *url, char **body_out, int *status_out, char **error_out) {
    *body_out = nullptr;
    *status_out = 0;
    if (error_out) *error_out = nullptr;

    ox_guard g;
    fake_route *route = url ? fake_find("GET", url) : nullptr;
    if (!route) {
        g.unlock();
        hand_out(error_out, "fake: no route for this URL");
        return -1;
    }
    if (route->calls < INT_MAX) ++route->calls;  // saturates rather than overflows
    if (route->fail) {
        hand_out(error_out, route->fail_message ? route->fail_message : "fake: transport failure");
        return -1;
    }
    *status_out = route->http_status;
    return hand_out(body_out, route->body ? route->body : "") ? 0 : -1;
}

int fakeio_post(void *, const char *, const char *, const char *, char **body_out, int *status_out,
                char **error_out) {
    *body_out = nullptr;
    *status_out = 0;
    hand_out(error_out, "fake: POST not used by oxmeta");
    return -1;
}

// Constant-initialised: there is nothing to fill in at run time. No free
// slot: the texts come from malloc, so the library may keep a body it is
// handed instead of copying it.
constinit const oxmeta_io g_fake_io = {nullptr, fakeio_get, fakeio_post, nullptr};

}  // namespace

const oxmeta_io *oxmeta_fake_io() { return &g_fake_io; }
