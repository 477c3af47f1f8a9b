/*
 * oxmeta — film, TV and podcast metadata from TMDb, OMDb and the iTunes
 * Search API, behind a plain C interface.
 *
 * Conventions, stated once:
 *
 *  - Status codes. Every operation that can fail returns an int: OXMETA_OK (0)
 *    on success, one of the negative OXMETA_E_* codes otherwise. A failure
 *    usually leaves a message for oxmeta_last_error(); a success never clears
 *    it, so the status, not the message, tells whether a call failed.
 *
 *  - Ownership. The library copies every text the host passes in. Every text
 *    it returns is its own: never NULL (a missing text is ""), never to be
 *    changed or freed by the host, and valid until the library next replaces
 *    or releases that value (a setter, a request, the next error,
 *    oxmeta_shutdown()). A missing number or a bad index gives -1.
 *
 *  - Transport. The library does no network I/O. The host installs an
 *    oxmeta_io table with oxmeta_set_io(), or selects the built-in fake
 *    transport with oxmeta_use_fake() and scripts it with ox_fake_set() and
 *    ox_fake_fail().
 *
 *  - Threads. Any thread may call any function. One internal lock guards all
 *    state; it is never held while a transport callback runs, so callbacks may
 *    call back into the library. The diagnostics and the result store are
 *    single process-wide slots: with requests running on several threads each
 *    slot holds what the request that wrote last put there.
 *
 *  - No initialisation call. The library is ready as soon as it is loaded;
 *    oxmeta_shutdown() releases what it holds and it keeps working after.
 */
#ifndef OXMETA_H
#define OXMETA_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(OXMETA_BUILD)
#    define OXMETA_API __declspec(dllexport)
#  elif defined(OXMETA_STATIC)
#    define OXMETA_API
#  else
#    define OXMETA_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define OXMETA_API __attribute__((visibility("default")))
#else
#  define OXMETA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ===================================================================== */
/* Status codes                                                           */
/* ===================================================================== */

#define OXMETA_OK              0   /* "OK" */
#define OXMETA_E_TRANSPORT    (-1) /* "transport failure" */
#define OXMETA_E_HTTP         (-2) /* "HTTP error" */
#define OXMETA_E_AUTH         (-3) /* "auth failed (check the key)" */
#define OXMETA_E_RATE_LIMIT   (-4) /* "rate limited (back off)" */
#define OXMETA_E_JSON         (-5) /* "response is not valid JSON" */
#define OXMETA_E_NOT_FOUND    (-6) /* "not found" */
#define OXMETA_E_EMPTY        (-7) /* "empty result" */
#define OXMETA_E_NO_KEY       (-8) /* "no API key set for this service" */
#define OXMETA_E_NO_IO        (-9) /* "no IO backend installed" */
#define OXMETA_E_INVALID_ARG (-10) /* "invalid argument" */
#define OXMETA_E_OOM         (-11) /* "out of memory" */

/* ===================================================================== */
/* Transport table                                                        */
/* ===================================================================== */

/*
 * The host's HTTP transport. The library keeps the pointer, not a copy: the
 * table must stay valid and unchanged while installed and while a request
 * that picked it up runs.
 *
 * get: performs one GET of the full URL (credentials included). Before the
 *   call the library sets *body and *err to NULL and *http_status to 0.
 *   Return 0 on success with *body a NUL-terminated text (or NULL for an
 *   empty body) and *http_status the response status; any other value is a
 *   transport failure, with *err an optional message. Required: a table
 *   whose get is NULL counts as no transport.
 * post: never called by the library; present for hosts that share the table.
 * free: after every get the library releases *body and then *err through
 *   free(ctx, p), called for both even when NULL. When this slot is NULL it
 *   uses the C library's free() instead, so the texts must come from malloc.
 * ctx: passed unchanged as the first argument of every callback.
 */
typedef struct oxmeta_io {
    void *ctx;
    int (*get)(void *ctx, const char *url, char **body, int *http_status,
               char **err);
    int (*post)(void *ctx, const char *url, const char *content_type,
                const char *payload, char **body, int *http_status,
                char **err);
    void (*free)(void *ctx, void *p);
} oxmeta_io;

