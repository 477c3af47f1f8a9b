// TMDb replies as the service writes them, built from a line of facts per
// item, and the request URLs the library composes for them; for scripting
// the fake transport in the matching tests and benchmark.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace replies {

inline constexpr const char *kKey = "k3y";
inline constexpr const char *kApi = "https://api.themoviedb.org/3";

// A film or a show as a search lists it. For a show, date is the first
// air date and countries its origin countries ("US,GB").
struct item {
    int id;
    const char *title;
    const char *original_title;
    const char *date;  // "" when TMDb has none
    double popularity;
    int votes;
    const char *countries = "";
};

// Percent-encoding of a query value: unreserved bytes kept, the rest %XX.
inline std::string escape(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

inline std::string json_text(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

inline std::string with_credentials(const std::string &path, const std::string &language = "en-US") {
    return std::string(kApi) + path + (path.find('?') == std::string::npos ? "?" : "&") + "api_key=" + kKey +
           "&language=" + escape(language);
}

// The URL of page 1 of a search; year 0 leaves the year out.
inline std::string search_url(bool tv, const std::string &query, int year, const std::string &language = "en-US") {
    std::string path = std::string("/search/") + (tv ? "tv" : "movie") + "?query=" + escape(query) +
                       "&include_adult=false&page=1";
    if (year > 0) path += std::string(tv ? "&first_air_date_year=" : "&year=") + std::to_string(year);
    return with_credentials(path, language);
}

inline std::string episode_url(int tv_id, int season, int episode, const std::string &language = "en-US") {
    return with_credentials("/tv/" + std::to_string(tv_id) + "/season/" + std::to_string(season) + "/episode/" +
                                std::to_string(episode),
                            language);
}

inline std::string season_url(int tv_id, int season, const std::string &language = "en-US") {
    return with_credentials("/tv/" + std::to_string(tv_id) + "/season/" + std::to_string(season), language);
}

inline std::string countries_json(const std::string &list) {
    std::string out = "[";
    size_t at = 0;
    while (at < list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        out += (out.size() > 1 ? "," : "") + json_text(list.substr(at, comma - at));
        at = comma + 1;
    }
    return out + "]";
}

// One item with every member TMDb sends for it.
inline std::string item_json(bool tv, const item &it) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "\"popularity\":%.3f,\"vote_average\":%.1f,\"vote_count\":%d",
                  it.popularity, it.votes > 0 ? 6.0 + (it.id % 30) / 10.0 : 0.0, it.votes);
    const std::string id = std::to_string(it.id);
    std::string out = "{\"adult\":false,\"backdrop_path\":\"/b" + id + ".jpg\",\"genre_ids\":[18,53],\"id\":" + id;
    if (tv) {
        out += ",\"origin_country\":" + countries_json(it.countries) +
               ",\"original_language\":\"en\",\"original_name\":" + json_text(it.original_title) +
               ",\"overview\":\"A series.\"," + numbers + ",\"poster_path\":\"/p" + id +
               ".jpg\",\"first_air_date\":" + json_text(it.date) + ",\"name\":" + json_text(it.title) + "}";
    } else {
        out += ",\"original_language\":\"en\",\"original_title\":" + json_text(it.original_title) +
               ",\"overview\":\"A film.\"," + numbers + ",\"poster_path\":\"/p" + id +
               ".jpg\",\"release_date\":" + json_text(it.date) + ",\"title\":" + json_text(it.title) +
               ",\"video\":false}";
    }
    return out;
}

// A film's or a show's detail: the item with the members a detail adds.
inline std::string detail_json(bool tv, const item &it) {
    std::string out = item_json(tv, it);
    out.pop_back();
    if (tv)
        out += ",\"number_of_seasons\":3,\"status\":\"Ended\",\"type\":\"Scripted\",\"seasons\":[]}";
    else
        out += ",\"imdb_id\":\"tt" + std::to_string(1000000 + it.id) + "\",\"runtime\":120,\"status\":\"Released\"}";
    return out;
}

// A /find reply listing the item under its kind, as TMDb tags it.
inline std::string find_reply(bool tv, const item &it) {
    std::string entry = item_json(tv, it);
    entry.insert(1, std::string("\"media_type\":\"") + (tv ? "tv" : "movie") + "\",");
    return std::string("{\"movie_results\":[") + (tv ? "" : entry) + "],\"person_results\":[],\"tv_results\":[" +
           (tv ? entry : "") + "],\"tv_episode_results\":[],\"tv_season_results\":[]}";
}

