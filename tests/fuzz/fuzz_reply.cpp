// One fuzz input is one reply: its first byte chooses the operation (and,
// with its high bit, whether it runs twice), its second the HTTP status, and
// the rest is the body. The reply goes through the fake transport; then
// every accessor, the season data and the field readers are read, and the
// library is shut down, so that each input starts from nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "oxmeta.h"

namespace {

const std::string kTmdb = "https://api.themoviedb.org/3";
const std::string kKeys = "api_key=K&language=en-US";

struct operation {
    std::string url;
    int (*run)();
};

const operation kOperations[] = {
    {kTmdb + "/search/multi?query=q&page=1&include_adult=false&" + kKeys, [] { return oxmeta_tmdb_search_multi("q", 1); }},
    {kTmdb + "/discover/movie?sort_by=popularity.desc&include_adult=false&include_video=false&page=1&" + kKeys,
     [] { return oxmeta_tmdb_discover_movie(1, 0); }},
    {kTmdb + "/discover/tv?sort_by=popularity.desc&page=1&timezone=America%2FNew_York"
             "&include_null_first_air_dates=false&include_adult=true&first_air_date_year=2020&" + kKeys,
     [] { return oxmeta_tmdb_discover_tv(1, 1, 2020); }},
    {kTmdb + "/tv/airing_today?page=1&" + kKeys, [] { return oxmeta_tmdb_tv_airing_today(1); }},
    {kTmdb + "/tv/on_the_air?page=1&" + kKeys, [] { return oxmeta_tmdb_tv_on_the_air(1); }},
    {kTmdb + "/find/tt1?external_source=imdb_id&" + kKeys, [] { return oxmeta_tmdb_find_by_imdb("tt1"); }},
    {kTmdb + "/tv/1?" + kKeys, [] { return oxmeta_tmdb_tv_detail(1); }},
    {kTmdb + "/movie/1/external_ids?" + kKeys, [] { return oxmeta_tmdb_external_ids(1, 0); }},
    {"https://www.omdbapi.com/?i=tt1&apikey=K", [] { return oxmeta_omdb_by_imdb("tt1"); }},
    {"https://www.omdbapi.com/?t=t&apikey=K", [] { return oxmeta_omdb_by_title("t"); }},
    {"https://www.omdbapi.com/?i=tt1&Season=1&apikey=K", [] { return oxmeta_omdb_season("tt1", 1); }},
    {"https://itunes.apple.com/search?term=q&media=podcast&limit=10&country=US",
     [] { return oxmeta_itunes_search("q", nullptr, 10, nullptr); }},
    {"https://itunes.apple.com/lookup?id=1", [] { return oxmeta_itunes_lookup(1); }},
    {kTmdb + "/tv/1/season/1?" + kKeys, [] { return oxmeta_tmdb_tv_season(1, 1); }},
};

constexpr int kStatuses[] = {200, 201, 204, 299, 199, 300, 401, 403, 404, 429, 500, 503};

volatile size_t g_sink;  // keeps the reads from being optimised away

void consume(int number) { g_sink = g_sink + static_cast<unsigned>(number); }
void consume(int64_t number) { g_sink = g_sink + static_cast<uint64_t>(number); }

void consume(const char *text) {
    if (!text) __builtin_trap();  // a getter must never return null
    size_t n = 0;
    while (text[n]) ++n;
    g_sink = g_sink + n;
}

void read_everything() {
    const int count = oxmeta_result_count();
    for (int i = -1; i <= count; ++i) {
        for (auto get : {oxmeta_result_source, oxmeta_result_id, oxmeta_result_imdb_id, oxmeta_result_title,
                         oxmeta_result_original_title, oxmeta_result_overview, oxmeta_result_media_type,
                         oxmeta_result_poster_path, oxmeta_result_backdrop_path, oxmeta_result_feed_url})
            consume(get(i));
        for (int number : {oxmeta_result_year(i), oxmeta_result_rating_permille(i),
                           oxmeta_result_popularity_permille(i)})
            consume(number);
        consume(oxmeta_tmdb_image_url(oxmeta_result_poster_path(i), "w92"));
        consume(oxmeta_result_season_number(i));
        consume(oxmeta_result_episode_number(i));
    }
    const int seasons = oxmeta_tv_season_count();
    for (int i = -1; i <= seasons; ++i) {
        consume(oxmeta_tv_season_number(i));
        consume(oxmeta_tv_season_poster(i));
    }
    for (int number : {oxmeta_tv_last_episode_season(), oxmeta_tv_last_episode_number(), oxmeta_total_pages(),
                       oxmeta_total_results(), oxmeta_page(), oxmeta_last_http_code()})
        consume(number);
    for (int i = -1; i <= oxmeta_warning_count(); ++i) consume(oxmeta_warning(i));
    consume(oxmeta_last_error());
    consume(oxmeta_last_url());
    consume(oxmeta_result_json());
    for (const char *key : {"Title", "Runtime", "imdbVotes", "Response", "Error", ""}) consume(oxmeta_omdb_field(key));
    int minutes = 0;
    int64_t votes = 0;
    consume(oxmeta_omdb_runtime_minutes(&minutes));
    consume(minutes);
    consume(oxmeta_omdb_votes(&votes));
    consume(votes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    constexpr size_t kOperationCount = sizeof kOperations / sizeof kOperations[0];
    const operation &op = kOperations[(data[0] & 0x7F) % kOperationCount];
    const bool twice = data[0] & 0x80;
    const int status = kStatuses[data[1] % (sizeof kStatuses / sizeof kStatuses[0])];
    const std::string body(reinterpret_cast<const char *>(data + 2), size - 2);

    oxmeta_use_fake();
    oxmeta_tmdb_set_key("K");
    oxmeta_omdb_set_key("K");
    ox_fake_set("GET", op.url.c_str(), status, body.c_str());  // the body ends at its first NUL
    op.run();
    if (twice) op.run();
    read_everything();
    oxmeta_shutdown();
    return 0;
}
