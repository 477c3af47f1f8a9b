// oxmeta_tmdb_match: a file's path parsed; an id in the path looked up
// directly, else TMDb searched for its title (a film's year tried as
// written, one before, then not at all); every candidate scored, the best
// looked up as an episode when the file is one, and the candidates stored
// best first with their scores.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "providers/match_rank.h"
#include "providers/oxmeta_tmdb.h"

namespace {

constexpr int kMaxCandidates = oxmatch::kMaxSet;  // kept from all replies together
constexpr int kMaxRequests = 4;  // an episode found through the show's detail
constexpr int kMaxCountries = 4;
constexpr int kMaxGroups = 128;  // of an episode group

enum candidate_member : size_t {
    kId, kTitle, kName, kOriginalTitle, kOriginalName, kReleaseDate, kFirstAirDate, kPopularity, kVoteCount,
    kOriginCountry,
};
constexpr std::string_view kCandidateMembers[] = {
    "id", "title", "name", "original_title", "original_name", "release_date", "first_air_date", "popularity",
    "vote_count", "origin_country",
};

struct candidate {
    yyjson_val *item;
    int id;
    oxmatch::scored rank;
};

double number_of(yyjson_val *v) { return yyjson_is_num(v) ? yyjson_get_num(v) : 0.0; }

// The candidates of every reply so far, each TMDb id once.
class candidate_set {
public:
    void add_page(yyjson_val *root, const oxmatch::query &q) {
        size_t index = 0;
        size_t count = 0;
        yyjson_val *item = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(root, "results"), index, count, item) {
            if (count_ == kMaxCandidates) break;
            const ox_members m(item, kCandidateMembers);
            const int id = ox_json_int(m[kId], 0);
            if (id <= 0 || known(id)) continue;
            std::string_view origins[kMaxCountries];
            int origin_count = 0;
            size_t c_index = 0;
            size_t c_count = 0;
            yyjson_val *code = nullptr;
            yyjson_arr_foreach(m[kOriginCountry], c_index, c_count, code) {
                if (origin_count < kMaxCountries && yyjson_is_str(code))
                    origins[origin_count++] = std::string_view(yyjson_get_str(code), yyjson_get_len(code));
            }
            const char *title = m.first_str(kTitle, kName);
            const char *original = m.first_str(kOriginalTitle, kOriginalName);
            const int year = ox_year_from_date(m.first_str(kReleaseDate, kFirstAirDate));
            candidate &c = items_[count_++];
            c.item = item;
            c.id = id;
            c.rank.title = oxmatch::title_points(q, title ? title : "", original ? original : "", year);
            c.rank.others = oxmatch::year_points(q.year, year) + oxmatch::country_points(q, origins, origin_count);
            c.rank.popularity = number_of(m[kPopularity]);
            c.rank.votes = number_of(m[kVoteCount]);
        }
        rank(q);
    }

    // The one entry an id in the path names, with the full score.
    void add_named(yyjson_val *item, int id) {
        candidate &c = items_[0];
        c.item = item;
        c.id = id;
        c.rank = {};
        c.rank.score = 1000;
        count_ = 1;
        unparted_ = 0;
    }

    int count() const { return count_; }
    const candidate &operator[](int i) const { return items_[i]; }
    bool confident() const { return count_ > 0 && items_[0].rank.score >= oxmatch::kConfident; }
    // How many best candidates nothing in the name parts (0: none).
    int unparted() const { return unparted_; }

private:
    bool known(int id) const {
        for (int i = 0; i < count_; ++i)
            if (items_[i].id == id) return true;
        return false;
    }

    // Scores against the whole set, best first; equal scores keep TMDb's order.
    void rank(const oxmatch::query &q) {
        oxmatch::scored ranks[kMaxCandidates];
        for (int i = 0; i < count_; ++i) ranks[i] = items_[i].rank;
        unparted_ = oxmatch::score_set(q, ranks, count_);
        for (int i = 0; i < count_; ++i) items_[i].rank.score = ranks[i].score;
        std::stable_sort(items_, items_ + count_,
                         [](const candidate &a, const candidate &b) { return a.rank.score > b.rank.score; });
    }

