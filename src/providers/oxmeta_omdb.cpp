// OMDb client: lookups by IMDb id, title and season, each stored as one
// record, and readers of top-level members of the last body.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "providers/oxmeta_fetch.h"

namespace {

constexpr const char *kOmdbBase = "https://www.omdbapi.com/";

constexpr ox_status_rule kOmdbRules[] = {
    {401, OXMETA_E_AUTH, "OMDb 401 \xE2\x80\x94 key rejected or daily limit"},
    {429, OXMETA_E_RATE_LIMIT, "OMDb 429 \xE2\x80\x94 rate limited"},
};
constexpr ox_service kOmdb = {"OMDb", kOmdbRules};

// Shared by the three readers; every successful lookup overwrites it.
constinit char g_field[2048] = {};

bool is_na(std::string_view s) { return s.empty() || s == "N/A"; }

const char *media_type_of(const char *type) {
    if (!type || !*type) return "movie";
    if (std::string_view(type) == "series") return "tv";
    return type;
}

int rating_of(const char *text) {
    if (!text || is_na(text)) return -1;
    const int permille = ox_permille_from_double_str(text);
    return permille < 0 ? -1 : permille / 10;
}

// The record of a not-found reply: source, ids and title, all else zero.
// Missing texts stay null; the store keeps them as "".
ox_result not_found_record(yyjson_val *root) {
    ox_result r{};
    r.source = ox_lend("OMDB");
    r.id = ox_lend(ox_json_str(root, "imdbID"));
    r.imdb_id = r.id;
    r.title = ox_lend(ox_json_str(root, "Title"));
    return r;
}

ox_result success_record(yyjson_val *root) {
    ox_result r = not_found_record(root);
    r.overview = ox_lend(ox_json_str(root, "Plot"));
    r.year = ox_year_from_date(ox_json_str(root, "Year"));
    r.media_type = ox_lend(media_type_of(ox_json_str(root, "Type")));
    r.poster_path = ox_lend(ox_json_str(root, "Poster"));
    r.rating_permille = rating_of(ox_json_str(root, "imdbRating"));
    r.popularity_permille = 0;
    return r;
}

int oom_storing() {
    ox_set_error("oom storing OMDb result");
    return OXMETA_E_OOM;
}

int omdb_fetch(const char *query) {
    char *key = nullptr;
    {
        ox_guard g;
        if (!g_ox.omdb_key || !*g_ox.omdb_key) {
            g.unlock();
            ox_set_error("no OMDb key set \xE2\x80\x94 call oxmeta_omdb_set_key() (no defaults, SPEC 1)");
            return OXMETA_E_NO_KEY;
        }
        key = ox_query_escape(g_ox.omdb_key);
    }
    if (!key) return OXMETA_E_OOM;
    char url[1024];
    std::snprintf(url, sizeof url, "%s?%s&apikey=%s", kOmdbBase, query, key);
    std::free(key);

    ox_doc doc;
    const int rc = ox_fetch_json(kOmdb, url, &doc);
    if (rc != OXMETA_OK) return rc;

    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ox_set_error("OMDb: not an object");
        return OXMETA_E_JSON;
    }
    const char *response = ox_json_str(root, "Response");
    if (response && std::string_view(response) == "False") {
        const char *error = ox_json_str(root, "Error");
        const bool stored = ox_results_replace_one(not_found_record(root)) == 0;
        if (stored) ox_set_error("OMDb: %s", error && *error ? error : "Response:False");
        return stored ? OXMETA_E_NOT_FOUND : oom_storing();
    }
    return ox_results_replace_one(success_record(root)) == 0 ? OXMETA_OK : oom_storing();
}

// Escapes value and sends the query that format builds from it.
// The value is shortened at a character boundary to leave room in the
// query for the rest of the format (a number after it takes 11 bytes).
template <size_t QuerySize, typename... Rest>
int omdb_query(const char *format, const char *value, Rest... rest) {
    const size_t rest_size = std::strlen(format) - 2 + 11 * sizeof...(Rest);
    char *escaped = ox_query_escape_clipped(value, QuerySize - 1 - rest_size);
    if (!escaped) return OXMETA_E_OOM;
    char query[QuerySize];
    std::snprintf(query, sizeof query, format, escaped, rest...);
    std::free(escaped);
    return omdb_fetch(query);
}

// Top-level string member of the last body copied into g_field, or null.
const char *lookup_field(const char *key) {
    if (!key || !*key) return nullptr;
    ox_doc doc;
    {
        ox_guard g;
        if (!g_ox.last_body.data) return nullptr;
        doc.reset(ox_json_parse(g_ox.last_body));
    }
    if (!doc) return nullptr;
    std::snprintf(g_field, sizeof g_field, "%s", ox_text_or_empty(ox_json_str(yyjson_doc_get_root(doc.get()), key)));
    return g_field;
}

}  // namespace

extern "C" {

OXMETA_API int oxmeta_omdb_by_imdb(const char *imdb_id) {
    if (!imdb_id || !*imdb_id) {
        ox_set_error("omdb_by_imdb: imdb_id required");
        return OXMETA_E_INVALID_ARG;
    }
    return omdb_query<256>("i=%s", imdb_id);
}

OXMETA_API int oxmeta_omdb_by_title(const char *title) {
    if (!title || !*title) {
        ox_set_error("omdb_by_title: title required");
        return OXMETA_E_INVALID_ARG;
    }
    return omdb_query<600>("t=%s", title);
}

OXMETA_API int oxmeta_omdb_season(const char *imdb_id, int season) {
    if (!imdb_id || !*imdb_id || season < 1) {
        ox_set_error("omdb_season: imdb_id + season >= 1");
        return OXMETA_E_INVALID_ARG;
    }
    return omdb_query<300>("i=%s&Season=%d", imdb_id, season);
}

OXMETA_API const char *oxmeta_omdb_field(const char *key) {
    const char *text = lookup_field(key);
    return text ? text : "";
}

OXMETA_API int oxmeta_omdb_runtime_minutes(int *out_minutes) {
    const char *field = lookup_field("Runtime");
    const std::string_view text = field ? field : "";
    int minutes = -1;
    if (!is_na(text)) {
        long long value = 0;
        bool seen = false;
        for (char c : text) {
            if (c >= '0' && c <= '9') {
                value = value * 10 + (c - '0');
                if (value > INT_MAX) value = INT_MAX;
                seen = true;
            } else if (seen) {
                break;
            }
        }
        if (seen) minutes = static_cast<int>(value);
    }
    if (out_minutes) *out_minutes = minutes;
    return minutes;
}

OXMETA_API int oxmeta_omdb_votes(int64_t *out_votes) {
    if (out_votes) *out_votes = 0;
    const char *field = lookup_field("imdbVotes");
    const std::string_view text = field ? field : "";
    if (is_na(text)) return -1;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        const int digit = c - '0';
        value = value > (INT64_MAX - digit) / 10 ? INT64_MAX : value * 10 + digit;
    }
    if (out_votes) *out_votes = value;
    return value != 0 ? 0 : -1;
}

}  // extern "C"
