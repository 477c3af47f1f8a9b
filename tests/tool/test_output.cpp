// What the tool prints, from replayed exchanges: tables safe on a terminal
// and aligned by display width, rows for scripts, JSON with numbers and
// nulls, and output that could not be written.
#include <utf8proc.h>

#include <set>
#include <span>

#include "harness.h"

namespace tool_test {
namespace {

const char kSearchUrl[] =
    "https://api.themoviedb.org/3/search/multi?query=x&page=1&include_adult=false&language=en-US";

// The columns a terminal gives a line.
size_t columns_of(const std::string &line) {
    size_t width = 0;
    for (size_t at = 0; at < line.size();) {
        utf8proc_int32_t cp = 0;
        const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(line.data() + at),
                                        static_cast<utf8proc_ssize_t>(line.size() - at), &cp);
        if (n <= 0) return SIZE_MAX;
        width += static_cast<size_t>(utf8proc_charwidth(cp));
        at += static_cast<size_t>(n);
    }
    return width;
}

// The display column at which part starts in line.
size_t column_of(const std::string &line, const std::string &part) {
    const size_t at = line.find(part);
    return at == std::string::npos ? SIZE_MAX : columns_of(line.substr(0, at));
}

// A replay directory holding one search reply with these titles.
struct search_replay {
    explicit search_replay(const std::vector<std::string> &titles) : dir(scratch_dir("replay")) {
        write_recording(dir, "search", kSearchUrl, 200, search_reply(titles));
    }
    ~search_replay() { fs::remove_all(dir); }
    outcome run(std::vector<std::string> extra, const run_options &options = {}) const {
        std::vector<std::string> args = {"--replay", dir.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        for (const char *a : {"tmdb", "search", "x"}) args.emplace_back(a);
        return run_tool(args, options);
    }
    fs::path dir;
};

TEST(ToolOutput, ControlCharactersFromTheServiceAreShownEscaped) {
    const search_replay replay({"Evil\x1b]0;pwned\x07\x1b[31mRed\xc2\x9b" "1m", "Two\nLines\tand a tab\\", "Del\x7f"});
    for (const char *format : {"table", "tsv"}) {
        const outcome o = replay.run({"--format", format});
        ASSERT_EQ(o.status, 0) << o.err;
        for (char c : o.out) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 || c == '\n' || (c == '\t' && std::string(format) == "tsv")) << int(byte);
            EXPECT_NE(byte, 0x7f);
        }
        EXPECT_FALSE(contains(o.out, "\xc2\x9b")) << o.out;
        EXPECT_TRUE(contains(o.out, R"(Evil\x1b]0;pwned\x07\x1b[31mRed\u009b1m)")) << o.out;
        EXPECT_TRUE(contains(o.out, R"(Two\nLines\tand a tab\\)")) << o.out;
        EXPECT_TRUE(contains(o.out, R"(Del\x7f)")) << o.out;
        EXPECT_EQ(lines_of(o.out).size(), std::string(format) == "table" ? 4u : 3u) << o.out;
    }
    // JSON keeps the text as it came.
    const outcome json = replay.run({"--json"});
    json_doc doc(json.out);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(yyjson_arr_get(doc.get("results"), 1), "title")),
                 "Two\nLines\tand a tab\\");
}

TEST(ToolOutput, ColumnsAlignByDisplayWidth) {
    // Wide CJK characters, an emoji, a combining accent, plain ASCII.
    const search_replay replay({"\xe5\x8d\x83\xe3\x81\xa8\xe5\x8d\x83\xe5\xb0\x8b", "Smile \xf0\x9f\x98\x80",
                                "Cafe\xcc\x81", "Plain title"});
    const outcome o = replay.run({"--format", "table"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = lines_of(o.out);
    ASSERT_EQ(lines.size(), 5u) << o.out;
    const size_t poster = column_of(lines[0], "poster");
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(column_of(lines[i], "https://"), poster) << lines[i];
    // The widest title is the ASCII one (11 columns; the CJK title takes 8,
    // the emoji's 8, the accented one 4): the column is that and the gap.
    EXPECT_EQ(poster - column_of(lines[0], "title"), std::string("Plain title").size() + 2);
}

TEST(ToolOutput, OnATerminalTheTableFitsItsWidth) {
    const search_replay replay({std::string(120, 'T'), "Short"});
    run_options terminal;
    terminal.out = stdout_to::terminal;
    terminal.columns = 60;
    const outcome o = replay.run({}, terminal);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = lines_of(o.out);
    ASSERT_EQ(lines.size(), 3u) << o.out;
    EXPECT_EQ(lines[0].rfind("#  type", 0), 0u) << o.out;  // the aligned table, with its header
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_LE(columns_of(line), 60u) << line;
    }
    EXPECT_TRUE(contains(o.out, "\xe2\x80\xa6")) << o.out;
    // Piped, nothing is cut.
    EXPECT_TRUE(contains(replay.run({"--format", "table"}).out, std::string(120, 'T')));
    EXPECT_TRUE(contains(replay.run({}).out, std::string(120, 'T')));
}

TEST(ToolOutput, PeopleHaveNoRating) {
    for (const char *format : {"tsv", "json"}) {
        const outcome o = run_tool({"--offline", "--format", format, "tmdb", "search", "blade runner"});
        ASSERT_EQ(o.status, 0) << o.err;
        if (std::string(format) == "tsv") {
            EXPECT_TRUE(contains(o.out, "5\tperson\t3\t\t\t\tHarrison Ford\t\t\t\n")) << o.out;
            continue;
        }
        json_doc doc(o.out);
        yyjson_val *person = yyjson_arr_get(doc.get("results"), 5);
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(person, "media_type")), "person");
        EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(person, "rating")));
        EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(person, "rating_permille")));
    }
}