/* ===================================================================== */
/* Configuration                                                          */
/* ===================================================================== */

/* Setters keep the previous value when the new one cannot be copied
 * (OXMETA_E_OOM). */
/* Sets the TMDb v3 API key. NULL or "": OXMETA_E_INVALID_ARG, key kept. */
OXMETA_API int oxmeta_tmdb_set_key(const char *key);
/* Sets the TMDb bearer token. NULL or "": OXMETA_E_INVALID_ARG. */
OXMETA_API int oxmeta_tmdb_set_bearer(const char *token);
/* Sets the OMDb API key. NULL or "": OXMETA_E_INVALID_ARG, key kept. */
OXMETA_API int oxmeta_omdb_set_key(const char *key);
/* Sets the TMDb language tag; NULL or "" means "en-US". */
OXMETA_API int oxmeta_set_language(const char *tag);
/* Stores a request timeout (ms >= 0); no transport receives it. */
OXMETA_API int oxmeta_set_timeout_ms(int ms);
/* Installs the host's transport table (borrowed), or none with NULL. */
OXMETA_API void oxmeta_set_io(const oxmeta_io *io);
/* Selects the built-in fake transport. Always OXMETA_OK. */
OXMETA_API int oxmeta_use_fake(void);
/* This build has no libcurl transport: always OXMETA_E_NO_IO. */
OXMETA_API int oxmeta_use_curl(void);
/* Releases keys, diagnostics, results and fake routes; the transport
 * selection, timeout, last HTTP status and paging counters stay. */
OXMETA_API void oxmeta_shutdown(void);

/* ===================================================================== */
/* Diagnostics                                                            */
/* ===================================================================== */

/* The last error message, or "". Not cleared by a success. */
OXMETA_API const char *oxmeta_last_error(void);
/* Number of warnings accumulated since load or shutdown. */
OXMETA_API int oxmeta_warning_count(void);
/* Warning at index, or "" for a bad index. */
OXMETA_API const char *oxmeta_warning(int index);
/* HTTP status of the last request that reached a transport; 0 before. */
OXMETA_API int oxmeta_last_http_code(void);
/* URL of that request with credentials masked, or "". */
OXMETA_API const char *oxmeta_last_url(void);
/* Body of the last response a provider received, or "". */
OXMETA_API const char *oxmeta_result_json(void);

/* ===================================================================== */
/* Results                                                                */
/* ===================================================================== */

/* Number of records held by the result store. */
OXMETA_API int oxmeta_result_count(void);
/* Provider tag of record index: "TMDB", "OMDB" or "ITUNES". */
OXMETA_API const char *oxmeta_result_source(int index);
/* Provider's id of the record as text. */
OXMETA_API const char *oxmeta_result_id(int index);
/* IMDb id of the record, where the provider gives one. */
OXMETA_API const char *oxmeta_result_imdb_id(int index);
/* Display title. */
OXMETA_API const char *oxmeta_result_title(int index);
/* Title in the original language. */
OXMETA_API const char *oxmeta_result_original_title(int index);
/* Plot summary or description. */
OXMETA_API const char *oxmeta_result_overview(int index);
/* Kind of item: "movie", "tv", "person", "podcast", ... */
OXMETA_API const char *oxmeta_result_media_type(int index);
/* Poster: a TMDb image path or a full image URL. */
OXMETA_API const char *oxmeta_result_poster_path(int index);
/* TMDb backdrop image path. */
OXMETA_API const char *oxmeta_result_backdrop_path(int index);
/* Podcast feed URL. */
OXMETA_API const char *oxmeta_result_feed_url(int index);
/* Release or first-air year; -1 for a bad index or no year. */
OXMETA_API int oxmeta_result_year(int index);
/* Rating in thousandths of the service's scale; -1 for a bad index. */
OXMETA_API int oxmeta_result_rating_permille(int index);
/* Popularity figure scaled by the provider; -1 for a bad index. */
OXMETA_API int oxmeta_result_popularity_permille(int index);
/* Paging counters of the last paged reply. */
OXMETA_API int oxmeta_total_pages(void);
OXMETA_API int oxmeta_total_results(void);
OXMETA_API int oxmeta_page(void);
/* Seasons of the last TV detail reply. */
OXMETA_API int oxmeta_tv_season_count(void);
/* Season number at index, or -1. */
OXMETA_API int oxmeta_tv_season_number(int index);
/* Poster path of the season at index, or "". */
OXMETA_API const char *oxmeta_tv_season_poster(int index);
/* Season and number of the last aired episode of that show. */
OXMETA_API int oxmeta_tv_last_episode_season(void);
OXMETA_API int oxmeta_tv_last_episode_number(void);

