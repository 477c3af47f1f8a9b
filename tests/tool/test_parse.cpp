// `oxmeta parse`: names from the command line or stdin, as JSON Lines,
// tab-separated rows or a table, streamed in order with constant memory.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "harness.h"

namespace tool_test {
namespace {

const char *const kKeys[] = {"input",         "kind",           "title",         "year",          "year_end",
                             "season",        "seasons",        "episodes",      "absolute_episode", "date",
                             "episode_title", "part",           "country",       "screen_size",   "source",
                             "video_codec",   "audio_codec",    "audio_channels", "hdr",          "edition",
                             "release_group", "container",      "languages",     "subtitles",     "proper",
                             "repack",        "is_extra",       "tmdb_id",       "imdb_id",       "tvdb_id"};

TEST(ToolParse, StdinGivesOneJsonLinePerName) {
    run_options options;
    options.input = "Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv\n"
                    "Shows/The Office (US)/Season 2/The.Office.US.S02E05.720p.HDTV.x264-GRP.mkv\r\n"
                    "\n"
                    "just some words";  // no final newline
    const outcome o = run_tool({"parse", "-"}, options);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = lines_of(o.out);
    ASSERT_EQ(lines.size(), 4u) << o.out;

    json_doc film(lines[0]);
    ASSERT_NE(film.doc, nullptr) << lines[0];
    EXPECT_STREQ(yyjson_get_str(film.get("kind")), "movie");
    EXPECT_STREQ(yyjson_get_str(film.get("title")), "Dark City");
    EXPECT_EQ(yyjson_get_int(film.get("year")), 1998);
    EXPECT_STREQ(yyjson_get_str(film.get("edition")), "Director's Cut");
    EXPECT_STREQ(yyjson_get_str(film.get("screen_size")), "1080p");
    EXPECT_STREQ(yyjson_get_str(film.get("source")), "Blu-ray");
    EXPECT_STREQ(yyjson_get_str(film.get("video_codec")), "H.264");
    EXPECT_STREQ(yyjson_get_str(film.get("release_group")), "GRP");
    EXPECT_TRUE(yyjson_is_null(film.get("season")));
    EXPECT_EQ(yyjson_arr_size(film.get("episodes")), 0u);
    EXPECT_TRUE(yyjson_is_arr(film.get("languages")));
    EXPECT_TRUE(yyjson_is_false(film.get("is_extra")));
    // Every line has exactly the documented keys.
    const std::set<std::string> expected(std::begin(kKeys), std::end(kKeys));
    for (const auto &line : lines) {
        json_doc doc(line);
        std::set<std::string> keys;
        yyjson_obj_iter it = yyjson_obj_iter_with(doc.root());
        while (yyjson_val *key = yyjson_obj_iter_next(&it)) keys.insert(yyjson_get_str(key));
        EXPECT_EQ(keys, expected) << line;
    }

    json_doc episode(lines[1]);
    EXPECT_STREQ(yyjson_get_str(episode.get("kind")), "episode");
    EXPECT_STREQ(yyjson_get_str(episode.get("title")), "The Office");
    EXPECT_STREQ(yyjson_get_str(episode.get("country")), "US");
    EXPECT_EQ(yyjson_get_int(episode.get("season")), 2);
    EXPECT_EQ(yyjson_get_int(yyjson_arr_get(episode.get("episodes"), 0)), 5);
    EXPECT_STREQ(yyjson_get_str(episode.get("input")),
                 "Shows/The Office (US)/Season 2/The.Office.US.S02E05.720p.HDTV.x264-GRP.mkv");  // no "\r"

    json_doc empty(lines[2]);
    EXPECT_STREQ(yyjson_get_str(empty.get("input")), "");
    json_doc words(lines[3]);
    EXPECT_STREQ(yyjson_get_str(words.get("kind")), "movie");
    EXPECT_STREQ(yyjson_get_str(words.get("title")), "just some words");
}

TEST(ToolParse, BytesThatAreNotTextStillGiveValidJson) {
    run_options options;
    options.input = std::string("Bad\xff\xfe.Name\x01\x1b[31m.2010.mkv\n", 25);
    const outcome o = run_tool({"parse", "-"}, options);
    ASSERT_EQ(o.status, 0) << o.err;
    json_doc doc(o.out);
    ASSERT_NE(doc.doc, nullptr) << o.out;
    EXPECT_EQ(yyjson_get_int(doc.get("year")), 2010);
    EXPECT_TRUE(contains(yyjson_get_str(doc.get("input")), "\xEF\xBF\xBD")) << o.out;
    EXPECT_FALSE(contains(o.out, "\x1b")) << o.out;
}

TEST(ToolParse, FormatsFollowWhereOutputGoes) {
    const std::string name = "Heat.1995.1080p.BluRay.x264-GRP.mkv";
    // Names on the command line, piped: tab-separated rows.
    const outcome rows = run_tool({"parse", name, "Show.S01E02.mkv"});
    ASSERT_EQ(rows.status, 0) << rows.err;
    const auto lines = lines_of(rows.out);
    ASSERT_EQ(lines.size(), 2u) << rows.out;
    EXPECT_EQ(lines[0].rfind(name + "\tmovie\tHeat\t1995\t", 0), 0u) << lines[0];  // the input first
    EXPECT_EQ(lines[1].rfind("Show.S01E02.mkv\tepisode\tShow\t\t\t1\t1\t2\t", 0), 0u) << lines[1];  // no year, no range
    // --json anywhere: JSON Lines.
    const outcome json = run_tool({"parse", name, "--json"});
    EXPECT_EQ(yyjson_get_int(json_doc(json.out).get("year")), 1995) << json.out;
    // On a terminal: the table, stdin or not.
    run_options terminal;
    terminal.out = stdout_to::terminal;
    terminal.columns = 200;
    const outcome table = run_tool({"parse", name}, terminal);
    EXPECT_TRUE(contains(table.out, "kind")) << table.out;
    EXPECT_TRUE(contains(table.out, name)) << table.out;
    EXPECT_TRUE(contains(table.out, "Heat")) << table.out;
    EXPECT_EQ(json_doc(table.out).doc, nullptr);
}

TEST(ToolParse, AnOverlongLineIsCutAndTheNextOneIsRead) {
    run_options options;
    options.input = std::string(10 << 20, 'x') + "\nHeat.1995.mkv\n";
    const outcome o = run_tool({"parse", "-"}, options);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = lines_of(o.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LT(lines[0].size(), 200000u);
    EXPECT_TRUE(contains(o.err, "oxmeta: warning: line 1 is longer than 64 KiB; only its first 64 KiB are read")) << o.err;
    EXPECT_EQ(yyjson_get_int(json_doc(lines[1]).get("year")), 1995) << lines[1];
}

// Reads one line from fd, waiting at most five seconds.
std::string read_line(int fd) {
    std::string line;
    char c;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return line + "<timed out>";
        if (read(fd, &c, 1) != 1) return line + "<closed>";
        if (c == '\n') return line;
        line += c;
    }
}

TEST(ToolParse, EachAnswerComesAsSoonAsItsNameIsRead) {
    // A host that feeds names one at a time through pipes, waiting for each answer.
    int to_tool[2], from_tool[2];
    ASSERT_EQ(pipe(to_tool), 0);
    ASSERT_EQ(pipe(from_tool), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_tool[0], 0);
        dup2(from_tool[1], 1);
        close(to_tool[1]);
        close(from_tool[0]);
        execl(OXMETA_TOOL_PATH, OXMETA_TOOL_PATH, "parse", "-", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(to_tool[0]);
    close(from_tool[1]);
    for (const char *name : {"Heat.1995.mkv\n", "Alien.1979.mkv\n", "Show.S03E04.mkv\n"}) {
        ASSERT_EQ(write(to_tool[1], name, strlen(name)), static_cast<ssize_t>(strlen(name)));
        const std::string answer = read_line(from_tool[0]);
        json_doc doc(answer);
        ASSERT_NE(doc.doc, nullptr) << answer;
        EXPECT_EQ(std::string(yyjson_get_str(doc.get("input"))) + "\n", name);
    }
    close(to_tool[1]);
    EXPECT_EQ(read_line(from_tool[0]), "<closed>");
    close(from_tool[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace tool_test