TEST(ToolOutput, AShowWithoutALastEpisodeSaysSo) {
    const fs::path dir = scratch_dir("tv");
    write_recording(dir, "tv", "https://api.themoviedb.org/3/tv/5?language=en-US", 200,
                    R"({"id":5,"name":"Pilot Only","seasons":[{"season_number":1,"poster_path":null}]})");
    const outcome table = run_tool({"--replay", dir.string(), "tmdb", "tv", "5"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_FALSE(contains(table.out + table.err, "-1")) << table.out << table.err;
    EXPECT_TRUE(contains(table.err, "last episode aired: not given")) << table.err;
    const outcome json = run_tool({"--replay", dir.string(), "--json", "tmdb", "tv", "5"});
    json_doc doc(json.out);
    EXPECT_TRUE(yyjson_is_null(doc.get("last_episode"))) << json.out;
    EXPECT_EQ(yyjson_arr_size(doc.get("seasons")), 1u);
    fs::remove_all(dir);
}

// The names of a document's top-level keys.
std::set<std::string> keys_of(const std::string &text) {
    json_doc doc(text);
    std::set<std::string> keys;
    yyjson_obj_iter it = yyjson_obj_iter_with(doc.root());
    while (yyjson_val *key = yyjson_obj_iter_next(&it)) keys.insert(yyjson_get_str(key));
    return keys;
}

TEST(ToolOutput, JsonHasTheSameKeysOnSuccessAndFailure) {
    struct pair {
        std::vector<std::string> ok, failed;
    };
    const pair pairs[] = {
        {{"tmdb", "tv", "82856"}, {"tmdb", "tv", "1"}},
        {{"omdb", "runtime", "tt0083658"}, {"omdb", "runtime", "tt1"}},
        {{"tmdb", "search", "blade runner"}, {"tmdb", "search", "nothing recorded"}},
    };
    for (const pair &p : pairs) {
        std::vector<std::string> ok = {"--offline", "--json"}, failed = ok;
        ok.insert(ok.end(), p.ok.begin(), p.ok.end());
        failed.insert(failed.end(), p.failed.begin(), p.failed.end());
        const outcome good = run_tool(ok), bad = run_tool(failed);
        EXPECT_EQ(good.status, 0) << good.err;
        EXPECT_EQ(bad.status, 1) << bad.err;
        EXPECT_EQ(keys_of(good.out), keys_of(bad.out)) << good.out << bad.out;
    }
    const outcome runtime = run_tool({"--offline", "--json", "omdb", "runtime", "tt0083658"});
    EXPECT_EQ(yyjson_get_int(json_doc(runtime.out).get("value")), 117) << runtime.out;
    const outcome votes = run_tool({"--offline", "--json", "omdb", "votes", "tt0083658"});
    EXPECT_EQ(yyjson_get_int(json_doc(votes.out).get("value")), 846334) << votes.out;
}

TEST(ToolOutput, AMemberTheReplyLacksIsAFailedLookup) {
    const outcome o = run_tool({"--offline", "omdb", "field", "tt0083658", "director"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(contains(o.err, R"(oxmeta: the OMDb reply has no member "director" (did you mean "Director"?))"))
        << o.err;
}

TEST(ToolOutput, OutputThatCannotBeWrittenFails) {
    const std::vector<std::vector<std::string>> commands = {
        {"--offline", "tmdb", "search", "blade runner"},
        {"--offline", "--json", "tmdb", "search", "blade runner"},
        {"--help"},
        {"tmdb", "search", "--help"},
        {"completion", "bash"},
    };
    for (stdout_to target : {stdout_to::dev_full, stdout_to::closed}) {
        for (const auto &args : commands) {
            run_options options;
            options.out = target;
            const outcome o = run_tool(args, options);
            EXPECT_EQ(o.status, 2) << testing::PrintToString(args) << o.err;
            EXPECT_TRUE(contains(o.err, "oxmeta: writing output failed: ")) << o.err;
        }
    }
}

// Every subcommand against the shipped recordings, as rows and as JSON.
struct ReplayCase {
    std::vector<std::string> args;
    std::string shown;  // in stdout or stderr
    int results;
};

TEST(ToolOutput, OfflineReplayOfEverySubcommand) {
    const ReplayCase cases[] = {
        {{"tmdb", "search", "blade runner"}, "Blade Runner 2049", 6},
        {{"tmdb", "discover-movie"}, "page 1 of 500, 10000 results", 4},
        {{"tmdb", "discover-tv", "--year", "2020"}, "page 1 of 40, 789 results", 2},
        {{"tmdb", "airing-today"}, "Game of Thrones", 1},
        {{"tmdb", "on-the-air", "--page", "2"}, "page 2 of 9, 170 results", 1},
        {{"tmdb", "tv", "82856"}, "last episode aired: season 3, episode 8", 1},
        {{"tmdb", "season", "57243", "1"}, "The End of the World", 2},
        {{"tmdb", "find", "tt0083658"}, "tt0083658", 1},
        {{"tmdb", "external-ids", "78"}, "tt0083658", 1},
        {{"tmdb", "image", "/abc.jpg", "--size", "w185"}, "https://image.tmdb.org/t/p/w185/abc.jpg", 0},
        {{"omdb", "id", "tt0083658"}, "Blade Runner", 1},
        {{"omdb", "title", "Alien"}, "Alien", 1},
        {{"omdb", "season", "tt0944947", "1"}, "Game of Thrones", 1},
        {{"omdb", "field", "tt0083658", "Director"}, "Ridley Scott", 1},
        {{"omdb", "runtime", "tt0083658"}, "117", 1},
        {{"omdb", "votes", "tt0083658"}, "846334", 1},
        {{"itunes", "search", "science"}, "https://feeds.simplecast.com/54nAGcIl", 5},
        {{"itunes", "lookup", "1200361736"}, "https://feeds.simplecast.com/54nAGcIl", 1},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"--offline"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const outcome rows = run_tool(args);
        EXPECT_EQ(rows.status, 0) << testing::PrintToString(args) << rows.err;
        EXPECT_TRUE(contains(rows.out + rows.err, c.shown)) << rows.out << rows.err;

        args.push_back("--json");  // options anywhere
        const outcome json = run_tool(args);
        EXPECT_EQ(json.status, 0) << json.err;
        json_doc doc(json.out);
        ASSERT_NE(doc.doc, nullptr) << json.out;
        EXPECT_STREQ(yyjson_get_str(doc.get("status")), "OXMETA_OK");
        EXPECT_EQ(yyjson_arr_size(doc.get("results")), static_cast<size_t>(c.results)) << json.out;
    }
}

// A season's episodes carry their numbers: a cell of rows, two members
// in JSON; anything else has neither.
TEST(ToolOutput, EpisodesAreNumberedInEveryFormat) {
    const outcome rows = run_tool({"--offline", "--format", "tsv", "tmdb", "season", "57243", "1"});
    ASSERT_EQ(rows.status, 0) << rows.err;
    EXPECT_TRUE(contains(rows.out, "\tThe End of the World\t")) << rows.out;
    EXPECT_TRUE(contains(rows.out, "\tS01E02\n")) << rows.out;
    const outcome json = run_tool({"--offline", "--json", "tmdb", "season", "57243", "1"});
    json_doc doc(json.out);
    yyjson_val *second = yyjson_arr_get(doc.get("results"), 1);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(second, "season_number")), 1) << json.out;
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(second, "episode_number")), 2) << json.out;
    const outcome film = run_tool({"--offline", "--json", "tmdb", "movie", "78"});
    json_doc film_doc(film.out);
    yyjson_val *result = yyjson_arr_get(film_doc.get("results"), 0);
    EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(result, "episode_number"))) << film.out;
}

TEST(ToolOutput, OfflineMissIsAFailedLookup) {
    const outcome o = run_tool({"--offline", "tmdb", "tv", "1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "no recording for https://api.themoviedb.org/3/tv/1?language=en-US")) << o.err;
}

}  // namespace
}  // namespace tool_test
