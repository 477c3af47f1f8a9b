// oxmeta: looks up film, TV and podcast metadata through the oxmeta library,
// as a host does: it installs a transport (libcurl, or recorded replies) and
// calls the library's exported functions.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http_curl.h"
#include "output.h"
#include "oxmeta.h"
#include "recording.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct settings {
    bool json = false;
    std::string tmdb_key;
    std::string omdb_key;
    std::string language;
    long timeout_ms = 15000;
    int retries = 2;
    std::string replay_dir;
    std::string record_dir;
    bool offline = false;
    std::string base_url;
};

// What a subcommand runs once the transport is in place.
struct operation {
    std::string name;
    enum class service { none, tmdb, omdb } needs = service::none;
    std::function<int(report_extras &)> run;
};

// The recordings installed with the tool, or those of the source tree.
std::string shipped_recordings(const char *argv0) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exe = fs::canonical(fs::path(argv0), ec);
    if (!ec) {
        const fs::path installed = exe.parent_path().parent_path() / "share" / "oxmeta" / "recordings";
        if (fs::is_directory(installed, ec)) return installed.string();
    }
    return OXMETA_SOURCE_RECORDINGS;
}

std::string from_env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

// Sets the key the operation's service needs; false (after saying so) when
// there is none. Replayed requests carry no credential, so any key does.
bool set_key(const operation &op, const settings &s, bool replaying) {
    struct source {
        std::string option;
        const char *env;
        const char *option_name;
        const char *service;
        int (*set)(const char *);
    };
    if (op.needs == operation::service::none) return true;
    const source src = op.needs == operation::service::tmdb
                           ? source{s.tmdb_key, "TMDB_API_KEY", "--tmdb-key", "TMDb", oxmeta_tmdb_set_key}
                           : source{s.omdb_key, "OMDB_API_KEY", "--omdb-key", "OMDb", oxmeta_omdb_set_key};
    std::string key = src.option.empty() ? from_env(src.env) : src.option;
    if (key.empty() && replaying) key = "offline";
    if (key.empty()) {
        std::fprintf(stderr, "oxmeta: no %s key: set %s or pass %s (or use --offline)\n", src.service, src.env,
                     src.option_name);
        return false;
    }
    return src.set(key.c_str()) == OXMETA_OK;
}

void add_tmdb(CLI::App &app, operation &op, settings &) {
    using svc = operation::service;
    auto *tmdb = app.add_subcommand("tmdb", "The Movie Database (needs TMDB_API_KEY or --tmdb-key)");
    tmdb->require_subcommand(1);

    static std::string query, imdb_id, path, size;
    static int page = 1, year = 0, tmdb_id = 0;
    static bool adult = false, is_tv = false;

    auto *search = tmdb->add_subcommand("search", "Movies, TV shows and people matching a query");
    search->add_option("query", query, "What to look for")->required();
    search->add_option("--page", page, "Page of results")->check(CLI::PositiveNumber);
    search->footer("Example: oxmeta --offline tmdb search \"blade runner\"");
    search->callback([&] { op = {"tmdb search", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_search_multi(query.c_str(), page); }}; });

    auto *movies = tmdb->add_subcommand("discover-movie", "Popular movies");
    movies->add_option("--page", page, "Page of results")->check(CLI::PositiveNumber);
    movies->add_option("--year", year, "Release year")->check(CLI::Range(1, 9999));
    movies->footer("Example: oxmeta --offline tmdb discover-movie --page 1");
    movies->callback([&] { op = {"tmdb discover-movie", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_discover_movie(page, year); }}; });

    auto *shows = tmdb->add_subcommand("discover-tv", "Popular TV shows");
    shows->add_option("--page", page, "Page of results")->check(CLI::PositiveNumber);
    shows->add_option("--year", year, "First-air year")->check(CLI::Range(1, 9999));
    shows->add_flag("--include-adult", adult, "Send include_adult=true (adds a warning)");
    shows->footer("Example: oxmeta tmdb discover-tv --year 2020");
    shows->callback([&] { op = {"tmdb discover-tv", svc::tmdb, [](report_extras &) {
                                    return oxmeta_tmdb_discover_tv(page, adult ? 1 : 0, year); }}; });

    auto *today = tmdb->add_subcommand("airing-today", "TV shows with an episode airing today");
    today->add_option("--page", page, "Page of results")->check(CLI::PositiveNumber);
    today->footer("Example: oxmeta tmdb airing-today");
    today->callback([&] { op = {"tmdb airing-today", svc::tmdb, [](report_extras &) {
                                    return oxmeta_tmdb_tv_airing_today(page); }}; });

    auto *on_air = tmdb->add_subcommand("on-the-air", "TV shows currently on the air");
    on_air->add_option("--page", page, "Page of results")->check(CLI::PositiveNumber);
    on_air->footer("Example: oxmeta tmdb on-the-air --page 2");
    on_air->callback([&] { op = {"tmdb on-the-air", svc::tmdb, [](report_extras &) {
                                     return oxmeta_tmdb_tv_on_the_air(page); }}; });

    auto *find = tmdb->add_subcommand("find", "Movies, TV shows and people carrying an IMDb id");
    find->add_option("imdb_id", imdb_id, "An IMDb id such as tt0083658")->required();
    find->footer("Example: oxmeta --offline tmdb find tt0083658");
    find->callback([&] { op = {"tmdb find", svc::tmdb, [](report_extras &) {
                                   return oxmeta_tmdb_find_by_imdb(imdb_id.c_str()); }}; });

    auto *tv = tmdb->add_subcommand("tv", "One TV show with its seasons and last episode");
    tv->add_option("tmdb_id", tmdb_id, "The show's TMDb id")->required()->check(CLI::PositiveNumber);
    tv->footer("Example: oxmeta --offline tmdb tv 1399");
    tv->callback([&] { op = {"tmdb tv", svc::tmdb, [](report_extras &extras) {
                                 extras.seasons = true;
                                 return oxmeta_tmdb_tv_detail(tmdb_id); }}; });

    auto *ids = tmdb->add_subcommand("external-ids", "The IMDb id of a movie or TV show");
    ids->add_option("tmdb_id", tmdb_id, "The TMDb id")->required()->check(CLI::PositiveNumber);
    ids->add_flag("--tv", is_tv, "The id is a TV show's, not a movie's");
    ids->footer("Example: oxmeta tmdb external-ids 78");
    ids->callback([&] { op = {"tmdb external-ids", svc::tmdb, [](report_extras &) {
                                  return oxmeta_tmdb_external_ids(tmdb_id, is_tv ? 1 : 0); }}; });

    auto *image = tmdb->add_subcommand("image", "The full address of a TMDb image path (no request)");
    image->add_option("path", path, "An image path such as /63N9uy8nd9j7Eog2axPQ8lbr3Wj.jpg")->required();
    image->add_option("--size", size, "A size name such as w185, w500 or original");
    image->footer("Example: oxmeta tmdb image /63N9uy8nd9j7Eog2axPQ8lbr3Wj.jpg --size w185");
    image->callback([&] { op = {"tmdb image", svc::none, [](report_extras &extras) {
                                    extras.has_value = true;
                                    extras.value = oxmeta_tmdb_image_url(path.c_str(), size.c_str());
                                    return OXMETA_OK; }}; });
}

