#include "commands.h"

#include <yyjson.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "cli.h"
#include "oxmeta.h"

namespace {

using svc = operation::service;

// A subcommand with its help line and the example its help page ends with.
CLI::App *command(CLI::App *parent, const char *name, const char *about, const char *example) {
    CLI::App *cmd = parent->add_subcommand(name, about);
    cmd->footer(std::string("Example: ") + example);
    return cmd;
}

void add_page(CLI::App *cmd, int &page) {
    cmd->add_option("--page", page, "Page of results")->option_text("N")->check(positive_whole_number());
}

void add_tmdb(CLI::App &app, operation &op) {
    CLI::App *tmdb = command(&app, "tmdb", "The Movie Database (needs TMDB_API_KEY or --tmdb-key)",
                             "oxmeta --offline tmdb find tt0083658");
    tmdb->require_subcommand(1);

    static std::string query, imdb_id, path, size;
    static int page = 1, year = 0, tmdb_id = 0;
    static bool adult = false, is_tv = false;

    auto *search = command(tmdb, "search", "Movies, TV shows and people matching a query",
                           "oxmeta --offline tmdb search \"blade runner\"");
    search->add_option("query", query, "What to look for")->required()->check(non_empty());
    add_page(search, page);
    search->callback([&] { op = {"tmdb search", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_search_multi(query.c_str(), page); }}; });

    // search-movie and search-tv: a query, the year, the page.
    using search_fn = int (*)(const char *, int, int);
    static search_fn by_kind = nullptr;
    const auto add_search = [&](const char *name, const char *about, const char *example, const char *year_help,
                                search_fn fn) {
        auto *cmd = command(tmdb, name, about, example);
        cmd->add_option("query", query, "What to look for")->required()->check(non_empty());
        cmd->add_option("--year", year, year_help)->option_text("YEAR")->check(whole_number(1, 9999));
        add_page(cmd, page);
        cmd->callback([&op, name, fn] {
            by_kind = fn;
            op = {std::string("tmdb ") + name, svc::tmdb,
                  [](report_extras &) { return by_kind(query.c_str(), year, page); }};
        });
    };
    add_search("search-movie", "Movies matching a query, of one release year",
               "oxmeta --offline tmdb search-movie \"Blade Runner\" --year 1982", "Release year",
               oxmeta_tmdb_search_movie);
    add_search("search-tv", "TV shows matching a query, of one first-air year",
               "oxmeta --offline tmdb search-tv \"Doctor Who\" --year 2005", "First-air year", oxmeta_tmdb_search_tv);

    static int season = 0, episode = 0;
    auto *one_episode = command(tmdb, "episode", "One episode of a TV show", "oxmeta --offline tmdb episode 57243 1 1");
    one_episode->add_option("tv_id", tmdb_id, "The show's TMDb id")->required()->check(positive_whole_number());
    one_episode->add_option("season", season, "Season number (0 for specials)")->required()->check(whole_number(0, 9999));
    one_episode->add_option("episode", episode, "Episode number")->required()->check(positive_whole_number());
    one_episode->callback([&] { op = {"tmdb episode", svc::tmdb, [](report_extras &) {
                                          return oxmeta_tmdb_tv_episode(tmdb_id, season, episode); }}; });

    auto *one_season = command(tmdb, "season", "One season of a TV show, its episodes numbered",
                               "oxmeta --offline tmdb season 57243 1");
    one_season->add_option("tv_id", tmdb_id, "The show's TMDb id")->required()->check(positive_whole_number());
    one_season->add_option("season", season, "Season number (0 for specials)")->required()->check(whole_number(0, 9999));
    one_season->callback([&] { op = {"tmdb season", svc::tmdb, [](report_extras &) {
                                         return oxmeta_tmdb_tv_season(tmdb_id, season); }}; });

    auto *movie = command(tmdb, "movie", "One movie with its IMDb id", "oxmeta --offline tmdb movie 78");
    movie->add_option("tmdb_id", tmdb_id, "The movie's TMDb id")->required()->check(positive_whole_number());
    movie->callback([&] { op = {"tmdb movie", svc::tmdb, [](report_extras &) {
                                    return oxmeta_tmdb_movie_detail(tmdb_id); }}; });

