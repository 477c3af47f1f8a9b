// iTunes Search API client: search by term and lookup by id, every item of
// the reply one record, podcasts with their feed address.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "providers/oxmeta_fetch.h"

namespace {

constexpr const char *kItunesBase = "https://itunes.apple.com/";
constexpr size_t kUrlSize = 1024;
constexpr int kMaxLimit = 200;
constexpr size_t kIdSize = 32;

constexpr ox_status_rule kItunesRules[] = {
    {403, OXMETA_E_RATE_LIMIT, "iTunes 403 \xE2\x80\x94 rate limited by IP, back off"},
};
constexpr ox_service kItunes = {"iTunes", kItunesRules};

// The members of an iTunes item that a record is made of.
enum itunes_member : size_t {
    kCollectionId, kTrackId, kArtistId, kCollectionName, kTrackName, kArtistName, kLongDescription,
    kDescription, kReleaseDate, kKind, kFeedUrl, kArtwork600, kArtwork100, kArtwork60,
};
constexpr std::string_view kItunesMembers[] = {
    "collectionId", "trackId", "artistId", "collectionName", "trackName", "artistName", "longDescription",
    "description", "releaseDate", "kind", "feedUrl", "artworkUrl600", "artworkUrl100", "artworkUrl60",
};

// The first integer member among the id members, in decimal; "0" without
// one. An unsigned value beyond the signed range is written as it is.
char *id_of(const ox_members<std::size(kItunesMembers)> &m, char (&id)[kIdSize]) {
    for (const size_t k : {kCollectionId, kTrackId, kArtistId}) {
        if (yyjson_is_sint(m[k])) return ox_decimal(id, yyjson_get_sint(m[k]));
        if (yyjson_is_uint(m[k])) return ox_decimal(id, yyjson_get_uint(m[k]));
    }
    return ox_decimal(id, 0);
}

const char *media_type_of(const ox_members<std::size(kItunesMembers)> &m) {
    if (m.str(kFeedUrl)) return "podcast";
    const char *kind = m.str(kKind);
    if (!kind) return nullptr;
    const std::string_view k(kind);
    if (k == "feature-movie" || k == "movie") return "movie";
    if (k == "tv-episode") return "tv";
    if (k.find("podcast") != std::string_view::npos) return "podcast";
    return kind;
}

// Maps one item of "results" (any value is accepted) onto a record whose
// texts are lent from the document and from id.
ox_result itunes_item_to_result(yyjson_val *item, char (&id)[kIdSize]) {
    const ox_members m(item, kItunesMembers);
    ox_result r{};
    r.source = ox_lend("ITUNES");
    r.id = id_of(m, id);
    r.title = ox_lend(m.first_str(kCollectionName, kTrackName, kArtistName));
    r.overview = ox_lend(m.first_str(kLongDescription, kDescription));
    r.year = ox_year_from_date(m.str(kReleaseDate));
    r.media_type = ox_lend(media_type_of(m));
    r.poster_path = ox_lend(m.first_str(kArtwork600, kArtwork100, kArtwork60));
    r.rating_permille = -1;
    r.popularity_permille = -1;
    r.feed_url = ox_lend(m.str(kFeedUrl));
    return r;
}

int clamp_to_int(size_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int>(n); }

// Sends the request for path and replaces the store and the counters with
// the reply's items.
int itunes_fetch(const char *path) {
    char url[kUrlSize];
    std::snprintf(url, sizeof url, "%s%s", kItunesBase, path);
    ox_doc doc;
    if (const int rc = ox_fetch_json(kItunes, url, &doc)) return rc;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ox_set_error("iTunes: not an object");
        return OXMETA_E_JSON;
    }
    yyjson_val *items = yyjson_obj_get(root, "results");
    const int item_count = clamp_to_int(yyjson_arr_size(items));
    const int total = ox_json_int(yyjson_obj_get(root, "resultCount"), item_count);
    ox_results_batch batch;
    char id[kIdSize];
    const bool stored = batch.add_each(items, [&](yyjson_val *item) { return itunes_item_to_result(item, id); });
    batch.publish([&] { ox_set_paging(1, total, 1); });
    if (!stored) {
        ox_set_error("oom storing iTunes results");
        return OXMETA_E_OOM;
    }
    return OXMETA_OK;
}

}  // namespace

extern "C" {

OXMETA_API int oxmeta_itunes_search(const char *term, const char *media, int limit, const char *country) {
    if (!term || !*term) {
        ox_set_error("itunes_search: term required");
        return OXMETA_E_INVALID_ARG;
    }
    if (limit <= 0) {
        ox_set_error("itunes_search: limit >= 1");
        return OXMETA_E_INVALID_ARG;
    }
    if (limit > kMaxLimit) {
        ox_add_warning("itunes_search: limit %d clamped to 200 (Apple documented max)", limit);
        limit = kMaxLimit;
    }
    char *media_q = ox_query_escape(ox_nonempty(media) ? media : "podcast");
    char *country_q = ox_query_escape(ox_nonempty(country) ? country : "US");
    char *term_q = nullptr;
    int rc = OXMETA_E_OOM;
    if (media_q && country_q) {
        // The term is shortened so that the whole address fits its buffer.
        const int rest = std::snprintf(nullptr, 0, "%ssearch?term=&media=%s&limit=%d&country=%s", kItunesBase, media_q,
                                       limit, country_q);
        const size_t room = rest >= 0 && static_cast<size_t>(rest) < kUrlSize - 1 ? kUrlSize - 1 - static_cast<size_t>(rest) : 0;
        term_q = ox_query_escape_clipped(term, room);
    }
    if (term_q && media_q && country_q) {
        char path[kUrlSize];
        std::snprintf(path, sizeof path, "search?term=%s&media=%s&limit=%d&country=%s", term_q, media_q, limit,
                      country_q);
        rc = itunes_fetch(path);
    }
    std::free(term_q);
    std::free(media_q);
    std::free(country_q);
    return rc;
}

OXMETA_API int oxmeta_itunes_lookup(int64_t id) {
    if (id <= 0) {
        ox_set_error("itunes_lookup: id > 0");
        return OXMETA_E_INVALID_ARG;
    }
    char path[128];
    std::snprintf(path, sizeof path, "lookup?id=%" PRId64, id);
    return itunes_fetch(path);
}

}  // extern "C"