void add_omdb(CLI::App &app, operation &op, settings &) {
    using svc = operation::service;
    auto *omdb = app.add_subcommand("omdb", "The Open Movie Database (needs OMDB_API_KEY or --omdb-key)");
    omdb->require_subcommand(1);

    static std::string imdb_id, title, key;
    static int season = 1;

    auto *id = omdb->add_subcommand("id", "One title by its IMDb id");
    id->add_option("imdb_id", imdb_id, "An IMDb id such as tt0083658")->required();
    id->footer("Example: oxmeta --offline omdb id tt0083658");
    id->callback([&] { op = {"omdb id", svc::omdb, [](report_extras &) {
                                 return oxmeta_omdb_by_imdb(imdb_id.c_str()); }}; });

    auto *by_title = omdb->add_subcommand("title", "One title by its name");
    by_title->add_option("title", title, "The title")->required();
    by_title->footer("Example: oxmeta omdb title \"Blade Runner\"");
    by_title->callback([&] { op = {"omdb title", svc::omdb, [](report_extras &) {
                                       return oxmeta_omdb_by_title(title.c_str()); }}; });

    auto *by_season = omdb->add_subcommand("season", "One season of a series");
    by_season->add_option("imdb_id", imdb_id, "The series' IMDb id")->required();
    by_season->add_option("season", season, "The season number")->required()->check(CLI::PositiveNumber);
    by_season->footer("Example: oxmeta omdb season tt0944947 1");
    by_season->callback([&] { op = {"omdb season", svc::omdb, [](report_extras &) {
                                        return oxmeta_omdb_season(imdb_id.c_str(), season); }}; });

    // The readers look the title up, then read one value of its reply.
    struct reader {
        const char *name;
        const char *about;
        const char *example;
        std::string (*read)();
    };
    static const reader readers[] = {
        {"field", "One member of a title's reply, such as Director",
         "Example: oxmeta --offline omdb field tt0083658 Director",
         [] { return std::string(oxmeta_omdb_field(key.c_str())); }},
        {"runtime", "A title's running time in minutes", "Example: oxmeta --offline omdb runtime tt0083658",
         [] { return std::to_string(oxmeta_omdb_runtime_minutes(nullptr)); }},
        {"votes", "A title's number of IMDb votes", "Example: oxmeta --offline omdb votes tt0083658",
         [] {
             int64_t count = 0;
             return oxmeta_omdb_votes(&count) == 0 ? std::to_string(count) : std::string("-");
         }},
    };
    for (const reader &r : readers) {
        auto *cmd = omdb->add_subcommand(r.name, r.about);
        cmd->add_option("imdb_id", imdb_id, "An IMDb id")->required();
        if (std::string_view(r.name) == "field")
            cmd->add_option("key", key, "The member's name, as OMDb spells it")->required();
        cmd->footer(r.example);
        cmd->callback([&op, &r] {
            op = {std::string("omdb ") + r.name, svc::omdb, [&r](report_extras &extras) {
                      const int rc = oxmeta_omdb_by_imdb(imdb_id.c_str());
                      extras.has_value = rc == OXMETA_OK;
                      extras.value = r.read();
                      return rc;
                  }};
        });
    }
}

