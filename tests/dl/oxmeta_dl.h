// The shared library as a host loads it at run time: opened by path with
// dlopen (LoadLibrary on Windows) and every export resolved by name into a
// table of function pointers. Nothing here links the library.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>

#include "oxmeta.h"

// Every export of the header, once.
#define OXMETA_DL_EXPORTS(X)                                                                                   \
    X(oxmeta_tmdb_set_key) X(oxmeta_tmdb_set_bearer) X(oxmeta_omdb_set_key) X(oxmeta_set_language)             \
    X(oxmeta_set_timeout_ms) X(oxmeta_set_io) X(oxmeta_use_fake) X(oxmeta_use_curl) X(oxmeta_shutdown)         \
    X(oxmeta_last_error) X(oxmeta_warning_count) X(oxmeta_warning) X(oxmeta_last_http_code) X(oxmeta_last_url) \
    X(oxmeta_result_json) X(oxmeta_result_count) X(oxmeta_result_source) X(oxmeta_result_id)                   \
    X(oxmeta_result_imdb_id) X(oxmeta_result_title) X(oxmeta_result_original_title) X(oxmeta_result_overview)  \
    X(oxmeta_result_media_type) X(oxmeta_result_poster_path) X(oxmeta_result_backdrop_path)                    \
    X(oxmeta_result_feed_url) X(oxmeta_result_year) X(oxmeta_result_rating_permille)                           \
    X(oxmeta_result_popularity_permille) X(oxmeta_total_pages) X(oxmeta_total_results) X(oxmeta_page)          \
    X(oxmeta_tv_season_count) X(oxmeta_tv_season_number) X(oxmeta_tv_season_poster)                           \
    X(oxmeta_tv_last_episode_season) X(oxmeta_tv_last_episode_number) X(oxmeta_tmdb_search_multi)             \
    X(oxmeta_tmdb_discover_movie) X(oxmeta_tmdb_discover_tv) X(oxmeta_tmdb_tv_airing_today)                    \
    X(oxmeta_tmdb_tv_on_the_air) X(oxmeta_tmdb_find_by_imdb) X(oxmeta_tmdb_tv_detail)                          \
    X(oxmeta_tmdb_external_ids) X(oxmeta_tmdb_image_url) X(oxmeta_omdb_by_imdb) X(oxmeta_omdb_by_title)        \
    X(oxmeta_omdb_season) X(oxmeta_omdb_field) X(oxmeta_omdb_runtime_minutes) X(oxmeta_omdb_votes)             \
    X(oxmeta_itunes_search) X(oxmeta_itunes_lookup) X(ox_fake_set) X(ox_fake_fail) X(ox_fake_calls)            \
    X(ox_fake_reset) X(oxmeta_parse_name) X(oxmeta_tmdb_search_movie) X(oxmeta_tmdb_search_tv)              \
    X(oxmeta_tmdb_tv_episode) X(oxmeta_tmdb_movie_detail) X(oxmeta_tmdb_match) X(oxmeta_result_match_score)    \
    X(oxmeta_match_episode_title) X(oxmeta_match_episode_id) X(oxmeta_tmdb_tv_season)                          \
    X(oxmeta_result_season_number) X(oxmeta_result_episode_number) X(oxmeta_match_episode_count)               \
    X(oxmeta_match_episode_title_at) X(oxmeta_match_episode_id_at) X(oxmeta_match_episode_season)             \
    X(oxmeta_match_episode_number) X(oxmeta_set_language_fallback)

// The loaded library: one pointer per export, named as the export.
struct oxmeta_dl {
#define OXMETA_DL_MEMBER(name) decltype(&::name) name = nullptr;
    OXMETA_DL_EXPORTS(OXMETA_DL_MEMBER)
#undef OXMETA_DL_MEMBER

    // Opens the library at path and resolves every export; false, with a
    // message on stderr, when it cannot be opened or an export is missing.
    bool open(const char *path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path);
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
        if (!handle_) {
            std::fprintf(stderr, "cannot load %s\n", path);
            return false;
        }
        bool all = true;
#define OXMETA_DL_RESOLVE(name) all = resolve(name, #name) && all;
        OXMETA_DL_EXPORTS(OXMETA_DL_RESOLVE)
#undef OXMETA_DL_RESOLVE
        return all;
    }

private:
    template <typename Fn>
    bool resolve(Fn &slot, const char *name) {
#if defined(_WIN32)
        slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
#else
        slot = reinterpret_cast<Fn>(dlsym(handle_, name));
#endif
        if (!slot) std::fprintf(stderr, "the library does not export %s\n", name);
        return slot != nullptr;
    }

    void *handle_ = nullptr;
};
