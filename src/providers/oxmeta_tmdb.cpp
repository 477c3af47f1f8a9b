// TMDb (v3) client: request URLs with the key and language, the mapping of
// one TMDb item onto a record, the paged listings, find by IMDb id, TV
// detail with its seasons, external ids and image addresses.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "providers/oxmeta_tmdb.h"

namespace {

constexpr const char *kTmdbApiBase = "https://api.themoviedb.org/3";
constexpr const char *kTmdbImageBase = "https://image.tmdb.org/t/p/";
constexpr const char *kDefaultLanguage = "en-US";
constexpr const char *kDefaultImageSize = "w500";
constexpr size_t kUrlSize = 2048;
constexpr size_t kIdSize = kTmdbIdSize;

constexpr ox_status_rule kTmdbRules[] = {
    {401, OXMETA_E_AUTH, "TMDb 401 \xE2\x80\x94 key rejected"},
    {429, OXMETA_E_RATE_LIMIT, "TMDb 429 \xE2\x80\x94 rate limited, back off"},
};
constexpr ox_service kTmdb = {"TMDb", kTmdbRules};

// The address oxmeta_tmdb_image_url hands out; each call overwrites it.
constinit char g_image_url[1024] = {};

// ---------------------------------------------------------------- requests

// Composes the request URL for path (which may already carry a query) into
// url. With only a bearer token configured, *bearer_only is set and no URL
// is made: the token would travel in a header, which no transport can send.
int tmdb_get(const char *path, char (&url)[kUrlSize], bool *bearer_only, const char *language_tag) {
    *bearer_only = false;
    char *language = nullptr;
    char *key = nullptr;
    {
        ox_guard g;
        if (!ox_nonempty(g_ox.tmdb_key)) {
            *bearer_only = ox_nonempty(g_ox.tmdb_bearer) != nullptr;
            g.unlock();
            if (*bearer_only) return OXMETA_OK;
            ox_set_error("no TMDb key set \xE2\x80\x94 call oxmeta_tmdb_set_key() or oxmeta_tmdb_set_bearer() "
                         "(no defaults, SPEC 1)");
            return OXMETA_E_NO_KEY;
        }
        // Encoded under the lock: a setter on another thread may free them.
        language = ox_query_escape(language_tag      ? language_tag
                                   : ox_nonempty(g_ox.language) ? g_ox.language
                                                                : kDefaultLanguage);
        key = language ? ox_query_escape(g_ox.tmdb_key) : nullptr;
    }
    if (!key) {
        std::free(language);
        return OXMETA_E_OOM;
    }
    const char separator = std::strchr(path, '?') ? '&' : '?';
    std::snprintf(url, kUrlSize, "%s%s%capi_key=%s&language=%s", kTmdbApiBase, path, separator, key, language);
    std::free(key);
    std::free(language);
    return OXMETA_OK;
}

}  // namespace

int tmdb_fetch(const char *path, ox_doc *doc, int *http_status, const char *language) {
    if (http_status) *http_status = 0;
    char url[kUrlSize];
    bool bearer_only = false;
    const int rc = tmdb_get(path, url, &bearer_only, language);
    if (rc == OXMETA_E_OOM) ox_set_error("oom building TMDb URL");
    if (rc != OXMETA_OK) return rc;
    if (bearer_only) {
        ox_set_error("bearer-only auth needs header support \xE2\x80\x94 set an api_key (v3) for now");
        return OXMETA_E_NO_KEY;
    }
    return ox_fetch_json(kTmdb, url, doc, http_status);
}

int tmdb_fetch_object(const char *path, const char *operation, ox_doc *doc, yyjson_val **root, int *http_status) {
    if (const int rc = tmdb_fetch(path, doc, http_status)) return rc;
    *root = yyjson_doc_get_root(doc->get());
    if (yyjson_is_obj(*root)) return OXMETA_OK;
    ox_set_error("%s: not an object", operation);
    return OXMETA_E_JSON;
}