/* ===================================================================== */
/* TMDb                                                                   */
/* ===================================================================== */

/*
 * Requests carry the key set with oxmeta_tmdb_set_key() and the language
 * (default "en-US"). A bearer token alone cannot be sent (the transport has
 * no headers): such a request fails with OXMETA_E_NO_KEY and is not made.
 * 401 gives OXMETA_E_AUTH, 429 OXMETA_E_RATE_LIMIT, any other status outside
 * 200..299 OXMETA_E_HTTP. A failed request leaves the results, the paging
 * counters and the season data as they were.
 */

/* Listings: one page (>= 1) of results replaces the store and sets the
 * paging counters. A page without results is OXMETA_E_NOT_FOUND (the store
 * is then empty and the counters still tell the reply's figures). */
/* Movies, TV shows and people matching query. */
OXMETA_API int oxmeta_tmdb_search_multi(const char *query, int page);
/* Popular movies, of one release year when year > 0. */
OXMETA_API int oxmeta_tmdb_discover_movie(int page, int year);
/* Popular TV shows, of one first-air year when > 0. A non-zero
 * include_adult sends the flag and adds a warning. */
OXMETA_API int oxmeta_tmdb_discover_tv(int page, int include_adult, int first_air_date_year);
/* TV shows with an episode airing today. */
OXMETA_API int oxmeta_tmdb_tv_airing_today(int page);
/* TV shows currently on the air. */
OXMETA_API int oxmeta_tmdb_tv_on_the_air(int page);

/* Movies, then TV shows, then people carrying an IMDb id; the first result
 * also carries that id. No match: OXMETA_E_NOT_FOUND and an empty store. */
OXMETA_API int oxmeta_tmdb_find_by_imdb(const char *imdb_id);
/* One TV show (tmdb_id >= 1) as the only result, with its seasons
 * (oxmeta_tv_season_*) and last aired episode (oxmeta_tv_last_episode_*). */
OXMETA_API int oxmeta_tmdb_tv_detail(int tmdb_id);
/* The IMDb id of a movie (is_tv 0) or TV show: written to result 0, or, on
 * an empty store, to one new result. OXMETA_E_NOT_FOUND when the reply has
 * none (result 0's IMDb id is then ""). */
OXMETA_API int oxmeta_tmdb_external_ids(int tmdb_id, int is_tv);
/* Full address of a TMDb image path at size ("w500" for NULL or ""); ""
 * for an empty path. Makes no request. The text lives in one static buffer
 * (at most 1023 bytes) that every call overwrites: not for concurrent use. */
OXMETA_API const char *oxmeta_tmdb_image_url(const char *path, const char *size);

/* ===================================================================== */
/* OMDb                                                                   */
/* ===================================================================== */

/* Looks up one title by IMDb id ("tt0000001"); one record on success. */
OXMETA_API int oxmeta_omdb_by_imdb(const char *imdb_id);
/* Looks up one title by its name. */
OXMETA_API int oxmeta_omdb_by_title(const char *title);
/* Looks up one season (>= 1) of a series by IMDb id. */
OXMETA_API int oxmeta_omdb_season(const char *imdb_id, int season);
/* A top-level string member of the last body, or "". The text lives in one
 * static buffer (at most 2047 bytes) that every lookup overwrites. */