void add_itunes(CLI::App &app, operation &op, settings &) {
    using svc = operation::service;
    auto *itunes = app.add_subcommand("itunes", "The iTunes Search API (no key)");
    itunes->require_subcommand(1);

    static std::string term, media, country;
    static int limit = 50;
    static int64_t id = 0;

    auto *search = itunes->add_subcommand("search", "Podcasts (or other media) matching a term");
    search->add_option("term", term, "What to look for")->required();
    search->add_option("--media", media, "podcast (default), movie, music, tvShow, ...");
    search->add_option("--limit", limit, "At most this many results (1 to 200)")->check(CLI::Range(1, 200));
    search->add_option("--country", country, "Two-letter store country (default US)");
    search->footer("Example: oxmeta --offline itunes search science --limit 5");
    search->callback([&] { op = {"itunes search", svc::none, [](report_extras &) {
                                     return oxmeta_itunes_search(term.c_str(), media.c_str(), limit,
                                                                 country.c_str()); }}; });

    auto *lookup = itunes->add_subcommand("lookup", "One item by its iTunes id");
    lookup->add_option("id", id, "The iTunes id")->required()->check(CLI::PositiveNumber);
    lookup->footer("Example: oxmeta itunes lookup 1200361736");
    lookup->callback([&] { op = {"itunes lookup", svc::none, [](report_extras &) {
                                     return oxmeta_itunes_lookup(id); }}; });
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"oxmeta " OXMETA_TOOL_VERSION
                 " \xE2\x80\x94 film, TV and podcast metadata from TMDb, OMDb and the iTunes Search API"};
    app.footer("Exit status: 0 success, 1 the lookup failed, 2 the command line was wrong.\n"
               "Example: oxmeta --offline tmdb search \"blade runner\"");
    app.require_subcommand(1);
    app.set_version_flag("--version", "oxmeta " OXMETA_TOOL_VERSION);

    settings s;
    app.add_flag("--json", s.json, "Print one JSON document instead of a table");
    app.add_option("--tmdb-key", s.tmdb_key, "TMDb v3 API key (default: $TMDB_API_KEY)");
    app.add_option("--omdb-key", s.omdb_key, "OMDb API key (default: $OMDB_API_KEY)");
    app.add_option("--language", s.language, "TMDb language tag (default en-US)");
    app.add_option("--timeout", s.timeout_ms, "Timeout of each request in milliseconds")
        ->option_text("MS")
        ->check(CLI::Range(1L, 600000L));
    app.add_option("--retries", s.retries, "Retries after a 429 or 503 reply")->option_text("N")->check(CLI::Range(0, 10));
    auto *replay = app.add_option("--replay", s.replay_dir, "Answer every request from recordings in DIR")
                      ->option_text("DIR");
    auto *record = app.add_option("--record", s.record_dir, "Save every exchange into DIR (live requests)")
                      ->option_text("DIR");
    auto *offline = app.add_flag("--offline", s.offline, "Replay the recordings shipped with the tool");
    app.add_option("--base-url", s.base_url, "Send every request to this base address instead (testing)")
        ->option_text("URL");
    replay->excludes(record);
    offline->excludes(record)->excludes(replay);

    operation op;
    add_tmdb(app, op, s);
    add_omdb(app, op, s);
    add_itunes(app, op, s);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kExitUsage;
    }
    if (!op.run) return kExitUsage;

    if (s.offline) s.replay_dir = shipped_recordings(argv[0]);
    const bool replaying = !s.replay_dir.empty();
    if (!set_key(op, s, replaying)) return kExitUsage;
    if (!s.language.empty()) oxmeta_set_language(s.language.c_str());

    std::unique_ptr<replayer> replay_io;
    std::unique_ptr<curl_transport> live;
    std::unique_ptr<recorder> record_io;
    if (replaying) {
        replay_io = std::make_unique<replayer>(s.replay_dir);
        if (!replay_io->ok()) {
            std::fprintf(stderr, "oxmeta: %s\n", replay_io->error().c_str());
            return kExitUsage;
        }
        oxmeta_set_io(replay_io->io());
    } else {
        live = std::make_unique<curl_transport>(curl_options{s.timeout_ms, s.retries, s.base_url});
        if (!live->ok()) {
            std::fprintf(stderr, "oxmeta: libcurl could not be initialised\n");
            return kExitFailed;
        }
        oxmeta_set_io(live->io());
        if (!s.record_dir.empty()) {
            record_io = std::make_unique<recorder>(live->io(), s.record_dir);
            oxmeta_set_io(record_io->io());
        }
    }

    report_extras extras;
    const int rc = op.run(extras);
    print_report(op.name, rc, s.json, extras);
    oxmeta_set_io(nullptr);
    oxmeta_shutdown();
    return rc == OXMETA_OK ? 0 : kExitFailed;
}
