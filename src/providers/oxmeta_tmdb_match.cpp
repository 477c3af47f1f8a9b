// oxmeta_tmdb_match: a file's path parsed; an id in the path looked up
// directly, else TMDb searched for its title (a film's year tried as
// written, one before, then not at all); every candidate scored, the best
// looked up as an episode when the file is one, and the candidates stored
// best first with their scores.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "providers/match_rank.h"
#include "providers/oxmeta_tmdb.h"

namespace {

constexpr int kMaxCandidates = oxmatch::kMaxSet;  // kept from all replies together
constexpr int kMaxRequests = 3;
constexpr int kMaxCountries = 4;

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

// The episode found for the best show, with copies of its texts.
struct found_episode {
    char *title = nullptr;
    char *id = nullptr;
    ~found_episode() {
        std::free(title);
        std::free(id);
    }
};

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

    // The episode of the best show; OXMETA_E_NOT_FOUND when TMDb has none.
    int look_up_episode(found_episode *out) {
        char path[kTmdbLookupPathSize];
        tmdb_episode_path(path, set_[0].id, name_.season, name_.episodes[0]);
        ox_doc &doc = docs_[docs_used_++];
        int status = 0;
        yyjson_val *root = nullptr;
        const int rc = tmdb_fetch_object(path, "tv_episode", &doc, &root, &status);
        if (rc == OXMETA_E_HTTP && status == 404) return OXMETA_E_NOT_FOUND;
        if (rc != OXMETA_OK) return rc;
        char id[kTmdbIdSize];
        const ox_result episode = tmdb_episode_to_result(root, id);
        out->title = ox_strdup(episode.title ? episode.title : "");
        out->id = ox_strdup(id);
        return out->title && out->id ? OXMETA_OK : OXMETA_E_OOM;
    }

    // Replaces the store with the best candidates and their scores, and the
    // matched episode, in one hold of the lock; false when memory ran out
    // (what could be stored is).
    bool publish(found_episode *episode) {
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
            std::swap(g_ox.match.episode_title, episode->title);
            std::swap(g_ox.match.episode_id, episode->id);
        });
        return stored;
    }

    const candidate_set &candidates() const { return set_; }

private:
    int id_not_found(const char *named) {
        ox_add_warning("match: TMDb has no %s for %s; matched by title instead", show_ ? "show" : "film", named);
        return OXMETA_E_NOT_FOUND;
    }

    const oxmeta_name &name_;
    const bool show_;
    oxmatch::query query_;
    ox_doc docs_[kMaxRequests];
    int docs_used_ = 0;
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
    // An episode is looked up by season and number; a file numbered only
    // from the start of the show, or by date, keeps its show alone.
    const bool episode_wanted = run.show() && name.season >= 0 && name.episode_count > 0;
    int id_rc = has_id ? run.look_up_id() : OXMETA_E_NOT_FOUND;
    if (id_rc != OXMETA_OK && id_rc != OXMETA_E_NOT_FOUND) return id_rc;
    if (id_rc == OXMETA_E_NOT_FOUND) {
        if (!name.title[0]) {
            ox_set_error("match: TMDb has no entry for the id in \"%s\", and the name has no title", path);
            return OXMETA_E_NOT_FOUND;
        }
        const int left = kMaxRequests - run.requests_made() - (episode_wanted ? 1 : 0);
        if (const int rc = run.search_all(left)) return rc;
    }

    const bool confident = run.candidates().confident();
    found_episode episode;
    int episode_rc = OXMETA_OK;
    if (confident && episode_wanted) {
        episode_rc = run.look_up_episode(&episode);
        if (episode_rc == OXMETA_E_OOM) ox_set_error("oom storing the matched episode");
        if (episode_rc != OXMETA_OK && episode_rc != OXMETA_E_NOT_FOUND) return episode_rc;
    }
    if (!run.publish(&episode)) {
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
        ox_set_error("match: TMDb has no episode S%02dE%02d of \"%s\"", name.season, name.episodes[0], name.title);
        return OXMETA_E_NOT_FOUND;
    }
    return OXMETA_OK;
}

}  // extern "C"