inline std::string search_page(bool tv, const std::vector<item> &items) {
    std::string results;
    for (const item &it : items) results += (results.empty() ? "" : ",") + item_json(tv, it);
    const std::string count = std::to_string(items.size());
    return "{\"page\":1,\"results\":[" + results + "],\"total_pages\":" + (items.empty() ? "0" : "1") +
           ",\"total_results\":" + count + "}";
}

inline std::string episode_reply(int id, const char *name, const char *air_date, int season, int episode) {
    return "{\"air_date\":" + json_text(air_date) + ",\"crew\":[],\"episode_number\":" + std::to_string(episode) +
           ",\"guest_stars\":[],\"name\":" + json_text(name) + ",\"overview\":\"An episode.\",\"id\":" +
           std::to_string(id) + ",\"production_code\":\"\",\"runtime\":45,\"season_number\":" +
           std::to_string(season) + ",\"still_path\":\"/s" + std::to_string(id) +
           ".jpg\",\"vote_average\":7.4,\"vote_count\":120}";
}

// One episode as a season lists it.
struct episode {
    int id;
    int number;
    const char *name;
    const char *air_date = "2005-03-26";
    const char *overview = "An episode.";
};

inline std::string season_episode_json(int show_id, int season, const episode &e) {
    const std::string id = std::to_string(e.id);
    return "{\"air_date\":" + json_text(e.air_date) + ",\"episode_number\":" + std::to_string(e.number) +
           ",\"episode_type\":\"standard\",\"id\":" + id + ",\"name\":" + json_text(e.name) +
           ",\"overview\":" + json_text(e.overview) + ",\"production_code\":\"\",\"runtime\":44,\"season_number\":" +
           std::to_string(season) + ",\"show_id\":" + std::to_string(show_id) + ",\"still_path\":\"/s" + id +
           ".jpg\",\"vote_average\":7.4,\"vote_count\":120,\"crew\":[],\"guest_stars\":[]}";
}

// A /tv/{id}/season/{n} reply: the season and its episodes.
inline std::string season_reply(int show_id, int season, const std::vector<episode> &episodes) {
    std::string list;
    for (const episode &e : episodes) list += (list.empty() ? "" : ",") + season_episode_json(show_id, season, e);
    const char *first = episodes.empty() ? "" : episodes.front().air_date;
    return "{\"_id\":\"5256c89f19c2956ff60" + std::to_string(10000 + show_id % 10000) + "\",\"air_date\":" +
           json_text(first) + ",\"episodes\":[" + list + "],\"name\":\"Season " + std::to_string(season) +
           "\",\"overview\":\"\",\"id\":" + std::to_string(show_id * 100 + season) + ",\"poster_path\":\"/season" +
           std::to_string(season) + ".jpg\",\"season_number\":" + std::to_string(season) + ",\"vote_average\":7.2}";
}

// A season as a show's detail lists it.
struct season_entry {
    int number;
    int episodes;
    const char *air_date;
};

// A /tv/{id} reply: the show, its seasons with their episode counts and
// first air dates, the last episode aired, and, when given, the episode
// groups appended to it (the elements of "results").
inline std::string tv_detail_reply(const item &show, const std::vector<season_entry> &seasons,
                                   const char *groups = nullptr) {
    std::string out = item_json(true, show);
    out.pop_back();
    std::string list;
    int total = 0;
    int regular = 0;
    const season_entry *last = nullptr;
    for (const season_entry &e : seasons) {
        const std::string n = std::to_string(e.number);
        list += (list.empty() ? "" : ",") + std::string("{\"air_date\":") + json_text(e.air_date) +
                ",\"episode_count\":" + std::to_string(e.episodes) + ",\"id\":" +
                std::to_string(show.id * 100 + e.number) + ",\"name\":" + (e.number ? "\"Season " + n + "\"" : "\"Specials\"") +
                ",\"overview\":\"\",\"poster_path\":\"/season" + n + ".jpg\",\"season_number\":" + n +
                ",\"vote_average\":7.5}";
        if (e.number > 0) {
            total += e.episodes;
            ++regular;
            last = &e;
        }
    }
    out += ",\"in_production\":false,\"number_of_episodes\":" + std::to_string(total) +
           ",\"number_of_seasons\":" + std::to_string(regular) + ",\"seasons\":[" + list + "]";
    if (last)
        out += ",\"last_episode_to_air\":{\"id\":" + std::to_string(show.id * 1000) + ",\"season_number\":" +
               std::to_string(last->number) + ",\"episode_number\":" + std::to_string(last->episodes) +
               ",\"air_date\":" + json_text(last->air_date) + "}";
    if (groups) out += std::string(",\"episode_groups\":{\"results\":[") + groups + "]}";
    return out + ",\"status\":\"Ended\",\"type\":\"Scripted\"}";
}

}  // namespace replies