    auto *movies = command(tmdb, "discover-movie", "Popular movies", "oxmeta --offline tmdb discover-movie --page 1");
    add_page(movies, page);
    movies->add_option("--year", year, "Release year")->option_text("YEAR")->check(whole_number(1, 9999));
    movies->callback([&] { op = {"tmdb discover-movie", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_discover_movie(page, year); }}; });

    auto *shows = command(tmdb, "discover-tv", "Popular TV shows", "oxmeta --offline tmdb discover-tv --year 2020");
    add_page(shows, page);
    shows->add_option("--year", year, "First-air year")->option_text("YEAR")->check(whole_number(1, 9999));
    shows->add_flag("--include-adult", adult, "Send include_adult=true (adds a warning)");
    shows->callback([&] { op = {"tmdb discover-tv", svc::tmdb, [](report_extras &) {
                                    return oxmeta_tmdb_discover_tv(page, adult ? 1 : 0, year); }}; });

    auto *today = command(tmdb, "airing-today", "TV shows with an episode airing today",
                          "oxmeta --offline tmdb airing-today");
    add_page(today, page);
    today->callback([&] { op = {"tmdb airing-today", svc::tmdb, [](report_extras &) {
                                    return oxmeta_tmdb_tv_airing_today(page); }}; });

    auto *on_air = command(tmdb, "on-the-air", "TV shows currently on the air", "oxmeta --offline tmdb on-the-air --page 2");
    add_page(on_air, page);
    on_air->callback([&] { op = {"tmdb on-the-air", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_tv_on_the_air(page); }}; });

    auto *find = command(tmdb, "find", "Movies, TV shows and people carrying an IMDb id",
                         "oxmeta --offline tmdb find tt0083658");
    find->add_option("imdb_id", imdb_id, "An IMDb id such as tt0083658")->required()->check(non_empty());
    find->callback([&] { op = {"tmdb find", svc::tmdb, [](report_extras &) {
                                   return oxmeta_tmdb_find_by_imdb(imdb_id.c_str()); }}; });

    auto *tv = command(tmdb, "tv", "One TV show with its seasons and last episode", "oxmeta --offline tmdb tv 82856");
    tv->add_option("tmdb_id", tmdb_id, "The show's TMDb id")->required()->check(positive_whole_number());
    tv->callback([&] { op = {"tmdb tv", svc::tmdb, [](report_extras &extras) {
                                 extras.seasons = true;
                                 return oxmeta_tmdb_tv_detail(tmdb_id); }}; });

    auto *ids = command(tmdb, "external-ids", "The IMDb id of a movie or TV show", "oxmeta --offline tmdb external-ids 78");
    ids->add_option("tmdb_id", tmdb_id, "The TMDb id")->required()->check(positive_whole_number());
    ids->add_flag("--tv", is_tv, "The id is a TV show's, not a movie's");
    ids->callback([&] { op = {"tmdb external-ids", svc::tmdb, [](report_extras &) {
                                  return oxmeta_tmdb_external_ids(tmdb_id, is_tv ? 1 : 0); }}; });

    auto *image = command(tmdb, "image", "The full address of a TMDb image path (no request)",
                          "oxmeta tmdb image /63N9uy8nd9j7Eog2axPQ8lbr3Wj.jpg --size w185");
    image->add_option("path", path, "An image path such as /63N9uy8nd9j7Eog2axPQ8lbr3Wj.jpg")->required()->check(non_empty());
    image->add_option("--size", size, "A size name: w45, w92, w154, w185, w300, w342, w500 (the default), w780, w1280, h632 or original")
        ->option_text("NAME")
        ->check(one_of({"w45", "w92", "w154", "w185", "w300", "w342", "w500", "w780", "w1280", "h632", "original"}));
    image->callback([&] { op = {"tmdb image", svc::none, [](report_extras &extras) {
                                    extras.kind = report_extras::value_kind::text;
                                    extras.text = oxmeta_tmdb_image_url(path.c_str(), size.c_str());
                                    extras.has_value = !extras.text.empty();
                                    return OXMETA_OK; }}; });
}

// The names of the members of the last reply, when it is an object.
std::vector<std::string> reply_members() {
    std::vector<std::string> names;
    const std::string_view body = oxmeta_result_json();
    yyjson_doc *doc = yyjson_read(body.data(), body.size(), 0);
    yyjson_val *root = yyjson_doc_get_root(doc);
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    while (yyjson_val *key = yyjson_obj_iter_next(&it)) names.emplace_back(yyjson_get_str(key));
    yyjson_doc_free(doc);
    return names;
}

// The JSON of the last reply's member name when it is not a text; "" otherwise.
std::string reply_member_json(const std::string &name) {
    const std::string_view body = oxmeta_result_json();
    yyjson_doc *doc = yyjson_read(body.data(), body.size(), 0);
    yyjson_val *member = yyjson_obj_get(yyjson_doc_get_root(doc), name.c_str());
    std::string text;
    if (member && !yyjson_is_str(member)) {
        char *json = yyjson_val_write(member, 0, nullptr);
        if (json) text = json;
        std::free(json);
    }
    yyjson_doc_free(doc);
    return text;
}