OXMETA_API const char *oxmeta_omdb_field(const char *key);
/* Minutes from "Runtime" of the last body, or -1; also stored in *out. */
OXMETA_API int oxmeta_omdb_runtime_minutes(int *out_minutes);
/* Votes from "imdbVotes" of the last body into *out (0 first);
 * 0 when a non-zero count was read, else -1. */
OXMETA_API int oxmeta_omdb_votes(int64_t *out_votes);

/* ===================================================================== */
/* iTunes Search                                                          */
/* ===================================================================== */

/*
 * No key is needed. A reply replaces the store with one result per item
 * (source "ITUNES"; a podcast's feed address in feed_url; rating and
 * popularity -1) and sets the counters to one page: total_results from
 * "resultCount", total_pages and page 1. A reply without items is OXMETA_OK
 * with an empty store. 403 gives OXMETA_E_RATE_LIMIT, any other status
 * outside 200..299 OXMETA_E_HTTP.
 */

/* Searches term (required) in media (NULL or "": "podcast") and country
 * (NULL or "": "US"), at most limit (>= 1) items; a limit above 200 is
 * clamped to 200 with a warning. */
OXMETA_API int oxmeta_itunes_search(const char *term, const char *media, int limit, const char *country);
/* Looks up one item by its iTunes id (>= 1). */
OXMETA_API int oxmeta_itunes_lookup(int64_t id);

/* ===================================================================== */
/* Media file names                                                      */
/* ===================================================================== */

/* What a media file's path says it is: oxmeta_parse_name fills one.
 *
 * A plain record of fixed-size fields. Texts are NUL-terminated UTF-8, ""
 * when the name does not say (cut at a character boundary when longer than
 * their field); numbers are -1 when the name does not say. The first member
 * is the record's own size: set it to sizeof(oxmeta_name) before the call.
 * Fields are only ever added at the end, so a host built against an older
 * header passes its smaller size and gets the fields it knows. */
#define OXMETA_NAME_TEXT      256 /* bytes of a title or an episode title */
#define OXMETA_NAME_TAG        48 /* bytes of a tag */
#define OXMETA_NAME_EPISODES   16 /* episode numbers kept */
#define OXMETA_NAME_SEASONS    16 /* season numbers kept */
#define OXMETA_NAME_ID         16 /* bytes of an IMDb id */

typedef struct oxmeta_name {
    uint32_t size;                           /* sizeof(oxmeta_name), set by the caller */
    char kind[8];                            /* "movie" or "episode" */
    char title[OXMETA_NAME_TEXT];            /* the film's, or the show's for an episode */
    int year;                                /* the release year (a range's first) */
    int year_end;                            /* the last year of a range ("2010-2015") */
    int season;
    int episode_count;                       /* how many of episodes[] hold a number */
    int episodes[OXMETA_NAME_EPISODES];      /* S01E01E02, S01E01-E03, 1x01-02 ... */
    int absolute_episode;                    /* numbered without a season ("Title - 05") */
    char date[11];                           /* YYYY-MM-DD, for daily shows */
    char episode_title[OXMETA_NAME_TEXT];
    int part;                                /* CD1, Part 2, Disc 1 */
    char country[OXMETA_NAME_TAG];           /* "The Office (US)": "US" */
    char screen_size[OXMETA_NAME_TAG];       /* "480p" ... "2160p" */
    char source[OXMETA_NAME_TAG];            /* "Blu-ray", "Web", "HDTV", "DVD" ... */
    char video_codec[OXMETA_NAME_TAG];       /* "H.264", "H.265", "Xvid" ... */
    char audio_codec[OXMETA_NAME_TAG];       /* "AAC", "Dolby Digital Plus", "DTS-HD MA" ... */
    char audio_channels[OXMETA_NAME_TAG];    /* "2.0", "5.1", "7.1" */
    char hdr[OXMETA_NAME_TAG];               /* "HDR10", "HDR10+", "Dolby Vision", "HLG" */
    char edition[OXMETA_NAME_TAG];           /* "Director's Cut", "Extended" ... */
    char release_group[OXMETA_NAME_TAG];
    char container[OXMETA_NAME_TAG];         /* the extension, lower case: "mkv" */
    char languages[OXMETA_NAME_TAG];         /* ISO 639-1 codes, comma-separated: "en,fr" */
    char subtitles[OXMETA_NAME_TAG];         /* the same, for tagged subtitles */
    int proper;                              /* PROPER tags (0 when none) */
    int repack;                              /* REPACK and RERIP tags (0 when none) */
    int is_extra;                            /* 1: a sample, trailer or extra; else 0 */
    /* Added in the record's second version. */
    int season_count;                        /* how many of seasons[] hold a number */
    int seasons[OXMETA_NAME_SEASONS];        /* every season named: "S01-S04", "Seasons 1 & 2" */
    int tmdb_id;                             /* "[tmdbid-680]", "{tmdb-680}" */
    int tvdb_id;                             /* "[tvdbid-81189]", "{tvdb-81189}" */
    char imdb_id[OXMETA_NAME_ID];            /* "tt0110912": "[imdbid-tt0110912]", or bare */
} oxmeta_name;

