// State record, configuration, error and warning channel, request path,
// result store routines, shutdown and the fake transport's controls.
#include "core/oxmeta_state.h"

#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

constinit ox_state g_ox{};

namespace {

constexpr int kFirstResultCap = 16;
constexpr int kFirstWarningCap = 8;
constexpr int kFirstRouteCap = 8;
constexpr int kFirstSeasonCap = 8;

// Replaces an owned text with a copy of value (lock held).
void replace_text(char **slot, const char *value) {
    std::free(*slot);
    *slot = ox_strdup(value);
}

void release_text(char **slot) {
    std::free(*slot);
    *slot = nullptr;
}

// Grows an items/count/capacity array so that one more entry fits: first
// to `first` entries, then doubling. False (array unchanged) on failure.
template <typename List>
bool grow_for_one(List &list, int first) {
    if (list.count < list.capacity) return true;
    if (list.capacity > INT32_MAX / 2) return false;
    const int cap = list.capacity ? list.capacity * 2 : first;
    void *grown = std::realloc(list.items, sizeof(*list.items) * static_cast<size_t>(cap));
    if (!grown) return false;
    list.items = static_cast<decltype(list.items)>(grown);
    list.capacity = cap;
    return true;
}

// The key and token setters share this shape.
// Stores a copy of value in slot. The copy is made first: when memory runs
// out the previous value stays and the caller hears of it.
int store_copy(char **slot, const char *value, const char *what) {
    char *copy = ox_strdup(value);
    if (!copy) {
        ox_set_error("oom storing the %s", what);
        return OXMETA_E_OOM;
    }
    ox_guard g;
    std::free(*slot);
    *slot = copy;
    return OXMETA_OK;
}

int set_required_text(char **slot, const char *value, const char *message, const char *what) {
    if (!value || !*value) {
        ox_set_error("%s", message);
        return OXMETA_E_INVALID_ARG;
    }
    return store_copy(slot, value, what);
}

// Puts the body a transport handed out into out. A body from malloc (a
// table without a free slot) is kept as it is when out is empty; otherwise
// it is copied. False when memory runs out.
bool take_body(const oxmeta_io *io, ox_buf *out, char **body) {
    if (!io->free && *body && !out->data) {
        const size_t len = std::strlen(*body);
        *out = ox_buf{*body, len, len + 1};
        *body = nullptr;
        return true;
    }
    return ox_buf_adds(out, *body) == 0;
}

// Releases a text the transport handed out, as its table asks.
void release_io_text(const oxmeta_io *io, char *text) {
    if (io->free)
        io->free(io->ctx, text);
    else
        std::free(text);
}

}  // namespace

// ======================================================== configuration

extern "C" {

OXMETA_API int oxmeta_tmdb_set_key(const char *key) {
    return set_required_text(&g_ox.tmdb_key, key, "tmdb key must be non-empty (no defaults, SPEC 1)", "key");
}

OXMETA_API int oxmeta_tmdb_set_bearer(const char *token) {
    return set_required_text(&g_ox.tmdb_bearer, token, "bearer token must be non-empty", "token");
}

OXMETA_API int oxmeta_omdb_set_key(const char *key) {
    return set_required_text(&g_ox.omdb_key, key, "omdb key must be non-empty (no defaults, SPEC 1)", "key");
}

OXMETA_API int oxmeta_set_language(const char *tag) {
    return store_copy(&g_ox.language, tag && *tag ? tag : "en-US", "language");
}

OXMETA_API int oxmeta_set_language_fallback(const char *tag) {
    if (!tag || !*tag) {
        char *none = nullptr;
        {
            ox_guard g;
            std::swap(g_ox.language_fallback, none);
        }
        std::free(none);
        return OXMETA_OK;
    }
    return store_copy(&g_ox.language_fallback, tag, "fallback language");
}

OXMETA_API int oxmeta_set_timeout_ms(int ms) {
    if (ms < 0) {
        ox_set_error("timeout must be >= 0");
        return OXMETA_E_INVALID_ARG;
    }
    ox_guard g;
    g_ox.timeout_ms = ms;
    return OXMETA_OK;
}

OXMETA_API void oxmeta_set_io(const oxmeta_io *io) {
    ox_guard g;
    g_ox.io = io;
    g_ox.io_mode = 0;
}

OXMETA_API int oxmeta_use_fake(void) {
    ox_guard g;
    g_ox.io_mode = 1;
    g_ox.io = nullptr;
    return OXMETA_OK;
}

OXMETA_API int oxmeta_use_curl(void) {
    ox_set_error("built without libcurl (OXMETA_NO_CURL) \xE2\x80\x94 no curl backend");
    return OXMETA_E_NO_IO;
}

}  // extern "C"

// ======================================================== errors, warnings

