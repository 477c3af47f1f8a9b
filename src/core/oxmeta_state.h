// The process-wide state record, its lock, and the internal routines that
// read or write it. Routines marked "lock held" expect the caller to hold
// g_ox.lock; every other routine here takes the lock itself and must be
// called without it.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <cstdint>

#include "core/oxmeta_util.h"
#include "oxmeta.h"

#if defined(_WIN32)
using ox_mutex = SRWLOCK;
#define OX_MUTEX_INIT SRWLOCK_INIT
inline void ox_mutex_lock(ox_mutex *m) { AcquireSRWLockExclusive(m); }
inline void ox_mutex_unlock(ox_mutex *m) { ReleaseSRWLockExclusive(m); }
#else
using ox_mutex = pthread_mutex_t;
#define OX_MUTEX_INIT PTHREAD_MUTEX_INITIALIZER
inline void ox_mutex_lock(ox_mutex *m) { pthread_mutex_lock(m); }
inline void ox_mutex_unlock(ox_mutex *m) { pthread_mutex_unlock(m); }
#endif

// One result record; every text is owned by the record.
struct ox_result {
    char *source;
    char *id;
    char *imdb_id;
    char *title;
    char *original_title;
    char *overview;
    int year;
    char *media_type;
    char *poster_path;
    char *backdrop_path;
    int rating_permille;
    int popularity_permille;
    char *feed_url;
    // An episode's place in its show; episode_number is 0 on a record that
    // is no episode (the accessors then give -1 for both).
    int season_number;
    int episode_number;
};

// One scripted route of the fake transport.
struct fake_route {
    char *method;
    char *url;
    char *body;          // response route only
    int http_status;     // response route only
    int fail;            // 1: failure route
    char *fail_message;  // failure route only
    int calls;
};

struct ox_result_list {
    ox_result *items;
    int count;
    int capacity;
};

struct ox_text_list {
    char **items;
    int count;
    int capacity;
};

struct ox_route_list {
    fake_route *items;
    int count;
    int capacity;
};

// The calling thread's id as the platform keeps it: no thread-local
// storage, no allocation, no call into the loader. Never 0.
inline uintptr_t ox_thread_id() {
#if defined(_WIN32)
    return static_cast<uintptr_t>(GetCurrentThreadId());
#else
    return static_cast<uintptr_t>(pthread_self());
#endif
}

// A replaced value that another thread allocated waits in a slot of its
// kind for one publish: freeing another thread's memory makes both threads
// wait on the allocator, and when two threads take turns, the value the next
// publish takes out is the one its own thread allocated.
//
// Swaps what replaced held (allocated by the thread owner) for the slot's
// value; afterwards replaced and older hold what the caller releases once the
// lock is let go. So at most one replaced value waits, and every publish
// releases what waited before it (lock held).
template <typename T>
void ox_retire(T &slot, T &replaced, uintptr_t owner, T &older) {
    older = slot;
    slot = T{};
    if (owner != 0 && owner != ox_thread_id()) {
        slot = replaced;
        replaced = T{};
    }
}

// Candidates a match keeps, best first.
inline constexpr int kMatchCandidates = 20;

// What the last match published beside its candidates. count is 0 when
// the store was not filled by a match: every other replacement of the
// store sets it to 0.
struct ox_match_state {
    int scores[kMatchCandidates];  // score of result i, for i < count
    int count;
    ox_result_list episodes;  // the episodes found, in the name's order
};

struct ox_state {
    ox_mutex lock = OX_MUTEX_INIT;  // statically initialised, never destroyed
    char *tmdb_key;
    char *tmdb_bearer;
    char *omdb_key;
    char *language;
    char *language_fallback;  // null: none
    int timeout_ms;
    int io_mode;  // 1: fake transport selected
    const oxmeta_io *io;
    int last_http_code;
    char *last_url;
    char *last_error;
    ox_buf last_body;
    uintptr_t last_body_owner;  // ox_thread_id() of the thread that allocated it
    ox_buf retired_body;  // empty, or a replaced body waiting for one publish
    ox_result_list results;
    uintptr_t results_owner;
    ox_result_list retired_results;  // likewise for a replaced result set
    int total_pages;
    int total_results;
    int page;
    int *season_numbers;
    char **season_posters;
    int season_count;
    int season_cap;
    int last_episode_season;
    int last_episode_number;
    ox_match_state match;
    ox_text_list warnings;
    ox_route_list fake_routes;
};

extern ox_state g_ox;

// Holds g_ox.lock for its scope; unlock() releases it early.
class ox_guard {
public:
    ox_guard() { ox_mutex_lock(&g_ox.lock); }
    ~ox_guard() { unlock(); }
    void unlock() {
        if (held_) {
            held_ = false;
            ox_mutex_unlock(&g_ox.lock);
        }
    }
    ox_guard(const ox_guard &) = delete;
    ox_guard &operator=(const ox_guard &) = delete;

private:
    bool held_ = true;
};

// ---- errors and warnings (take the lock)
void ox_set_error(const char *fmt, ...) OX_PRINTF(1, 2);
void ox_add_warning(const char *fmt, ...) OX_PRINTF(1, 2);

// ---- request path (takes the lock)
// Sends one GET through the selected transport and appends the body to out.
// When http_status is not null it receives this request's status (the
// shared last_http_code slot may already hold another thread's).
int ox_http_get(const char *url, ox_buf *out, int *http_status = nullptr);

// ---- result lists: a list of the caller's own, or the store with the lock held
// Copies every text of r into a new record at the end of list; 0, or -1
// (list unchanged) when memory runs out.
int ox_list_add(ox_result_list *list, const ox_result *r);
// Releases every record and the array; the list is empty afterwards.
void ox_list_free(ox_result_list *list);

// ---- result store (lock held)
int ox_result_add(const ox_result *r);
void ox_results_clear();
void ox_result_free(ox_result *r);

// ---- TV season data
// Seasons gathered outside the lock, then swapped into g_ox.
struct ox_season_list {
    int *numbers;
    char **posters;
    int count;
    int capacity;
};
// Appends one season; false (nothing changed) when memory runs out.
bool ox_season_add(ox_season_list *list, int number, const char *poster);
void ox_season_list_free(ox_season_list *list);
// Exchanges the list with the season data of g_ox (lock held).
void ox_seasons_swap(ox_season_list *list);

// ---- fake route table (lock held)
int fake_upsert(const char *method, const char *url);
void ox_fake_reset_locked();
// Route answering a GET of url, or null (lock held).
fake_route *fake_find(const char *method, const char *url);
// The static fake transport table.
const oxmeta_io *oxmeta_fake_io();

// The ten text fields of ox_result, in field order.
inline constexpr char *ox_result::*kResultTexts[] = {
    &ox_result::source,        &ox_result::id,           &ox_result::imdb_id,
    &ox_result::title,         &ox_result::original_title, &ox_result::overview,
    &ox_result::media_type,    &ox_result::poster_path,  &ox_result::backdrop_path,
    &ox_result::feed_url,
};

// A stored text as the getters show it: "" for none.
inline const char *ox_text_or_empty(const char *s) { return s ? s : ""; }