namespace {

// ---------------------------------------------------------------- mapping

// "vote_average" (0 to 10) in hundredths, rounded half away from zero and
// held to 0..1000. An integer reads like a real number: 8 gives 800.
int rating_permille_of(yyjson_val *v) {
    if (yyjson_is_num(v)) {
        const double x = yyjson_get_num(v);
        const double scaled = 100.0 * x + (x >= 0 ? 0.5 : -0.5);
        if (!(scaled >= 0)) return 0;
        if (scaled >= 1000) return 1000;
        return static_cast<int>(scaled);
    }
    if (yyjson_is_str(v)) {
        const int permille = ox_permille_from_double_str(yyjson_get_str(v));
        return permille >= 0 ? permille / 10 : permille;
    }
    return 0;
}

// "popularity" times ten, rounded; 0 below zero, saturating above.
int popularity_permille_of(yyjson_val *v) {
    if (!yyjson_is_num(v)) return 0;
    const double scaled = yyjson_get_num(v) * 10.0 + 0.5;
    if (!(scaled >= 0)) return 0;
    if (scaled >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(scaled);
}

// The members of a TMDb item that a record is made of.
enum tmdb_member : size_t {
    kMediaType, kId, kTitle, kName, kOriginalTitle, kOriginalName, kOverview,
    kReleaseDate, kFirstAirDate, kPosterPath, kBackdropPath, kVoteAverage, kPopularity,
};
constexpr std::string_view kTmdbMembers[] = {
    "media_type", "id", "title", "name", "original_title", "original_name", "overview",
    "release_date", "first_air_date", "poster_path", "backdrop_path", "vote_average", "popularity",
};

}  // namespace

ox_result tmdb_item_to_result(yyjson_val *item, const char *default_media, char (&id)[kIdSize]) {
    const ox_members m(item, kTmdbMembers);
    ox_result r{};
    r.source = ox_lend("TMDB");
    const char *media = ox_nonempty(m.str(kMediaType));
    r.media_type = ox_lend(media ? media : default_media);
    r.id = ox_decimal(id, ox_json_int(m[kId], 0));
    r.title = ox_lend(m.first_str(kTitle, kName));
    r.original_title = ox_lend(m.first_str(kOriginalTitle, kOriginalName));
    r.overview = ox_lend(m.str(kOverview));
    r.year = ox_year_from_date(m.first_str(kReleaseDate, kFirstAirDate));
    r.poster_path = ox_lend(m.str(kPosterPath));
    r.backdrop_path = ox_lend(m.str(kBackdropPath));
    r.rating_permille = rating_permille_of(m[kVoteAverage]);
    r.popularity_permille = popularity_permille_of(m[kPopularity]);
    return r;
}

ox_result tmdb_episode_to_result(yyjson_val *root, char (&id)[kTmdbIdSize], int season) {
    ox_result r = tmdb_item_to_result(root, "episode", id);
    r.year = ox_year_from_date(ox_json_str(root, "air_date"));
    r.poster_path = ox_lend(ox_json_str(root, "still_path"));
    const int number = ox_json_int(yyjson_obj_get(root, "episode_number"), 0);
    if (number >= 1) {
        r.episode_number = number;
        r.season_number = ox_json_int(yyjson_obj_get(root, "season_number"), season);
    }
    return r;
}

bool tmdb_fallback_language(char (&tag)[kTmdbTagSize]) {
    ox_guard g;
    if (!ox_nonempty(g_ox.language_fallback)) return false;
    std::snprintf(tag, sizeof tag, "%s", g_ox.language_fallback);
    return true;
}

namespace {

// The "data" of the translation into language ("fr") of region ("FR"; null
// or "": any), else of the language in any region; null when none.
yyjson_val *translation_into(yyjson_val *root, std::string_view language, std::string_view region) {
    yyjson_val *any_region = nullptr;
    size_t index = 0;
    size_t count = 0;
    yyjson_val *t = nullptr;
    yyjson_arr_foreach(yyjson_obj_get(yyjson_obj_get(root, "translations"), "translations"), index, count, t) {
        const char *lang = ox_json_str(t, "iso_639_1");
        if (!lang || language != lang) continue;
        yyjson_val *data = yyjson_obj_get(t, "data");
        const char *country = ox_json_str(t, "iso_3166_1");
        if (!region.empty() && country && region == country) return data;
        if (!any_region) any_region = data;
    }
    return any_region;
}

// Fills *text, when empty, from the first of sources that has member key.
void fill_blank(char **text, const char *key, yyjson_val *const (&sources)[2]) {
    if (ox_nonempty(*text)) return;
    for (yyjson_val *data : sources) {
        if (const char *found = ox_nonempty(ox_json_str(data, key))) {
            *text = ox_lend(found);
            return;
        }
    }
}

}  // namespace

void tmdb_fill_blanks(yyjson_val *root, ox_result *r, const char *title_key, const char *fallback) {
    const std::string_view tag(fallback);
    const size_t dash = tag.find('-');
    const std::string_view language = tag.substr(0, dash);
    const std::string_view region = dash == std::string_view::npos ? std::string_view() : tag.substr(dash + 1);
    const char *original = ox_nonempty(ox_json_str(root, "original_language"));
    yyjson_val *const sources[2] = {translation_into(root, language, region),
                                    original ? translation_into(root, original, {}) : nullptr};
    fill_blank(&r->title, title_key, sources);
    if (!ox_nonempty(r->title)) r->title = r->original_title;
    fill_blank(&r->overview, "overview", sources);
}

void tmdb_append_to_response(char (&path)[kTmdbLookupPathSize], const char *what) {
    const size_t used = std::strlen(path);
    const char *join = std::strstr(path, "append_to_response=") ? "," : std::strchr(path, '?') ? "&append_to_response="
                                                                                            : "?append_to_response=";
    std::snprintf(path + used, sizeof path - used, "%s%s", join, what);
}

int tmdb_search_path(char (&path)[kTmdbSearchPathSize], tmdb_search_kind kind, const char *query, int year,
                     int page) {
    const bool movie = kind == tmdb_search_kind::movie;
    char head[32];
    char tail[96];
    const int head_size = std::snprintf(head, sizeof head, "/search/%s?query=", movie ? "movie" : "tv");
    int tail_size = std::snprintf(tail, sizeof tail, "&include_adult=false&page=%d", page);
    if (year > 0)
        tail_size += std::snprintf(tail + tail_size, sizeof tail - static_cast<size_t>(tail_size), "&%s=%d",
                                   movie ? "year" : "first_air_date_year", year);
    // Every parameter kept: the query is what is shortened to fit.
    char *escaped = ox_query_escape_clipped(query, sizeof path - 1 - static_cast<size_t>(head_size + tail_size));
    if (!escaped) return OXMETA_E_OOM;
    std::snprintf(path, sizeof path, "%s%s%s", head, escaped, tail);
    std::free(escaped);
    return OXMETA_OK;
}

void tmdb_episode_path(char (&path)[kTmdbLookupPathSize], int tv_id, int season, int episode) {
    std::snprintf(path, sizeof path, "/tv/%d/season/%d/episode/%d", tv_id, season, episode);
}

void tmdb_season_path(char (&path)[kTmdbLookupPathSize], int tv_id, int season) {
    std::snprintf(path, sizeof path, "/tv/%d/season/%d", tv_id, season);
}

namespace {

bool has_elements(yyjson_val *array) { return yyjson_is_arr(array) && yyjson_arr_size(array) > 0; }

// ---------------------------------------------------------------- listings

// Fetches one page and replaces the store and the paging counters with it.
int tmdb_list_op(const char *path, const char *default_media) {
    ox_doc doc;
    const int rc = tmdb_fetch(path, &doc);
    if (rc != OXMETA_OK) return rc;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    yyjson_val *items = yyjson_obj_get(root, "results");
    const int total_pages = ox_json_int(yyjson_obj_get(root, "total_pages"), 0);
    const int total_results = ox_json_int(yyjson_obj_get(root, "total_results"), 0);
    const int page = ox_json_int(yyjson_obj_get(root, "page"), 0);
    ox_results_batch batch;
    char id[kIdSize];
    const bool stored =
        batch.add_each(items, [&](yyjson_val *item) { return tmdb_item_to_result(item, default_media, id); });
    batch.publish([&] { ox_set_paging(total_pages, total_results, page); });
    if (!has_elements(items)) {
        ox_set_error("TMDb: empty results[]");
        return OXMETA_E_NOT_FOUND;
    }
    if (!stored) {
        ox_set_error("oom storing results");
        return OXMETA_E_OOM;
    }
    return OXMETA_OK;
}

// Percent-encodes value, shortened to leave room for the rest of the path
// (rest_size bytes), and formats the path that format makes of it.
template <size_t PathSize, typename... Rest>
int escaped_path(char (&path)[PathSize], size_t rest_size, const char *format, const char *value, Rest... rest) {
    char *escaped = ox_query_escape_clipped(value, PathSize - 1 - rest_size);
    if (!escaped) return OXMETA_E_OOM;
    std::snprintf(path, PathSize, format, escaped, rest...);
    std::free(escaped);
    return OXMETA_OK;
}

// The store replaced by one record of an operation.
int store_one(const ox_result &record, const char *operation) {
    if (ox_results_replace_one(record) == 0) return OXMETA_OK;
    ox_set_error("oom storing %s", operation);
    return OXMETA_E_OOM;
}

int page_refused(int page, const char *message) {
    if (page >= 1) return OXMETA_OK;
    ox_set_error("%s", message);
    return OXMETA_E_INVALID_ARG;
}

// One page of /search/movie or /search/tv into the store.
int search_op(tmdb_search_kind kind, const char *query, int year, int page) {
    const bool movie = kind == tmdb_search_kind::movie;
    if (!query || !*query || page < 1) {
        ox_set_error("%s: query required, page >= 1", movie ? "search_movie" : "search_tv");
        return OXMETA_E_INVALID_ARG;
    }
    char path[kTmdbSearchPathSize];
    const int rc = tmdb_search_path(path, kind, query, year, page);
    return rc != OXMETA_OK ? rc : tmdb_list_op(path, movie ? "movie" : "tv");
}

// ---------------------------------------------------------------- lookups

bool has_blank_episode(yyjson_val *episodes) {
    size_t index = 0;
    size_t count = 0;
    yyjson_val *episode = nullptr;
    yyjson_arr_foreach(episodes, index, count, episode) {
        if (!ox_nonempty(ox_json_str(episode, "name")) || !ox_nonempty(ox_json_str(episode, "overview"))) return true;
    }
    return false;
}

}  // namespace

void tmdb_fill_episode(ox_result *r, yyjson_val *other_episodes) {
    size_t index = 0;
    size_t count = 0;
    yyjson_val *other = nullptr;
    yyjson_arr_foreach(other_episodes, index, count, other) {
        if (r->episode_number < 1 || ox_json_int(yyjson_obj_get(other, "episode_number"), 0) != r->episode_number)
            continue;
        if (!ox_nonempty(r->title)) r->title = ox_lend(ox_json_str(other, "name"));
        if (!ox_nonempty(r->overview)) r->overview = ox_lend(ox_json_str(other, "overview"));
        return;
    }
}

namespace {

// The find reply's result families, with the media type of their items.
struct find_family {
    const char *member;
    const char *media_type;
};
constexpr find_family kFindFamilies[] = {
    {"movie_results", "movie"},
    {"tv_results", "tv"},
    {"person_results", "person"},
};

// The reply's "seasons", as many as memory allows.
ox_season_list seasons_of(yyjson_val *root) {
    ox_season_list seasons{};
    size_t index = 0;
    size_t count = 0;
    yyjson_val *season = nullptr;
    yyjson_arr_foreach(yyjson_obj_get(root, "seasons"), index, count, season) {
        const char *poster = ox_json_str(season, "poster_path");
        (void)ox_season_add(&seasons, ox_json_int(yyjson_obj_get(season, "season_number"), -1), poster ? poster : "");
    }
    return seasons;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- listings

OXMETA_API int oxmeta_tmdb_search_multi(const char *query, int page) {
    if (!query || !*query || page < 1) {
        ox_set_error("search_multi: query required, page >= 1");
        return OXMETA_E_INVALID_ARG;
    }
    char path[512];
    char rest[64];
    const int rest_size = std::snprintf(rest, sizeof rest, "/search/multi?query=&page=%d&include_adult=false", page);
    const int rc = escaped_path(path, static_cast<size_t>(rest_size), "/search/multi?query=%s&page=%d&include_adult=false",
                                query, page);
    return rc != OXMETA_OK ? rc : tmdb_list_op(path, "");
}

OXMETA_API int oxmeta_tmdb_discover_movie(int page, int year) {
    if (const int rc = page_refused(page, "discover_movie: page >= 1")) return rc;
    char path[512];
    const int n = std::snprintf(path, sizeof path,
                                "/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false"
                                "&page=%d",
                                page);
    if (year > 0 && n > 0 && static_cast<size_t>(n) < sizeof path)
        std::snprintf(path + n, sizeof path - static_cast<size_t>(n), "&year=%d", year);
    return tmdb_list_op(path, "movie");
}

OXMETA_API int oxmeta_tmdb_discover_tv(int page, int include_adult, int first_air_date_year) {
    if (const int rc = page_refused(page, "discover_tv: page >= 1")) return rc;
    if (include_adult) ox_add_warning("discover_tv: include_adult=true set explicitly (legacy omits the flag)");
    char path[512];
    const int n = std::snprintf(path, sizeof path,
                                "/discover/tv?sort_by=popularity.desc&page=%d&timezone=America%%2FNew_York"
                                "&include_null_first_air_dates=false%s",
                                page, include_adult ? "&include_adult=true" : "");
    if (first_air_date_year > 0 && n > 0 && static_cast<size_t>(n) < sizeof path)
        std::snprintf(path + n, sizeof path - static_cast<size_t>(n), "&first_air_date_year=%d",
                      first_air_date_year);
    return tmdb_list_op(path, "tv");
}

OXMETA_API int oxmeta_tmdb_tv_airing_today(int page) {
    if (const int rc = page_refused(page, "airing_today: page >= 1")) return rc;
    char path[256];
    std::snprintf(path, sizeof path, "/tv/airing_today?page=%d", page);
    return tmdb_list_op(path, "tv");
}

OXMETA_API int oxmeta_tmdb_tv_on_the_air(int page) {
    if (const int rc = page_refused(page, "on_the_air: page >= 1")) return rc;
    char path[256];
    std::snprintf(path, sizeof path, "/tv/on_the_air?page=%d", page);
    return tmdb_list_op(path, "tv");
}

OXMETA_API int oxmeta_tmdb_search_movie(const char *query, int year, int page) {
    return search_op(tmdb_search_kind::movie, query, year, page);
}

OXMETA_API int oxmeta_tmdb_search_tv(const char *query, int first_air_year, int page) {
    return search_op(tmdb_search_kind::tv, query, first_air_year, page);
}

// ---------------------------------------------------------------- lookups

OXMETA_API int oxmeta_tmdb_find_by_imdb(const char *imdb_id) {
    if (!imdb_id || !*imdb_id) {
        ox_set_error("find_by_imdb: imdb_id required");
        return OXMETA_E_INVALID_ARG;
    }
    char path[512];
    int rc = escaped_path(path, sizeof "/find/?external_source=imdb_id" - 1, "/find/%s?external_source=imdb_id",
                          imdb_id);
    ox_doc doc;
    if (rc == OXMETA_OK) rc = tmdb_fetch(path, &doc);
    if (rc != OXMETA_OK) return rc;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    ox_results_batch batch;
    char id[kIdSize];
    bool stored = true;
    for (const auto &family : kFindFamilies) {
        stored = batch.add_each(yyjson_obj_get(root, family.member), [&](yyjson_val *item) {
            ox_result r = tmdb_item_to_result(item, family.media_type, id);
            // Only the first match carries the id that was asked for.
            if (batch.count() == 0) r.imdb_id = ox_lend(imdb_id);
            return r;
        });
        if (!stored) break;
    }
    const int count = batch.count();
    batch.publish();
    if (!stored) {
        ox_set_error("oom storing find results");
        return OXMETA_E_OOM;
    }
    if (count == 0) {
        ox_set_error("TMDb /find: no movie/tv/person match for %s", imdb_id);
        return OXMETA_E_NOT_FOUND;
    }
    return OXMETA_OK;
}

OXMETA_API int oxmeta_tmdb_tv_detail(int tmdb_id) {
    if (tmdb_id < 1) {
        ox_set_error("tv_detail: tmdb_id > 0");
        return OXMETA_E_INVALID_ARG;
    }
    char path[kTmdbLookupPathSize];
    std::snprintf(path, sizeof path, "/tv/%d", tmdb_id);
    char fallback[kTmdbTagSize];
    const bool filled = tmdb_fallback_language(fallback);
    if (filled) tmdb_append_to_response(path, "translations");
    ox_doc doc;
    yyjson_val *root = nullptr;
    if (const int rc = tmdb_fetch_object(path, "tv_detail", &doc, &root)) return rc;
    char id[kIdSize];
    ox_result show = tmdb_item_to_result(root, "tv", id);
    show.year = ox_year_from_date(ox_json_str(root, "first_air_date"));
    if (filled) tmdb_fill_blanks(root, &show, "name", fallback);
    ox_results_batch batch;
    const bool stored = batch.add(show);
    ox_season_list seasons = stored ? seasons_of(root) : ox_season_list{};
    yyjson_val *last = yyjson_obj_get(root, "last_episode_to_air");
    const int last_season = ox_json_int(yyjson_obj_get(last, "season_number"), -1);
    const int last_number = ox_json_int(yyjson_obj_get(last, "episode_number"), -1);
    batch.publish([&] {
        ox_seasons_swap(&seasons);
        if (stored) {
            g_ox.last_episode_season = last_season;
            g_ox.last_episode_number = last_number;
        }
    });
    ox_season_list_free(&seasons);
    if (!stored) {
        ox_set_error("oom storing tv_detail");
        return OXMETA_E_OOM;
    }
    return OXMETA_OK;
}

OXMETA_API int oxmeta_tmdb_tv_episode(int tv_id, int season, int episode) {
    if (tv_id < 1 || season < 0 || episode < 1) {
        ox_set_error("tv_episode: tv_id > 0, season >= 0, episode >= 1");
        return OXMETA_E_INVALID_ARG;
    }
    char path[kTmdbLookupPathSize];
    tmdb_episode_path(path, tv_id, season, episode);
    char fallback[kTmdbTagSize];
    const bool filled = tmdb_fallback_language(fallback);
    if (filled) tmdb_append_to_response(path, "translations");
    ox_doc doc;
    yyjson_val *root = nullptr;
    if (const int rc = tmdb_fetch_object(path, "tv_episode", &doc, &root)) return rc;
    char id[kIdSize];
    ox_result record = tmdb_episode_to_result(root, id);
    if (filled) tmdb_fill_blanks(root, &record, "name", fallback);
    return store_one(record, "tv_episode");
}

OXMETA_API int oxmeta_tmdb_tv_season(int tv_id, int season) {
    if (tv_id < 1 || season < 0) {
        ox_set_error("tv_season: tv_id > 0, season >= 0");
        return OXMETA_E_INVALID_ARG;
    }
    char path[kTmdbLookupPathSize];
    tmdb_season_path(path, tv_id, season);
    ox_doc doc;
    yyjson_val *root = nullptr;
    if (const int rc = tmdb_fetch_object(path, "tv_season", &doc, &root)) return rc;
    yyjson_val *episodes = yyjson_obj_get(root, "episodes");
    // Episodes without a name or an overview: the season in the fallback
    // language fills them. A failure of that request leaves them as they
    // are, with a warning, unless memory ran out.
    char fallback[kTmdbTagSize];
    ox_doc fallback_doc;
    yyjson_val *fallback_episodes = nullptr;
    if (tmdb_fallback_language(fallback) && has_blank_episode(episodes)) {
        const int rc = tmdb_fetch(path, &fallback_doc, nullptr, fallback);
        if (rc == OXMETA_E_OOM) return rc;
        if (rc == OXMETA_OK)
            fallback_episodes = yyjson_obj_get(yyjson_doc_get_root(fallback_doc.get()), "episodes");
        else
            ox_add_warning("tv_season: the season in %s failed (%d); its episodes' empty texts stay", fallback, rc);
    }
    ox_results_batch batch;
    char id[kIdSize];
    const bool stored = batch.add_each(episodes, [&](yyjson_val *episode) {
        ox_result r = tmdb_episode_to_result(episode, id, season);
        if (fallback_episodes) tmdb_fill_episode(&r, fallback_episodes);
        return r;
    });
    batch.publish();
    if (!has_elements(episodes)) {
        ox_set_error("tv_season: TMDb lists no episodes in season %d of show %d", season, tv_id);
        return OXMETA_E_NOT_FOUND;
    }
    if (!stored) {
        ox_set_error("oom storing tv_season");
        return OXMETA_E_OOM;
    }
    return OXMETA_OK;
}

OXMETA_API int oxmeta_tmdb_movie_detail(int movie_id) {
    if (movie_id < 1) {
        ox_set_error("movie_detail: movie_id > 0");
        return OXMETA_E_INVALID_ARG;
    }
    char path[kTmdbLookupPathSize];
    std::snprintf(path, sizeof path, "/movie/%d?append_to_response=external_ids", movie_id);
    char fallback[kTmdbTagSize];
    const bool filled = tmdb_fallback_language(fallback);
    if (filled) tmdb_append_to_response(path, "translations");
    ox_doc doc;
    yyjson_val *root = nullptr;
    if (const int rc = tmdb_fetch_object(path, "movie_detail", &doc, &root)) return rc;
    char id[kIdSize];
    ox_result movie = tmdb_item_to_result(root, "movie", id);
    if (filled) tmdb_fill_blanks(root, &movie, "title", fallback);
    // The detail names the IMDb id itself; the appended external ids too.
    const char *imdb_id = ox_nonempty(ox_json_str(root, "imdb_id"));
    movie.imdb_id = ox_lend(imdb_id ? imdb_id : ox_json_str(yyjson_obj_get(root, "external_ids"), "imdb_id"));
    return store_one(movie, "movie_detail");
}

OXMETA_API int oxmeta_tmdb_external_ids(int tmdb_id, int is_tv) {
    if (tmdb_id < 1) {
        ox_set_error("external_ids: tmdb_id > 0");
        return OXMETA_E_INVALID_ARG;
    }
    const char *kind = is_tv ? "tv" : "movie";
    char path[256];
    std::snprintf(path, sizeof path, "/%s/%d/external_ids", kind, tmdb_id);
    ox_doc doc;
    if (const int rc = tmdb_fetch(path, &doc)) return rc;
    const char *imdb_id = ox_json_str(yyjson_doc_get_root(doc.get()), "imdb_id");
    bool stored = false;
    {
        ox_guard g;
        if (g_ox.results.count > 0) {
            // Result 0 keeps its old id unless the new one could be copied.
            char *copy = ox_strdup(imdb_id ? imdb_id : "");
            stored = copy != nullptr;
            if (stored) {
                std::free(g_ox.results.items[0].imdb_id);
                g_ox.results.items[0].imdb_id = copy;
            }
        } else {
            char id[kIdSize];
            std::snprintf(id, sizeof id, "%d", tmdb_id);
            ox_result r{};
            r.source = ox_lend("TMDB");
            r.id = id;
            r.imdb_id = ox_lend(imdb_id);
            r.media_type = ox_lend(kind);
            stored = ox_result_add(&r) == 0;
        }
    }
    if (!stored) {
        ox_set_error("oom");
        return OXMETA_E_OOM;
    }
    if (!ox_nonempty(imdb_id)) {
        ox_set_error("external_ids: no imdb_id for tmdb %d", tmdb_id);
        return OXMETA_E_NOT_FOUND;
    }
    return OXMETA_OK;
}

OXMETA_API const char *oxmeta_tmdb_image_url(const char *path, const char *size) {
    if (!path || !*path) return "";
    // Composed apart first: path or size may be the address handed out
    // before, which lives in g_image_url.
    char url[sizeof g_image_url];
    std::snprintf(url, sizeof url, path[0] == '/' ? "%s%s%s" : "%s%s/%s", kTmdbImageBase,
                  ox_nonempty(size) ? size : kDefaultImageSize, path);
    std::memcpy(g_image_url, url, std::strlen(url) + 1);
    return g_image_url;
}

}  // extern "C"