void ox_set_error(const char *fmt, ...) {
    char msg[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    ox_guard g;
    replace_text(&g_ox.last_error, msg);
}

void ox_add_warning(const char *fmt, ...) {
    char msg[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    ox_guard g;
    auto &w = g_ox.warnings;
    if (!grow_for_one(w, kFirstWarningCap)) return;
    char *copy = ox_strdup(msg);
    if (!copy) return;
    w.items[w.count++] = copy;
}

extern "C" {

OXMETA_API const char *oxmeta_last_error(void) {
    ox_guard g;
    return ox_text_or_empty(g_ox.last_error);
}

OXMETA_API int oxmeta_warning_count(void) {
    ox_guard g;
    return g_ox.warnings.count;
}

OXMETA_API const char *oxmeta_warning(int index) {
    ox_guard g;
    if (index < 0 || index >= g_ox.warnings.count) return "";
    return ox_text_or_empty(g_ox.warnings.items[index]);
}

}  // extern "C"

// ======================================================== request path

int ox_http_get(const char *url, ox_buf *out, int *http_status) {
    if (!url || !out) {
        ox_set_error("internal: NULL url/body");
        return OXMETA_E_INVALID_ARG;
    }
    const oxmeta_io *io = nullptr;
    {
        ox_guard g;
        if (g_ox.io_mode == 1 && !g_ox.io) g_ox.io = oxmeta_fake_io();
        io = g_ox.io;
    }
    // A table without a get slot cannot send anything: treat it as none.
    if (!io || !io->get) {
        ox_set_error("%s", ox_errstr(OXMETA_E_NO_IO));
        return OXMETA_E_NO_IO;
    }

    char *body = nullptr;
    char *err = nullptr;
    int status = 0;
    const int rc = io->get(io->ctx, url, &body, &status, &err);

    const bool stored = rc != 0 || take_body(io, out, &body);
    char *masked = ox_redact_url(url);
    {
        ox_guard g;
        g_ox.last_http_code = status;
        std::free(g_ox.last_url);
        g_ox.last_url = masked;
    }
    if (rc != 0) {
        // A transport's message may quote the URL: its credentials are
        // masked as the stored URL's are.
        char *message = err ? ox_redact_url(err) : nullptr;
        ox_set_error("transport: %s", message ? message : "unknown IO failure");
        std::free(message);
    }
    release_io_text(io, body);
    release_io_text(io, err);
    if (http_status) *http_status = status;

    if (rc != 0) return OXMETA_E_TRANSPORT;
    if (!stored) {
        ox_set_error("oom storing response body");
        return OXMETA_E_OOM;
    }
    return OXMETA_OK;
}

extern "C" {

OXMETA_API int oxmeta_last_http_code(void) {
    ox_guard g;
    return g_ox.last_http_code;
}

OXMETA_API const char *oxmeta_last_url(void) {
    ox_guard g;
    return ox_text_or_empty(g_ox.last_url);
}

OXMETA_API const char *oxmeta_result_json(void) {
    ox_guard g;
    return ox_text_or_empty(g_ox.last_body.data);
}

}  // extern "C"

// ======================================================== result store

int ox_list_add(ox_result_list *list, const ox_result *r) {
    if (!list || !r || !grow_for_one(*list, kFirstResultCap)) return -1;
    ox_result &slot = list->items[list->count];
    slot = ox_result{};
    for (auto field : kResultTexts) slot.*field = ox_strdup(ox_text_or_empty(r->*field));
    slot.year = r->year;
    slot.rating_permille = r->rating_permille;
    slot.popularity_permille = r->popularity_permille;
    slot.season_number = r->season_number;
    slot.episode_number = r->episode_number;
    if (!slot.source || !slot.id || !slot.title) {
        ox_result_free(&slot);
        return -1;
    }
    ++list->count;
    return 0;
}

void ox_list_free(ox_result_list *list) {
    for (int i = 0; i < list->count; ++i) ox_result_free(&list->items[i]);
    std::free(list->items);
    *list = ox_result_list{};
}

int ox_result_add(const ox_result *r) { return ox_list_add(&g_ox.results, r); }

void ox_results_clear() {
    auto &list = g_ox.results;
    for (int i = 0; i < list.count; ++i) ox_result_free(&list.items[i]);
    list.count = 0;
}

void ox_result_free(ox_result *r) {
    if (!r) return;
    for (auto field : kResultTexts) std::free(r->*field);
    *r = ox_result{};
}

// ======================================================== TV season data

bool ox_season_add(ox_season_list *list, int number, const char *poster) {
    if (list->count == list->capacity) {
        if (list->capacity > INT32_MAX / 2) return false;
        const int cap = list->capacity ? list->capacity * 2 : kFirstSeasonCap;
        const size_t slots = static_cast<size_t>(cap);
        // Each array stays valid on its own: one grown before the other
        // failed simply keeps its larger allocation.
        auto *numbers = static_cast<int *>(std::realloc(list->numbers, sizeof(int) * slots));
        if (!numbers) return false;
        list->numbers = numbers;
        auto *posters = static_cast<char **>(std::realloc(list->posters, sizeof(char *) * slots));
        if (!posters) return false;
        list->posters = posters;
        list->capacity = cap;
    }
    char *copy = ox_strdup(poster);
    if (!copy) return false;
    list->numbers[list->count] = number;
    list->posters[list->count] = copy;
    ++list->count;
    return true;
}

void ox_season_list_free(ox_season_list *list) {
    for (int i = 0; i < list->count; ++i) std::free(list->posters[i]);
    std::free(list->posters);
    std::free(list->numbers);
    *list = ox_season_list{};
}

void ox_seasons_swap(ox_season_list *list) {
    std::swap(g_ox.season_numbers, list->numbers);
    std::swap(g_ox.season_posters, list->posters);
    std::swap(g_ox.season_count, list->count);
    std::swap(g_ox.season_cap, list->capacity);
}

// ======================================================== shutdown

extern "C" OXMETA_API void oxmeta_shutdown(void) {
    ox_guard g;
    ox_list_free(&g_ox.results);
    ox_list_free(&g_ox.retired_results);
    g_ox.results_owner = 0;

    for (char **text : {&g_ox.tmdb_key, &g_ox.tmdb_bearer, &g_ox.omdb_key, &g_ox.language,
                        &g_ox.language_fallback, &g_ox.last_url, &g_ox.last_error})
        release_text(text);
    ox_buf_free(&g_ox.last_body);
    ox_buf_free(&g_ox.retired_body);
    g_ox.last_body_owner = 0;

    ox_season_list seasons{};
    ox_seasons_swap(&seasons);
    ox_season_list_free(&seasons);
    ox_list_free(&g_ox.match.episodes);
    g_ox.match.count = 0;

    for (int i = 0; i < g_ox.warnings.count; ++i) std::free(g_ox.warnings.items[i]);
    std::free(g_ox.warnings.items);
    g_ox.warnings = ox_text_list{};

    ox_fake_reset_locked();
}

// ======================================================== fake controls

namespace {

bool is_fake_method(const char *method) {
    const std::string_view m(method);
    return m == "GET" || m == "POST";
}

// Finds or creates the route and lets `fill` rewrite it (lock taken here).
template <typename Fill>
int fake_script(const char *method, const char *url, Fill fill) {
    if (!method || !url || !is_fake_method(method)) return OXMETA_E_INVALID_ARG;
    ox_guard g;
    const int index = fake_upsert(method, url);
    if (index < 0) return OXMETA_E_OOM;
    fake_route &route = g_ox.fake_routes.items[index];
    release_text(&route.body);
    release_text(&route.fail_message);
    return fill(route) ? OXMETA_OK : OXMETA_E_OOM;
}

void fake_route_free(fake_route &route) {
    for (char **text : {&route.method, &route.url, &route.body, &route.fail_message})
        release_text(text);
}

}  // namespace

int fake_upsert(const char *method, const char *url) {
    auto &routes = g_ox.fake_routes;
    if (const fake_route *found = fake_find(method, url)) return static_cast<int>(found - routes.items);
    if (!grow_for_one(routes, kFirstRouteCap)) return -1;
    fake_route &slot = routes.items[routes.count];
    slot = fake_route{};
    slot.method = ox_strdup(method);
    slot.url = ox_strdup(url);
    if (!slot.method || !slot.url) {
        fake_route_free(slot);
        return -1;
    }
    return routes.count++;
}

fake_route *fake_find(const char *method, const char *url) {
    auto &routes = g_ox.fake_routes;
    for (int i = 0; i < routes.count; ++i) {
        fake_route &r = routes.items[i];
        if (std::strcmp(r.method, method) == 0 && std::strcmp(r.url, url) == 0) return &r;
    }
    return nullptr;
}

void ox_fake_reset_locked() {
    auto &routes = g_ox.fake_routes;
    for (int i = 0; i < routes.count; ++i) fake_route_free(routes.items[i]);
    std::free(routes.items);
    routes = ox_route_list{};
}

extern "C" {

OXMETA_API int ox_fake_set(const char *method, const char *url, int http_status, const char *body) {
    return fake_script(method, url, [&](fake_route &route) {
        route.body = ox_strdup(body ? body : "");
        route.http_status = http_status;
        route.fail = 0;
        return route.body != nullptr;
    });
}

OXMETA_API int ox_fake_fail(const char *method, const char *url, const char *message) {
    return fake_script(method, url, [&](fake_route &route) {
        route.fail_message = ox_strdup(message ? message : "connection refused");
        route.http_status = 0;
        route.fail = 1;
        return route.fail_message != nullptr;
    });
}

OXMETA_API int ox_fake_calls(const char *method, const char *url) {
    ox_guard g;
    long long sum = 0;
    const auto &routes = g_ox.fake_routes;
    for (int i = 0; i < routes.count; ++i) {
        const fake_route &r = routes.items[i];
        if (method && std::strcmp(r.method, method) != 0) continue;
        if (url && std::strcmp(r.url, url) != 0) continue;
        sum += r.calls;
        if (sum >= INT_MAX) return INT_MAX;  // saturates rather than overflows
    }
    return static_cast<int>(sum);
}

// Exported form: takes the lock, so a host may reset while requests run.
OXMETA_API void ox_fake_reset(void) {
    ox_guard g;
    ox_fake_reset_locked();
}

}  // extern "C"