/* Parses path (UTF-8; '/' and '\\' separate folders) into *out. A pure
 * function: no lock, no state, no allocation, no file read; safe from any
 * number of threads at once, and bounded in time and output for any input.
 * OXMETA_OK, or OXMETA_E_INVALID_ARG for a NULL path or out, or an
 * out->size smaller than the first version of the record (*out untouched).
 * Only the first out->size bytes are written: a host built against the
 * first version (every field up to is_extra) gets those fields alone. */
OXMETA_API int oxmeta_parse_name(const char *path, oxmeta_name *out);

/* ===================================================================== */
/* TMDb searches by kind, and matching a file                             */
/* ===================================================================== */

/* Requests follow the TMDb rules above (key, language, status codes; a
 * failed request leaves the results as they were). */

/* Movies matching query, of release year `year` when > 0; a page (>= 1)
 * replaces the store (media type "movie") and sets the paging counters, as
 * the listings do. */
OXMETA_API int oxmeta_tmdb_search_movie(const char *query, int year, int page);
/* TV shows matching query, first aired in first_air_year when > 0 (media
 * type "tv"); as oxmeta_tmdb_search_movie. */
OXMETA_API int oxmeta_tmdb_search_tv(const char *query, int first_air_year, int page);
/* One episode (tv_id >= 1, season >= 0, episode >= 1) as the only result:
 * its title, overview, air year, still image (as poster_path) and rating;
 * media type "episode". */
OXMETA_API int oxmeta_tmdb_tv_episode(int tv_id, int season, int episode);
/* One movie (movie_id >= 1) as the only result, its IMDb id filled. */
OXMETA_API int oxmeta_tmdb_movie_detail(int movie_id);

/* Finds the TMDb entry of a media file. The path is read by
 * oxmeta_parse_name. A TMDb id in it is looked up directly (movie or TV
 * detail, by the file's kind), else an IMDb id, else a TVDb id (through
 * /find): found, that entry is the match, alone, with the score 1000; not
 * found, a warning says so and the title is searched. A film is searched
 * with its title and year (then, when nothing is confident, with the year
 * before, then with no year), a show with its title (and year), and its
 * episodes then found in their season's reply: by season and number, by a
 * number from the show's first episode, or by air date (these two through
 * the show's detail first). At most three requests; four for an episode
 * found through the show's detail.
 *
 * The store then holds the candidates (films, or shows for an episode),
 * best first, at most 20, each with a score from 0 to 1000
 * (oxmeta_result_match_score): 820 for an equal title, less for a title
 * that differs by a known convention (a brand in front, a subtitle, a
 * sequel number), then the year (+100 same, +50 one off, -200 two off,
 * -250 and less further off), a country in the name (+-50), and up to 30
 * for popularity to part near ties. docs/matching.md gives every rule.
 *
 * OXMETA_OK when the best candidate scores OXMETA_MATCH_CONFIDENT or more
 * (and, for an episode, the episode was found). Otherwise
 * OXMETA_E_NOT_FOUND with "match: no confident match for \"<title>\"", or
 * "match: ambiguous: \"<title>\" is N entries" when N candidates fit
 * equally and nothing in the name parts them, or the missing episode
 * named; the candidates stay in the store for the host to show. A path
 * with neither a title nor an id is OXMETA_E_INVALID_ARG; a failed request
 * returns its status and leaves the store as it was. The paging counters
 * are not changed. */