    candidate items_[kMaxCandidates];
    int count_ = 0;
    int unparted_ = 0;
};

// The episodes found for the best show, in the name's order.
struct found_episodes {
    ox_result_list list{};
    ~found_episodes() { ox_list_free(&list); }
};

// How a file names its episode.
enum class episode_route {
    none,      // a film, or a show's file that names no episode
    numbered,  // season and episode numbers
    absolute,  // a number counted from the show's first episode
    dated,     // the day it aired
};

episode_route route_of(const oxmeta_name &name) {
    if (std::strcmp(name.kind, "episode") != 0) return episode_route::none;
    if (name.season >= 0 && name.episode_count > 0) return episode_route::numbered;
    if (name.absolute_episode > 0) return episode_route::absolute;
    if (name.date[0]) return episode_route::dated;
    return episode_route::none;
}

// Days since 1970-01-01 of a "YYYY-MM-DD" text; false when it is none.
bool day_of(const char *text, long *day) {
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    if (!text || std::sscanf(text, "%4d-%2u-%2u", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    *day = era * 146097 + static_cast<long>(doe) - 719468;
    return true;
}

int number_member(yyjson_val *obj, const char *key) { return ox_json_int(yyjson_obj_get(obj, key), -1); }

// The regular seasons of a show's detail (season 0, the specials, left
// out), by number: each one's number, episode count and first air day.
struct season_facts {
    int number;
    int episodes;
    long first_day;  // LONG_MIN when TMDb gives no air date
};

int regular_seasons(yyjson_val *detail, season_facts (&out)[64]) {
    int count = 0;
    size_t index = 0;
    size_t max = 0;
    yyjson_val *season = nullptr;
    yyjson_arr_foreach(yyjson_obj_get(detail, "seasons"), index, max, season) {
        const int number = number_member(season, "season_number");
        if (number < 1 || count == 64) continue;
        season_facts &f = out[count++];
        f.number = number;
        f.episodes = std::max(0, number_member(season, "episode_count"));
        if (!day_of(ox_json_str(season, "air_date"), &f.first_day)) f.first_day = LONG_MIN;
    }
    std::sort(out, out + count, [](const season_facts &a, const season_facts &b) { return a.number < b.number; });
    return count;
}

// The element of a season's "episodes" numbered number, or null.
yyjson_val *episode_numbered(yyjson_val *episodes, int number) {
    size_t index = 0;
    size_t max = 0;
    yyjson_val *episode = nullptr;
    yyjson_arr_foreach(episodes, index, max, episode) {
        if (number_member(episode, "episode_number") == number) return episode;
    }
    return nullptr;
}

// The episode at place (from 1) of a season: TMDb numbers some shows'
// episodes across their seasons (a fifth season of episodes 89 to 112), so
// the place counts from the season's lowest number.
yyjson_val *episode_at(yyjson_val *episodes, int place) {
    int lowest = INT_MAX;
    size_t index = 0;
    size_t max = 0;
    yyjson_val *episode = nullptr;
    yyjson_arr_foreach(episodes, index, max, episode) {
        const int number = number_member(episode, "episode_number");
        if (number >= 1) lowest = std::min(lowest, number);
    }
    return lowest == INT_MAX ? nullptr : episode_numbered(episodes, lowest + place - 1);
}

// The episode aired on day; else the only one a day off either way.
yyjson_val *episode_aired(yyjson_val *episodes, long day) {
    yyjson_val *close_by = nullptr;
    int near_count = 0;
    size_t index = 0;
    size_t max = 0;
    yyjson_val *episode = nullptr;
    yyjson_arr_foreach(episodes, index, max, episode) {
        long aired = 0;
        if (!day_of(ox_json_str(episode, "air_date"), &aired)) continue;
        if (aired == day) return episode;
        if (aired == day - 1 || aired == day + 1) {
            close_by = episode;
            ++near_count;
        }
    }
    return near_count == 1 ? close_by : nullptr;
}

class match_run {
public:
    explicit match_run(const oxmeta_name &name)
        : name_(name), show_(std::strcmp(name.kind, "episode") == 0) {
        oxmatch::query_make(name.title, name.country, name.year, show_, &query_);
    }

    bool show() const { return show_; }

    // The entry an id in the path names (a TMDb id, else an IMDb id, else a
    // TVDb id): OXMETA_OK with it the one candidate; OXMETA_E_NOT_FOUND when
    // the path has no id or TMDb has no such entry (a warning then names
    // it); else the failed request's status.
    int look_up_id() {
        char path[kTmdbLookupPathSize];
        char named[48];
        const char *family = show_ ? "tv_results" : "movie_results";
        if (name_.tmdb_id > 0) {
            std::snprintf(path, sizeof path, "/%s/%d", show_ ? "tv" : "movie", name_.tmdb_id);
            std::snprintf(named, sizeof named, "TMDb id %d", name_.tmdb_id);
            family = nullptr;
        } else if (name_.imdb_id[0]) {
            char *escaped = ox_query_escape(name_.imdb_id);
            if (!escaped) {
                ox_set_error("oom building TMDb path");
                return OXMETA_E_OOM;
            }
            std::snprintf(path, sizeof path, "/find/%s?external_source=imdb_id", escaped);
            std::free(escaped);
            std::snprintf(named, sizeof named, "IMDb id %s", name_.imdb_id);
        } else if (name_.tvdb_id > 0) {
            std::snprintf(path, sizeof path, "/find/%d?external_source=tvdb_id", name_.tvdb_id);
            std::snprintf(named, sizeof named, "TVDb id %d", name_.tvdb_id);
        } else {
            return OXMETA_E_NOT_FOUND;
        }
        ox_doc &doc = docs_[docs_used_++];
        int status = 0;
        yyjson_val *root = nullptr;
        const int rc = tmdb_fetch_object(path, "match", &doc, &root, &status);
        if (rc == OXMETA_E_HTTP && status == 404) return id_not_found(named);
        if (rc != OXMETA_OK) return rc;
        // A detail is the entry itself; a find lists it under its kind.
        yyjson_val *item = family ? yyjson_arr_get_first(yyjson_obj_get(root, family)) : root;
        const int id = ox_json_int(yyjson_obj_get(item, "id"), 0);
        if (!yyjson_is_obj(item) || id <= 0) return id_not_found(named);
        set_.add_named(item, id);
        return OXMETA_OK;
    }

    // One search, its candidates added; a failed request's status.
    int search(tmdb_search_kind kind, int year) {
        char path[kTmdbSearchPathSize];
        if (const int rc = tmdb_search_path(path, kind, name_.title, year, 1)) return rc;
        ox_doc &doc = docs_[docs_used_++];
        if (const int rc = tmdb_fetch(path, &doc)) return rc;
        set_.add_page(yyjson_doc_get_root(doc.get()), query_);
        return OXMETA_OK;
    }

    // The searches of the name's kind, until one gives a confident pick:
    // the year as written, then for a film the year before (a film's file
    // often carries the year of a later release, in another country or
    // after a festival), then no year at all. With fewer requests left,
    // the search without a year stays the last.
    int search_all(int requests_left) {
        const tmdb_search_kind kind = show_ ? tmdb_search_kind::tv : tmdb_search_kind::movie;
        int years[3] = {0, 0, 0};
        int tries = 1;
        if (name_.year > 0) {
            years[0] = name_.year;
            if (kind == tmdb_search_kind::movie) years[tries++] = name_.year - 1;
            years[tries++] = 0;
        }
        // Too few requests left for all: the first ones, and the last.
        if (tries > requests_left && requests_left > 0) {
            years[requests_left - 1] = years[tries - 1];
            tries = requests_left;
        }
        for (int k = 0; k < tries; ++k) {
            if (const int rc = search(kind, years[k])) return rc;
            if (set_.confident()) break;
        }
        return OXMETA_OK;
    }

    int requests_made() const { return docs_used_; }

    // The episodes of the best show the name asks for: OXMETA_OK, or
    // OXMETA_E_NOT_FOUND with *missing saying what TMDb does not have, or a
    // failed request's status.
    int look_up_episodes(episode_route route, found_episodes *out, char (&missing)[160]) {
        const int show = set_[0].id;
        switch (route) {
            case episode_route::numbered:
                return numbered_episodes(show, out, missing);
            case episode_route::absolute:
            case episode_route::dated:
                return placed_episode(route, show, out, missing);
            case episode_route::none:
                break;
        }
        return OXMETA_OK;
    }

    // Replaces the store with the best candidates and their scores, and the
    // matched episode, in one hold of the lock; false when memory ran out
    // (what could be stored is).
    bool publish(found_episodes *episodes) {
        ox_results_batch batch;
        int scores[kMatchCandidates];
        int kept = 0;
        char id[kTmdbIdSize];
        bool stored = true;
        for (; kept < set_.count() && kept < kMatchCandidates; ++kept) {
            if (!batch.add(tmdb_item_to_result(set_[kept].item, show_ ? "tv" : "movie", id))) {
                stored = false;
                break;
            }
            scores[kept] = set_[kept].rank.score;
        }
        batch.publish([&] {
            std::copy(scores, scores + kept, g_ox.match.scores);
            g_ox.match.count = kept;
            std::swap(g_ox.match.episodes, episodes->list);
        });
        return stored;
    }

    const candidate_set &candidates() const { return set_; }

private:
    // One reply for path into a document of this run: OXMETA_OK with *root
    // the object; OXMETA_E_NOT_FOUND for a 404.
    int fetch_object(const char *path, const char *operation, yyjson_val **root) {
        ox_doc &doc = docs_[docs_used_++];
        int status = 0;
        const int rc = tmdb_fetch_object(path, operation, &doc, root, &status);
        return rc == OXMETA_E_HTTP && status == 404 ? OXMETA_E_NOT_FOUND : rc;
    }

    // The "episodes" of one season of show, or OXMETA_E_NOT_FOUND.
    int season_episodes(int show, int season, yyjson_val **episodes) {
        char path[kTmdbLookupPathSize];
        tmdb_season_path(path, show, season);
        yyjson_val *root = nullptr;
        if (const int rc = fetch_object(path, "tv_season", &root)) return rc;
        *episodes = yyjson_obj_get(root, "episodes");
        return OXMETA_OK;
    }

    // Keeps an episode found; an empty name or overview is filled from its
    // season in the fallback language, where one is set (a request made
    // once per season, and only for an empty text). A failure of that
    // request leaves the text empty, with a warning.
    int keep(int show, int season, yyjson_val *episode, found_episodes *out) {
        char id[kTmdbIdSize];
        ox_result record = tmdb_episode_to_result(episode, id);
        char fallback[kTmdbTagSize];
        if ((!ox_nonempty(record.title) || !ox_nonempty(record.overview)) && tmdb_fallback_language(fallback)) {
            season = ox_json_int(yyjson_obj_get(episode, "season_number"), season);
            if (season >= 0 && fallback_season_ != season && docs_used_ < kMaxDocs) {
                char path[kTmdbLookupPathSize];
                tmdb_season_path(path, show, season);
                ox_doc &doc = docs_[docs_used_++];
                const int rc = tmdb_fetch(path, &doc, nullptr, fallback);
                if (rc == OXMETA_E_OOM) return rc;
                fallback_season_ = season;
                fallback_episodes_ = rc == OXMETA_OK ? yyjson_obj_get(yyjson_doc_get_root(doc.get()), "episodes") : nullptr;
                if (rc != OXMETA_OK)
                    ox_add_warning("match: season %d in %s failed (%d); the episode's empty texts stay", season, fallback, rc);
            }
            if (season == fallback_season_ && fallback_episodes_) tmdb_fill_episode(&record, fallback_episodes_);
        }
        return ox_list_add(&out->list, &record) == 0 ? OXMETA_OK : OXMETA_E_OOM;
    }

    // Season and episode numbers: one season reply serves them all.
    int numbered_episodes(int show, found_episodes *out, char (&missing)[160]) {
        yyjson_val *episodes = nullptr;
        const int rc = season_episodes(show, name_.season, &episodes);
        if (rc != OXMETA_OK && rc != OXMETA_E_NOT_FOUND) return rc;
        for (int k = 0; k < name_.episode_count; ++k) {
            yyjson_val *episode = rc == OXMETA_OK ? episode_numbered(episodes, name_.episodes[k]) : nullptr;
            if (episode) {
                if (const int kept = keep(show, name_.season, episode, out)) return kept;
                continue;
            }
            std::snprintf(missing, sizeof missing, "S%02dE%02d", name_.season, name_.episodes[k]);
            if (k == 0) return OXMETA_E_NOT_FOUND;
            ox_add_warning("match: TMDb has no episode %s of \"%s\"; the others are named", missing, name_.title);
            missing[0] = '\0';
        }
        return OXMETA_OK;
    }

    // A number from the show's first episode, or an air date: the show's
    // detail says which season holds it, that season's reply which episode
    // it is. An absolute episode group, where the show has one, numbers the
    // episodes instead of the seasons.
    int placed_episode(episode_route route, int show, found_episodes *out, char (&missing)[160]) {
        const bool absolute = route == episode_route::absolute;
        char path[kTmdbLookupPathSize];
        std::snprintf(path, sizeof path, "/tv/%d%s", show, absolute ? "?append_to_response=episode_groups" : "");
        if (absolute)
            std::snprintf(missing, sizeof missing, "%d", name_.absolute_episode);
        else
            std::snprintf(missing, sizeof missing, "aired on %s", name_.date);
        yyjson_val *detail = nullptr;
        if (const int rc = fetch_object(path, "tv_detail", &detail)) return rc;
        if (const char *group = absolute ? absolute_group(detail) : nullptr) return grouped_episode(show, group, out);
        season_facts seasons[64];
        const int count = regular_seasons(detail, seasons);
        long day = 0;
        if (!absolute && !day_of(name_.date, &day)) return OXMETA_E_NOT_FOUND;
        // The season that holds the episode, and its place there.
        int season = -1;
        int place = name_.absolute_episode;
        for (int k = 0; k < count; ++k) {
            if (absolute) {
                if (place <= seasons[k].episodes) {
                    season = seasons[k].number;
                    break;
                }
                place -= seasons[k].episodes;
            } else if (seasons[k].first_day != LONG_MIN && seasons[k].first_day <= day + 1) {
                season = seasons[k].number;
            }
        }
        if (season < 0) return OXMETA_E_NOT_FOUND;
        yyjson_val *episodes = nullptr;
        if (const int rc = season_episodes(show, season, &episodes)) return rc;
        yyjson_val *episode = absolute ? episode_at(episodes, place) : episode_aired(episodes, day);
        if (!episode) return OXMETA_E_NOT_FOUND;
        return keep(show, season, episode, out);
    }

    // The id of the show's first episode group of type 2 ("absolute").
    static const char *absolute_group(yyjson_val *detail) {
        size_t index = 0;
        size_t max = 0;
        yyjson_val *group = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(yyjson_obj_get(detail, "episode_groups"), "results"), index, max, group) {
            const char *id = ox_nonempty(ox_json_str(group, "id"));
            if (number_member(group, "type") == 2 && id) return id;
        }
        return nullptr;
    }

    // The episode at the name's absolute number in an episode group: its
    // groups by "order", each one's episodes by "order", specials left out.
    int grouped_episode(int show, const char *group_id, found_episodes *out) {
        char *escaped = ox_query_escape(group_id);
        if (!escaped) return OXMETA_E_OOM;
        char path[kTmdbLookupPathSize];
        std::snprintf(path, sizeof path, "/tv/episode_group/%s", escaped);
        std::free(escaped);
        yyjson_val *root = nullptr;
        if (const int rc = fetch_object(path, "episode_group", &root)) return rc;
        // The groups by their order; TMDb lists each one's episodes in theirs.
        yyjson_val *groups[kMaxGroups];
        int group_count = 0;
        size_t index = 0;
        size_t max = 0;
        yyjson_val *group = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(root, "groups"), index, max, group) {
            if (group_count < kMaxGroups) groups[group_count++] = group;
        }
        std::stable_sort(groups, groups + group_count, [](yyjson_val *a, yyjson_val *b) {
            return number_member(a, "order") < number_member(b, "order");
        });
        int place = name_.absolute_episode;
        for (int g = 0; g < group_count; ++g) {
            size_t e_index = 0;
            size_t e_max = 0;
            yyjson_val *episode = nullptr;
            yyjson_arr_foreach(yyjson_obj_get(groups[g], "episodes"), e_index, e_max, episode) {
                if (!yyjson_is_obj(episode) || number_member(episode, "season_number") == 0) continue;
                if (--place == 0) return keep(show, -1, episode, out);
            }
        }
        return OXMETA_E_NOT_FOUND;
    }

    int id_not_found(const char *named) {
        ox_add_warning("match: TMDb has no %s for %s; matched by title instead", show_ ? "show" : "film", named);
        return OXMETA_E_NOT_FOUND;
    }

    const oxmeta_name &name_;
    const bool show_;
    oxmatch::query query_;
    // The requests, and an episode's season in the fallback language.
    static constexpr int kMaxDocs = kMaxRequests + 1;
    ox_doc docs_[kMaxDocs];
    int docs_used_ = 0;
    int fallback_season_ = -1;
    yyjson_val *fallback_episodes_ = nullptr;
    candidate_set set_;
};

}  // namespace

