// The TMDb client's shared core, for the operations kept in other files:
// one request, the mapping of one item, and a page of results stored.
#pragma once

#include <cstddef>

#include "providers/oxmeta_fetch.h"

inline constexpr size_t kTmdbIdSize = 32;
inline constexpr size_t kTmdbTagSize = 64;

// Sends the request for path (which may already carry a query) with the
// key and language (language, when given, instead of the one set); on
// OXMETA_OK *doc holds the parsed reply. http_status, when given, receives
// the status of the reply (0 when none came).
int tmdb_fetch(const char *path, ox_doc *doc, int *http_status = nullptr, const char *language = nullptr);

// tmdb_fetch for a reply that must be one object: on OXMETA_OK *root is
// it; any other reply is "<operation>: not an object" and OXMETA_E_JSON.
int tmdb_fetch_object(const char *path, const char *operation, ox_doc *doc, yyjson_val **root,
                      int *http_status = nullptr);

// Maps one TMDb item (a movie, a TV show, a person or an episode; any value
// is accepted) onto a record whose texts are lent from the document and
// from id, which receives the decimal id.
ox_result tmdb_item_to_result(yyjson_val *item, const char *default_media, char (&id)[kTmdbIdSize]);

// The fallback language set (copied into tag); false when none is.
bool tmdb_fallback_language(char (&tag)[kTmdbTagSize]);

// Fills the record's empty title (from member title_key: "title" or
// "name") and overview from the reply's appended translations: into the
// fallback language (its region's first, else any), then into the reply's
// original language; an empty title last from the original title. The
// texts filled are lent from the reply.
void tmdb_fill_blanks(yyjson_val *root, ox_result *r, const char *title_key, const char *fallback);

// Fills an episode's empty name and overview from the same episode (by
// number) of its season in another language (that reply's "episodes").
void tmdb_fill_episode(ox_result *r, yyjson_val *other_episodes);

// What /search/movie and /search/tv are asked with.
enum class tmdb_search_kind { movie, tv };
inline constexpr size_t kTmdbSearchPathSize = 512;
inline constexpr size_t kTmdbLookupPathSize = 256;

// Adds what to the path's append_to_response (made when it has none).
void tmdb_append_to_response(char (&path)[kTmdbLookupPathSize], const char *what);

// The path of a search for query (percent-encoded here), page, and the
// year when above 0; OXMETA_E_OOM when the query cannot be encoded.
int tmdb_search_path(char (&path)[kTmdbSearchPathSize], tmdb_search_kind kind, const char *query, int year,
                     int page);

// The paths of one episode's and of one season's lookup.
void tmdb_episode_path(char (&path)[kTmdbLookupPathSize], int tv_id, int season, int episode);
void tmdb_season_path(char (&path)[kTmdbLookupPathSize], int tv_id, int season);

// The record of an episode (a reply, or an element of a season's
// "episodes"): its id, "name", "overview", year from "air_date",
// "still_path" as the poster, "vote_average" as the rating, and its
// "season_number" (season when it has none) and "episode_number".
ox_result tmdb_episode_to_result(yyjson_val *root, char (&id)[kTmdbIdSize], int season = -1);