#define OXMETA_MATCH_CONFIDENT 700
OXMETA_API int oxmeta_tmdb_match(const char *path);
/* The match score (0..1000) of result i; -1 for an index out of range or
 * when the store was not filled by oxmeta_tmdb_match. */
OXMETA_API int oxmeta_result_match_score(int i);
/* The episode the last match found: its title and TMDb id, or "" when the
 * store no longer holds that match, the file was a film, or no episode was
 * found. */
OXMETA_API const char *oxmeta_match_episode_title(void);
OXMETA_API const char *oxmeta_match_episode_id(void);

/* ===================================================================== */
/* TV seasons, and the episodes a match found                             */
/* ===================================================================== */

/* One season of a show (tv_id >= 1, season >= 0; 0 holds the specials):
 * its episodes replace the store, in TMDb's order, each with its id, name
 * (as the title), overview, air year, still image (as poster_path) and
 * rating; media type "episode". A season without episodes is
 * OXMETA_E_NOT_FOUND with an empty store. Follows the TMDb rules above;
 * the paging counters and the season data are not changed. */
OXMETA_API int oxmeta_tmdb_tv_season(int tv_id, int season);
/* Season and episode number of result i, as TMDb numbers the episode; -1
 * for a bad index or a result that is no episode. */
OXMETA_API int oxmeta_result_season_number(int i);
OXMETA_API int oxmeta_result_episode_number(int i);

/* Every episode the last match found, in the order the file names them
 * (S01E01E02 gives two): 0 when the store no longer holds that match, the
 * file was a film, or no episode was found. Episode 0 is the one
 * oxmeta_match_episode_title() and oxmeta_match_episode_id() give. A bad
 * index gives "" or -1. */
OXMETA_API int oxmeta_match_episode_count(void);
OXMETA_API const char *oxmeta_match_episode_title_at(int i);
OXMETA_API const char *oxmeta_match_episode_id_at(int i);
OXMETA_API int oxmeta_match_episode_season(int i);
OXMETA_API int oxmeta_match_episode_number(int i);

/* ===================================================================== */
/* A fallback language                                                    */
/* ===================================================================== */

/* Sets the language (a TMDb tag such as "en-US") whose text fills a title,
 * an overview or an episode name that TMDb has empty in the language of
 * oxmeta_set_language(); then the original language's text fills what is
 * still empty. NULL or "" sets none, the default. With one set, the movie,
 * TV and episode detail lookups ask for their translations in the same
 * request (append_to_response), and a season whose episodes lack a name or
 * an overview is asked again in the fallback language. oxmeta_shutdown()
 * sets none. OXMETA_OK, or OXMETA_E_OOM (the previous one kept). */
OXMETA_API int oxmeta_set_language_fallback(const char *tag);

/* ===================================================================== */
/* Fake transport                                                         */
/* ===================================================================== */

/* Scripts a response for method ("GET" or "POST") and the exact URL.
 * A NULL body answers "". OXMETA_E_INVALID_ARG or OXMETA_E_OOM, no message. */
OXMETA_API int ox_fake_set(const char *method, const char *url,
                           int http_status, const char *body);
/* Scripts a transport failure; a NULL message means "connection refused". */
OXMETA_API int ox_fake_fail(const char *method, const char *url,
                            const char *message);
/* Requests answered by the routes matching method and url (NULL: any). */
OXMETA_API int ox_fake_calls(const char *method, const char *url);
/* Removes every scripted route; fake mode stays selected. */
OXMETA_API void ox_fake_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* OXMETA_H */