extern "C" {

OXMETA_API int oxmeta_tmdb_match(const char *path) {
    if (!path || !*path) {
        ox_set_error("match: path required");
        return OXMETA_E_INVALID_ARG;
    }
    oxmeta_name name;
    name.size = sizeof name;
    oxmeta_parse_name(path, &name);
    const bool has_id = name.tmdb_id > 0 || name.imdb_id[0] || name.tvdb_id > 0;
    if (!name.title[0] && !has_id) {
        ox_set_error("match: no title in \"%s\"", path);
        return OXMETA_E_INVALID_ARG;
    }
    // A daily show's year is its air date's, not the year the show began.
    if (std::strcmp(name.kind, "episode") == 0 && name.date[0] && name.year == std::atoi(name.date))
        name.year = name.year_end = -1;
    match_run run(name);
    // An episode is looked up through its season, found for a number from
    // the show's start or an air date through the show's detail first.
    const episode_route route = run.show() ? route_of(name) : episode_route::none;
    const int lookups = route == episode_route::none ? 0 : route == episode_route::numbered ? 1 : 2;
    const int budget = lookups == 2 ? kMaxRequests : kMaxRequests - 1;
    int id_rc = has_id ? run.look_up_id() : OXMETA_E_NOT_FOUND;
    if (id_rc != OXMETA_OK && id_rc != OXMETA_E_NOT_FOUND) return id_rc;
    if (id_rc == OXMETA_E_NOT_FOUND) {
        if (!name.title[0]) {
            ox_set_error("match: TMDb has no entry for the id in \"%s\", and the name has no title", path);
            return OXMETA_E_NOT_FOUND;
        }
        if (const int rc = run.search_all(budget - run.requests_made() - lookups)) return rc;
    }

    const bool confident = run.candidates().confident();
    found_episodes episodes;
    char missing[160] = "";
    int episode_rc = OXMETA_OK;
    if (confident && route != episode_route::none) {
        episode_rc = run.look_up_episodes(route, &episodes, missing);
        if (episode_rc == OXMETA_E_OOM) ox_set_error("oom storing the matched episode");
        if (episode_rc != OXMETA_OK && episode_rc != OXMETA_E_NOT_FOUND) return episode_rc;
    }
    if (!run.publish(&episodes)) {
        ox_set_error("oom storing match candidates");
        return OXMETA_E_OOM;
    }
    if (!confident && run.candidates().unparted() > 1) {
        ox_set_error("match: ambiguous: \"%s\" is %d entries", name.title, run.candidates().unparted());
        return OXMETA_E_NOT_FOUND;
    }
    if (!confident) {
        ox_set_error("match: no confident match for \"%s\"", name.title);
        return OXMETA_E_NOT_FOUND;
    }
    if (episode_rc == OXMETA_E_NOT_FOUND) {
        ox_set_error("match: TMDb has no episode %s of \"%s\"", missing, name.title);
        return OXMETA_E_NOT_FOUND;
    }
    return OXMETA_OK;
}

}  // extern "C"
