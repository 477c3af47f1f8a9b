// `oxmeta match` as a user runs it: the pick from the shipped recordings,
// one JSON line or row per path, the verdict of each, and the exit status.
#include "harness.h"

namespace tool_test {
namespace {

constexpr const char *kBladeRunner = "Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv";

TEST(ToolMatch, OfflinePicksTheFilmFromTheShippedRecordings) {
    const outcome o = run_tool({"--offline", "match", kBladeRunner});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<std::string> rows = lines_of(o.out);
    ASSERT_EQ(rows.size(), 1u) << o.out;
    // path, kind, title, year, season, episodes, verdict, id, title, year, score, episode id and title, others
    EXPECT_TRUE(contains(rows[0], std::string(kBladeRunner) + "\tmovie\tBlade Runner\t1982\t\t\tmatched\t78\tBlade Runner\t1982\t"))
        << rows[0];
    EXPECT_TRUE(contains(rows[0], "\t542301:")) << rows[0];  // the runner-up with its score

    const outcome json = run_tool({"--offline", "--json", "match", kBladeRunner, "Doctor.Who.2005.S01E01.Rose.720p.mkv"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::vector<std::string> lines = lines_of(json.out);
    ASSERT_EQ(lines.size(), 2u);
    const json_doc film(lines[0]);
    yyjson_val *pick = film.get("pick");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(pick, "id")), 78);
    EXPECT_GE(yyjson_get_int(yyjson_obj_get(pick, "score")), 700);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(film.get("parsed"), "edition")), "Final Cut");
    EXPECT_EQ(yyjson_arr_size(film.get("candidates")), 2u);
    const json_doc show(lines[1]);
    yyjson_val *episode = yyjson_obj_get(show.get("pick"), "episode");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(show.get("pick"), "id")), 57243);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(episode, "title")), "Rose");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(episode, "season")), 1);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(episode, "number")), 1);
}

// A file of two episodes names both, with their numbers, in every format.
TEST(ToolMatch, EveryEpisodeOfAFileIsNamedWithItsNumbers) {
    constexpr const char *kTwo = "Doctor.Who.2005.S01E01E02.720p.mkv";
    const outcome json = run_tool({"--offline", "--json", "match", kTwo});
    ASSERT_EQ(json.status, 0) << json.err;
    const json_doc doc(json.out);
    yyjson_val *episodes = yyjson_obj_get(doc.get("pick"), "episodes");
    ASSERT_EQ(yyjson_arr_size(episodes), 2u) << json.out;
    yyjson_val *second = yyjson_arr_get(episodes, 1);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(second, "id")), 941245);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(second, "title")), "The End of the World");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(second, "season")), 1);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(second, "number")), 2);

    const outcome tsv = run_tool({"--offline", "match", kTwo});
    EXPECT_TRUE(contains(tsv.out, "\tS01E01;S01E02\t941244;941245\tRose;The End of the World\t")) << tsv.out;

    run_options terminal;
    terminal.out = stdout_to::terminal;
    terminal.columns = 200;
    const outcome table = run_tool({"--offline", "match", kTwo}, terminal);
    EXPECT_TRUE(contains(table.out, "S01E01 Rose (941244), S01E02 The End of the World (941245)")) << table.out;
}

TEST(ToolMatch, EachPathHasItsVerdictAndAnyMissExitsOne) {
    const fs::path dir = scratch_dir("match-replay");
    const std::string api = "https://api.themoviedb.org/3/search/movie?query=";
    const std::string tail = "&include_adult=false&page=1";
    write_recording(dir, "heat", api + "Heat" + tail + "&year=2001&language=en-US", 200, search_reply({"Heat"}));
    // Two films of the title and no year in the name to part them.
    write_recording(dir, "dune", api + "Dune" + tail + "&language=en-US", 200, search_reply({"Dune", "Dune"}));
    // Nothing like the title, in all three searches.
    for (const char *year : {"&year=2017", "&year=2016", ""})
        write_recording(dir, std::string("z") + year, api + "Zorblax" + tail + year + "&language=en-US", 200,
                        search_reply({"Quintessence"}));
    const outcome o = run_tool({"--replay", dir.string(), "--tmdb-key", "k", "--json", "match", "Heat.2001.mkv",
                                "Zorblax.2017.mkv", "Alien.1979.mkv", "Dune.mkv"});
    fs::remove_all(dir);
    EXPECT_EQ(o.status, 1);
    const std::vector<std::string> lines = lines_of(o.out);
    ASSERT_EQ(lines.size(), 4u) << o.out << o.err;
    const char *verdicts[] = {"matched", "unmatched", "failed", "ambiguous"};
    for (size_t i = 0; i < 4; ++i) {
        const json_doc line(lines[i]);
        EXPECT_STREQ(yyjson_get_str(line.get("status")), verdicts[i]) << lines[i];
    }
    const json_doc unmatched(lines[1]);
    EXPECT_TRUE(yyjson_is_null(unmatched.get("pick")));
    EXPECT_EQ(yyjson_arr_size(unmatched.get("candidates")), 1u);  // the best candidate is still shown
    EXPECT_TRUE(contains(o.err, "oxmeta: Zorblax.2017.mkv: match: no confident match for \"Zorblax\"")) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: Alien.1979.mkv: transport: no recording for")) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: Dune.mkv: match: ambiguous: \"Dune\" is 2 entries")) << o.err;
    const json_doc ambiguous(lines[3]);
    EXPECT_TRUE(yyjson_is_null(ambiguous.get("pick")));
    EXPECT_EQ(yyjson_arr_size(ambiguous.get("candidates")), 2u);
}

TEST(ToolMatch, TableShowsThePickAndTheRunnersUp) {
    run_options terminal;
    terminal.out = stdout_to::terminal;
    terminal.columns = 100;
    const outcome o = run_tool({"--offline", "match", kBladeRunner}, terminal);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.out, "movie \xE2\x80\x9C" "Blade Runner\xE2\x80\x9D 1982: matched")) << o.out;
    EXPECT_TRUE(contains(o.out, "pick  78 ")) << o.out;
    EXPECT_TRUE(contains(o.out, "542301  Blade Runner: The Final Cut  2007")) << o.out;
}

}  // namespace
}  // namespace tool_test
