// The tool's command line as people meet it: usage errors worded for them,
// options anywhere, every example in the help pages and the README run,
// completion scripts, the man page, the config file, and the installed
// tool run from PATH.
#include <sys/stat.h>

#include <regex>
#include <set>

#include "harness.h"

namespace tool_test {
namespace {

TEST(ToolCli, UsageErrorsSayWhatWasWrong) {
    struct usage_case {
        std::vector<std::string> args;
        std::string message;
    };
    const usage_case cases[] = {
        {{}, "oxmeta: 'oxmeta' needs a command: tmdb, omdb, itunes, parse, match, scan, cache, organize, completion"},
        {{"tmdb"}, "oxmeta: 'oxmeta tmdb' needs a command: search, search-movie, search-tv, episode, season, movie, discover-movie"},
        {{"tmdb", "search"}, "oxmeta: query is required"},
        {{"tmdb", "search", ""}, "oxmeta: query must not be empty"},
        {{"omdb", "title", ""}, "oxmeta: title must not be empty"},
        {{"tmdb", "search", "x", "--page", "0"}, "oxmeta: --page must be a positive whole number (not '0')"},
        {{"tmdb", "tv", "0"}, "oxmeta: tmdb_id must be a positive whole number (not '0')"},
        {{"tmdb", "tv", "abc"}, "oxmeta: tmdb_id must be a positive whole number (not 'abc')"},
        {{"itunes", "lookup", "0"}, "oxmeta: id must be a positive whole number (not '0')"},
        {{"itunes", "search", "x", "--limit", "201"}, "oxmeta: --limit must be a whole number from 1 to 200 (not '201')"},
        {{"omdb", "season", "tt1", "zero"}, "oxmeta: season must be a positive whole number (not 'zero')"},
        {{"nosuch"}, "oxmeta: unknown command 'nosuch' for 'oxmeta'"},
        {{"films"}, "oxmeta: unknown command 'films' for 'oxmeta'"},
        {{"tmdb", "seach", "x"}, "oxmeta: unknown command 'seach' for 'oxmeta tmdb' (did you mean 'search'?)"},
        {{"itunes", "lokup", "1"}, "(did you mean 'lookup'?)"},
        {{"--offline", "tmdb", "search", "x", "--jsn"}, "oxmeta: unknown option '--jsn' for 'oxmeta tmdb search' (did you mean '--json'?)"},
        {{"tmdb", "search", "x", "y"}, "oxmeta: unexpected argument 'y' for 'oxmeta tmdb search'"},
        {{"--offline", "--replay", "/tmp", "tmdb", "search", "x"}, "oxmeta: --replay excludes --offline"},
        {{"--offline", "--record", "/tmp/r", "tmdb", "search", "x"}, "oxmeta: --record excludes --offline"},
        {{"--base-url", "ftp://h", "tmdb", "search", "x"}, "oxmeta: --base-url must be an http:// or https:// address"},
        {{"--base-url", "localhost:8080", "tmdb", "search", "x"}, "oxmeta: --base-url must be an http"},
        {{"--max-reply-size", "lots", "tmdb", "search", "x"}, "oxmeta: --max-reply-size must be a size such as"},
        {{"--format", "xml", "tmdb", "search", "x"}, "oxmeta: --format"},
        {{"completion", "tcsh"}, "oxmeta: shell"},
        {{"tmdb", "search", "x"}, "oxmeta: no TMDb key: set TMDB_API_KEY, pass --tmdb-key or put it in "},
        {{"omdb", "id", "tt1"}, "oxmeta: no OMDb key: set OMDB_API_KEY, pass --omdb-key"},
        {{"--offline", "scan", "--rate", "nan", "/tmp"}, "oxmeta: --rate must be a number from 0.01 to 1000 (not 'nan')"},
        {{"--offline", "scan", "--rate", "inf", "/tmp"}, "oxmeta: --rate must be a number"},
        {{"--offline", "scan", "--ext", ",", "/tmp"}, "oxmeta: --ext must list at least one extension"},
        {{"--offline", "match", ""}, "oxmeta: path must not be empty"},
        {{"cache", "stat"}, "(did you mean 'stats'?)"},
        {{"tmdb", "image", "/x.jpg", "--size", "bogus"}, "oxmeta: --size must be w45, w92, "},
        {{"tmdb", "image", "/x.jpg", "--size", "w50"}, "(did you mean 'w500'?)"},
    };
    for (const auto &c : cases) {
        const outcome o = run_tool(c.args);
        EXPECT_EQ(o.status, 2) << testing::PrintToString(c.args) << o.err;
        EXPECT_TRUE(contains(o.err, c.message)) << testing::PrintToString(c.args) << "\n" << o.err;
        EXPECT_FALSE(contains(o.err, "179769")) << o.err;
        EXPECT_EQ(o.out, "") << o.out;
    }
}

TEST(ToolCli, SmallThingsSaidRight) {
    // A record of ids alone has no rating.
    const outcome ids = run_tool({"--offline", "tmdb", "external-ids", "78", "--format", "tsv"});
    ASSERT_EQ(ids.status, 0) << ids.err;
    EXPECT_EQ(ids.out, "0\tmovie\t78\ttt0083658\t\t\t\t\t\t\n");
    // A member that is no text is shown as its JSON.
    const outcome ratings = run_tool({"--offline", "omdb", "field", "tt0083658", "Ratings"});
    ASSERT_EQ(ratings.status, 0) << ratings.err;
    EXPECT_EQ(ratings.out.rfind("[{\"Source\":", 0), 0u) << ratings.out;
    // match - reads paths from stdin, as parse - does.
    run_options piped;
    piped.input = "Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv\n\nDoctor.Who.2005.S01E01.Rose.720p.mkv\n";
    const outcome matched = run_tool({"--offline", "--json", "match", "-"}, piped);
    const auto lines = lines_of(matched.out);
    ASSERT_EQ(lines.size(), 2u) << matched.out << matched.err;
    EXPECT_STREQ(yyjson_get_str(json_doc(lines[0]).get("input")), "Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv");
    EXPECT_STREQ(yyjson_get_str(json_doc(lines[1]).get("status")), "matched") << lines[1];
}

TEST(ToolCli, OptionsAreTakenAnywhere) {
    const outcome before = run_tool({"--offline", "--json", "tmdb", "search", "blade runner"});
    const outcome middle = run_tool({"tmdb", "--offline", "search", "--json", "blade runner"});
    const outcome after = run_tool({"tmdb", "search", "blade runner", "--json", "--offline"});
    EXPECT_EQ(before.status, 0) << before.err;
    EXPECT_EQ(middle.out, before.out) << middle.err;
    EXPECT_EQ(after.out, before.out) << after.err;
}

// The subcommand paths below path, read from the help pages.
void collect_commands(const std::vector<std::string> &path, std::vector<std::vector<std::string>> &out) {
    std::vector<std::string> args = path;
    args.push_back("--help");
    const outcome help = run_tool(args);
    ASSERT_EQ(help.status, 0) << help.err;
    out.push_back(path);
    bool in_list = false;
    for (const std::string &line : lines_of(help.out)) {
        if (line == "Subcommands:") {
            in_list = true;
            continue;
        }
        if (in_list && line.empty()) break;
        std::smatch m;
        if (in_list && std::regex_match(line, m, std::regex(R"(  ([a-z-]+) .*)"))) {
            std::vector<std::string> sub = path;
            sub.push_back(m[1]);
            collect_commands(sub, out);
        }
    }
}

std::vector<std::vector<std::string>> all_commands() {
    std::vector<std::vector<std::string>> commands;
    collect_commands({}, commands);
    return commands;
}

// The examples a help page ends with.
std::vector<std::string> examples_of(const std::string &help) {
    std::vector<std::string> examples;
    for (const std::string &line : lines_of(help))
        if (line.rfind("Example: ", 0) == 0) examples.push_back(line.substr(9));
    return examples;
}

// Runs a command line as printed, with the tool first on PATH and a home of
// its own, in that home or (for the README's, which may run the project's
// scripts) in the project's folder.
outcome run_example(const std::string &example, bool in_project = false) {
    const fs::path home = scratch_dir("home");
    run_options options;
    options.env["HOME"] = home.string();
    options.cwd = in_project ? fs::path(OXMETA_README).parent_path().string() : home.string();
    outcome o = run_shell("set -o pipefail; " + example, options);
    fs::remove_all(home);
    return o;
}

TEST(ToolCli, EveryHelpPageHasAnExampleThatRuns) {
    const auto commands = all_commands();
    EXPECT_GE(commands.size(), 21u);
    std::set<std::string> seen;
    for (const auto &path : commands) {
        std::vector<std::string> args = path;
        args.push_back("--help");
        const auto examples = examples_of(run_tool(args).out);
        ASSERT_EQ(examples.size(), 1u) << testing::PrintToString(path);
        const std::string &example = examples.front();
        // A page's example uses that page's command.
        std::string command = "oxmeta";
        for (const auto &word : path) command += " " + word;
        if (!path.empty()) {
            std::string shown = example;
            shown = std::regex_replace(shown, std::regex(" --offline"), "");
            EXPECT_TRUE(contains(shown + " ", command + " ")) << example << " on the page of " << command;
        }
        if (!seen.insert(example).second) continue;
        const outcome o = run_example(example);
        EXPECT_EQ(o.status, 0) << example << "\n" << o.err;
        if (example.rfind("oxmeta ", 0) == 0) {
            EXPECT_NE(o.out, "") << example;
        }
    }
}

TEST(ToolCli, EveryReadmeExampleRuns) {
    // Indented lines that run the tool, or the main job's script (the tool it builds).
    int examples = 0;
    for (const std::string &line : lines_of(slurp(OXMETA_README))) {
        std::smatch m;
        if (!std::regex_match(line, m, std::regex(R"( {4}((?:bash scripts/oxmeta\.sh|oxmeta|source <\(oxmeta|echo .*\| oxmeta) .*))")))
            continue;
        const std::string example = std::regex_replace(m[1].str(), std::regex("^bash scripts/oxmeta\\.sh"), "oxmeta");
        ++examples;
        const outcome o = run_example(example, example.find("scripts/") != std::string::npos);
        EXPECT_EQ(o.status, 0) << example << "\n" << o.err;
    }
    EXPECT_GE(examples, 7);
}

TEST(ToolCli, CompletionNamesEveryCommandAndOption) {
    const auto commands = all_commands();
    std::set<std::string> words;
    for (const auto &path : commands) {
        if (!path.empty()) words.insert(path.back());
        std::vector<std::string> args = path;
        args.push_back("--help");
        for (const std::string &line : lines_of(run_tool(args).out)) {
            std::smatch m;
            if (std::regex_search(line, m, std::regex(R"(^\s+(?:-\w,)?--([a-z-]+))"))) words.insert(m[1]);
        }
    }
    EXPECT_GE(words.size(), 35u);
    for (const char *shell : {"bash", "zsh", "fish"}) {
        const outcome o = run_tool({"completion", shell});
        ASSERT_EQ(o.status, 0) << o.err;
        for (const std::string &w : words) EXPECT_TRUE(std::regex_search(o.out, std::regex("[ -]" + w + "\\b"))) << shell << ": " << w;
    }
    // The bash script completes as bash runs it.
    const outcome completes = run_shell(
        "source <(oxmeta completion bash); COMP_WORDS=(oxmeta tmdb search-); COMP_CWORD=2; _oxmeta; echo \"${COMPREPLY[@]}\"");
    EXPECT_EQ(completes.out, "search-movie search-tv\n") << completes.err;
    const outcome options = run_shell(
        "source <(oxmeta completion bash); COMP_WORDS=(oxmeta itunes search --li); COMP_CWORD=3; _oxmeta; echo \"${COMPREPLY[@]}\"");
    EXPECT_EQ(options.out, "--limit\n") << options.err;
}

TEST(ToolCli, TheManPageIsMadeFromTheHelp) {
    const std::string page = slurp(OXMETA_MAN_PAGE);
    ASSERT_FALSE(page.empty()) << OXMETA_MAN_PAGE;
    for (const char *part : {".TH OXMETA \"1\"", "\\-\\-max\\-reply\\-size", ".SH FILES", "config.toml", ".SH EXAMPLES"})
        EXPECT_TRUE(contains(page, part)) << part;
}

TEST(ToolCli, TheConfigFileGivesDefaultsAndIsCheckedWhenRead) {
    const fs::path home = scratch_dir("config");
    const fs::path file = home / "oxmeta" / "config.toml";
    run_options options;
    options.env["XDG_CONFIG_HOME"] = home.string();
    struct config_case {
        std::string text;
        int status;
        std::string in_err;
    };
    const config_case cases[] = {
        {"format = \"json\"\n", 0, ""},
        {"format = \"xml\"\n", 2, "format must be \"table\", \"tsv\" or \"json\""},
        {"retries = 99\n", 2, "retries must be a whole number from 0 to 10"},
        {"timeout = \"soon\"\n", 2, "timeout must be a whole number"},
        {"colour = true\n", 0, "warning: " + file.string() + ": unknown key 'colour'"},
        {"format = \n", 2, file.string() + ": line 1"},
    };
    for (const auto &c : cases) {
        write_file(file, c.text);
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        const outcome o = run_tool({"--offline", "tmdb", "search", "blade runner"}, options);
        EXPECT_EQ(o.status, c.status) << c.text << o.err;
        EXPECT_TRUE(contains(o.err, c.in_err)) << c.text << o.err;
        if (c.status == 0 && c.in_err.empty()) {
            EXPECT_NE(json_doc(o.out).doc, nullptr) << o.out;
        }
    }
    // The command line wins over the file.
    write_file(file, "format = \"json\"\n");
    EXPECT_EQ(run_tool({"--offline", "--format", "tsv", "tmdb", "find", "tt0083658"}, options).out.rfind("0\t", 0), 0u);
    // A key in a file others can read.
    write_file(file, "tmdb_key = \"k\"\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const outcome shared = run_tool({"--offline", "tmdb", "find", "tt0083658"}, options);
    EXPECT_EQ(shared.status, 0) << shared.err;
    EXPECT_TRUE(contains(shared.err, "holds an API key and other users can read it (chmod 600 ")) << shared.err;
    // A file named on the command line must exist.
    const outcome missing = run_tool({"--config", (home / "none.toml").string(), "--offline", "tmdb", "find", "x"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, "cannot read the config file")) << missing.err;
    fs::remove_all(home);
}

TEST(ToolCli, TheInstalledToolAnswersFromItsInstalledRecordings) {
    const fs::path prefix = scratch_dir("prefix");
    const outcome installed = run_shell("cmake --install '" OXMETA_BUILD_ROOT "' --prefix '" + prefix.string() +
                                        "' > /dev/null");
    ASSERT_EQ(installed.status, 0) << installed.err;
    // The installed recordings, not the source tree's, which is still there.
    const fs::path find = prefix / "share" / "oxmeta" / "recordings" / "tmdb-find-tt0083658.json";
    std::string text = slurp(find);
    ASSERT_TRUE(contains(text, "\"Blade Runner\"")) << text;
    text.replace(text.find("\"Blade Runner\""), 14, "\"Installed Copy\"");
    write_file(find, text);
    run_options options;
    options.program = "oxmeta";
    options.env["PATH"] = (prefix / "bin").string() + ":/usr/bin:/bin";
    const outcome o = run_tool({"--offline", "tmdb", "find", "tt0083658"}, options);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.out, "Installed Copy")) << o.out;
    // Matching a file, and scanning a folder of one, from the installed recordings.
    const outcome match =
        run_tool({"--offline", "--json", "match", "Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv"}, options);
    EXPECT_EQ(match.status, 0) << match.err;
    EXPECT_TRUE(contains(match.out, R"("pick":{"id":78,)")) << match.out;
    const fs::path films = prefix / "Films";
    fs::create_directories(films);
    write_file(films / "Doctor.Who.2005.S01E01.Rose.720p.mkv", "");
    const outcome scan = run_tool({"--offline", "scan", films.string()}, options);
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_TRUE(contains(scan.out, "\tmatched\t57243\tDoctor Who\t2005\t")) << scan.out;
    EXPECT_TRUE(fs::exists(prefix / "share" / "man" / "man1" / "oxmeta.1"));
    fs::remove_all(prefix);
}

}  // namespace
}  // namespace tool_test