void add_omdb(CLI::App &app, operation &op) {
    CLI::App *omdb = command(&app, "omdb", "The Open Movie Database (needs OMDB_API_KEY or --omdb-key)",
                             "oxmeta --offline omdb id tt0083658");
    omdb->require_subcommand(1);

    static std::string imdb_id, title, key;
    static int season = 1;

    auto *id = command(omdb, "id", "One title by its IMDb id", "oxmeta --offline omdb id tt0083658");
    id->add_option("imdb_id", imdb_id, "An IMDb id such as tt0083658")->required()->check(non_empty());
    id->callback([&] { op = {"omdb id", svc::omdb, [](report_extras &) {
                                 return oxmeta_omdb_by_imdb(imdb_id.c_str()); }}; });

    auto *by_title = command(omdb, "title", "One title by its name", "oxmeta --offline omdb title Alien");
    by_title->add_option("title", title, "The title")->required()->check(non_empty());
    by_title->callback([&] { op = {"omdb title", svc::omdb, [](report_extras &) {
                                       return oxmeta_omdb_by_title(title.c_str()); }}; });

    auto *by_season = command(omdb, "season", "One season of a series", "oxmeta --offline omdb season tt0944947 1");
    by_season->add_option("imdb_id", imdb_id, "The series' IMDb id")->required()->check(non_empty());
    by_season->add_option("season", season, "The season number")->required()->check(positive_whole_number());
    by_season->callback([&] { op = {"omdb season", svc::omdb, [](report_extras &) {
                                        return oxmeta_omdb_season(imdb_id.c_str(), season); }}; });

    // The readers look the title up, then read one value of its reply; a
    // value the reply does not give fails the lookup.
    struct reader {
        const char *name;
        const char *about;
        const char *example;
        int (*read)(report_extras &);
    };
    static const reader readers[] = {
        {"field", "One member of a title's reply, such as Director",
         "oxmeta --offline omdb field tt0083658 Director",
         [](report_extras &extras) {
             extras.kind = report_extras::value_kind::text;
             const std::vector<std::string> members = reply_members();
             if (std::find(members.begin(), members.end(), key) == members.end()) {
                 extras.error = "the OMDb reply has no member \"" + key + "\"";
                 const std::string best = closest(key, members);
                 if (!best.empty()) extras.error += " (did you mean \"" + best + "\"?)";
                 return OXMETA_E_NOT_FOUND;
             }
             extras.text = oxmeta_omdb_field(key.c_str());
             // A member that is no text (the Ratings list) is shown as its JSON.
             if (extras.text.empty()) extras.text = reply_member_json(key);
             extras.has_value = true;
             return OXMETA_OK;
         }},
        {"runtime", "A title's running time in minutes", "oxmeta --offline omdb runtime tt0083658",
         [](report_extras &extras) {
             extras.kind = report_extras::value_kind::number;
             extras.number = oxmeta_omdb_runtime_minutes(nullptr);
             extras.has_value = extras.number >= 0;
             if (!extras.has_value) extras.error = "the OMDb reply gives no running time";
             return extras.has_value ? OXMETA_OK : OXMETA_E_NOT_FOUND;
         }},
        {"votes", "A title's number of IMDb votes", "oxmeta --offline omdb votes tt0083658",
         [](report_extras &extras) {
             extras.kind = report_extras::value_kind::number;
             extras.has_value = oxmeta_omdb_votes(&extras.number) == 0;
             if (!extras.has_value) extras.error = "the OMDb reply gives no vote count";
             return extras.has_value ? OXMETA_OK : OXMETA_E_NOT_FOUND;
         }},
    };
    for (const reader &r : readers) {
        auto *cmd = command(omdb, r.name, r.about, r.example);
        cmd->add_option("imdb_id", imdb_id, "An IMDb id")->required()->check(non_empty());
        if (std::string_view(r.name) == "field")
            cmd->add_option("key", key, "The member's name, as OMDb spells it")->required()->check(non_empty());
        cmd->callback([&op, &r] {
            op = {std::string("omdb ") + r.name, svc::omdb, [&r](report_extras &extras) {
                      const int rc = oxmeta_omdb_by_imdb(imdb_id.c_str());
                      if (rc != OXMETA_OK) {
                          extras.kind = std::string_view(r.name) == "field" ? report_extras::value_kind::text
                                                                            : report_extras::value_kind::number;
                          return rc;
                      }
                      return r.read(extras);
                  }};
        });
    }
}

void add_itunes(CLI::App &app, operation &op) {
    CLI::App *itunes = command(&app, "itunes", "The iTunes Search API (no key)", "oxmeta --offline itunes search science");
    itunes->require_subcommand(1);

    static std::string term, media, country;
    static int limit = 50;
    static int64_t id = 0;

    auto *search = command(itunes, "search", "Podcasts (or other media) matching a term",
                           "oxmeta --offline itunes search science --limit 5");
    search->add_option("term", term, "What to look for")->required()->check(non_empty());
    search->add_option("--media", media, "podcast (default), movie, music, tvShow, ...")->option_text("KIND");
    search->add_option("--limit", limit, "At most this many results (1 to 200)")->option_text("N")->check(whole_number(1, 200));
    search->add_option("--country", country, "Two-letter store country (default US)")->option_text("CC");
    search->callback([&] { op = {"itunes search", svc::none, [](report_extras &) {
                                     return oxmeta_itunes_search(term.c_str(), media.c_str(), limit,
                                                                 country.c_str()); }}; });

    auto *lookup = command(itunes, "lookup", "One item by its iTunes id", "oxmeta --offline itunes lookup 1200361736");
    lookup->add_option("id", id, "The iTunes id")->required()->check(positive_whole_number());
    lookup->callback([&] { op = {"itunes lookup", svc::none, [](report_extras &) {
                                     return oxmeta_itunes_lookup(id); }}; });
}

}  // namespace

void add_service_commands(CLI::App &app, operation &op) {
    add_tmdb(app, op);
    add_omdb(app, op);
    add_itunes(app, op);
}
