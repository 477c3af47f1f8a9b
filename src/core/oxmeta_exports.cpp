// Indexed accessors of the result store, the paging counters and the TV
// season data.
#include "core/oxmeta_state.h"

namespace {

bool in_range(int index, int count) { return index >= 0 && index < count; }

template <char *ox_result::*Field>
const char *result_text(int index) {
    ox_guard g;
    if (!in_range(index, g_ox.results.count)) return "";
    return ox_text_or_empty(g_ox.results.items[index].*Field);
}

template <int ox_result::*Field>
int result_number(int index) {
    ox_guard g;
    if (!in_range(index, g_ox.results.count)) return -1;
    return g_ox.results.items[index].*Field;
}

template <int ox_state::*Field>
int state_number() {
    ox_guard g;
    return g_ox.*Field;
}

// The episodes belong to the match whose candidates the store holds (lock held).
const ox_result *match_episode(int i) {
    const ox_result_list &found = g_ox.match.episodes;
    return g_ox.match.count > 0 && in_range(i, found.count) ? &found.items[i] : nullptr;
}

const char *match_episode_text(int i, char *ox_result::*field) {
    ox_guard g;
    const ox_result *e = match_episode(i);
    return e ? ox_text_or_empty(e->*field) : "";
}

int match_episode_place(int i, int ox_result::*field) {
    ox_guard g;
    const ox_result *e = match_episode(i);
    return e ? e->*field : -1;
}

}  // namespace

extern "C" {

OXMETA_API int oxmeta_result_count(void) {
    ox_guard g;
    return g_ox.results.count;
}

OXMETA_API const char *oxmeta_result_source(int i) { return result_text<&ox_result::source>(i); }
OXMETA_API const char *oxmeta_result_id(int i) { return result_text<&ox_result::id>(i); }
OXMETA_API const char *oxmeta_result_imdb_id(int i) { return result_text<&ox_result::imdb_id>(i); }
OXMETA_API const char *oxmeta_result_title(int i) { return result_text<&ox_result::title>(i); }
OXMETA_API const char *oxmeta_result_original_title(int i) {
    return result_text<&ox_result::original_title>(i);
}
OXMETA_API const char *oxmeta_result_overview(int i) { return result_text<&ox_result::overview>(i); }
OXMETA_API const char *oxmeta_result_media_type(int i) { return result_text<&ox_result::media_type>(i); }
OXMETA_API const char *oxmeta_result_poster_path(int i) { return result_text<&ox_result::poster_path>(i); }
OXMETA_API const char *oxmeta_result_backdrop_path(int i) {
    return result_text<&ox_result::backdrop_path>(i);
}
OXMETA_API const char *oxmeta_result_feed_url(int i) { return result_text<&ox_result::feed_url>(i); }

OXMETA_API int oxmeta_result_year(int i) { return result_number<&ox_result::year>(i); }
OXMETA_API int oxmeta_result_rating_permille(int i) { return result_number<&ox_result::rating_permille>(i); }
OXMETA_API int oxmeta_result_popularity_permille(int i) {
    return result_number<&ox_result::popularity_permille>(i);
}

OXMETA_API int oxmeta_total_pages(void) { return state_number<&ox_state::total_pages>(); }
OXMETA_API int oxmeta_total_results(void) { return state_number<&ox_state::total_results>(); }
OXMETA_API int oxmeta_page(void) { return state_number<&ox_state::page>(); }
OXMETA_API int oxmeta_tv_season_count(void) { return state_number<&ox_state::season_count>(); }
OXMETA_API int oxmeta_tv_last_episode_season(void) { return state_number<&ox_state::last_episode_season>(); }
OXMETA_API int oxmeta_tv_last_episode_number(void) { return state_number<&ox_state::last_episode_number>(); }

OXMETA_API int oxmeta_tv_season_number(int i) {
    ox_guard g;
    if (!in_range(i, g_ox.season_count)) return -1;
    return g_ox.season_numbers[i];
}

OXMETA_API const char *oxmeta_tv_season_poster(int i) {
    ox_guard g;
    if (!in_range(i, g_ox.season_count)) return "";
    return ox_text_or_empty(g_ox.season_posters[i]);
}

// ---------------------------------------------------------------- matching

OXMETA_API int oxmeta_result_match_score(int i) {
    ox_guard g;
    if (!in_range(i, g_ox.results.count) || !in_range(i, g_ox.match.count)) return -1;
    return g_ox.match.scores[i];
}

OXMETA_API const char *oxmeta_match_episode_title(void) { return match_episode_text(0, &ox_result::title); }
OXMETA_API const char *oxmeta_match_episode_id(void) { return match_episode_text(0, &ox_result::id); }

// ---------------------------------------------------------------- seasons and episodes

OXMETA_API int oxmeta_result_season_number(int i) {
    ox_guard g;
    if (!in_range(i, g_ox.results.count) || g_ox.results.items[i].episode_number < 1) return -1;
    return g_ox.results.items[i].season_number;
}

OXMETA_API int oxmeta_result_episode_number(int i) {
    ox_guard g;
    if (!in_range(i, g_ox.results.count) || g_ox.results.items[i].episode_number < 1) return -1;
    return g_ox.results.items[i].episode_number;
}

OXMETA_API int oxmeta_match_episode_count(void) {
    ox_guard g;
    return g_ox.match.count > 0 ? g_ox.match.episodes.count : 0;
}

OXMETA_API const char *oxmeta_match_episode_title_at(int i) { return match_episode_text(i, &ox_result::title); }
OXMETA_API const char *oxmeta_match_episode_id_at(int i) { return match_episode_text(i, &ox_result::id); }
OXMETA_API int oxmeta_match_episode_season(int i) { return match_episode_place(i, &ox_result::season_number); }
OXMETA_API int oxmeta_match_episode_number(int i) { return match_episode_place(i, &ox_result::episode_number); }

}  // extern "C"
