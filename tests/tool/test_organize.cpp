// `oxmeta organize --dry-run`: the plan of a library from the shipped
// recordings, the names it makes, the conflicts it finds, and that a dry
// run touches nothing.
#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

namespace tool_test {
namespace {

class OrganizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = scratch_dir("organize");
        src = root / "src";
        lib = root / "lib";
        for (const char *path : {"Movies/Blade Runner (1982)/Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv",
                                 "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv",
                                 "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.en.srt",
                                 "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.forced.fr.srt",
                                 "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.jpg",
                                 "TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E01.Rose.720p.mkv",
                                 "TV/Doctor Who (2005)/Season 02/Doctor.Who.2005.S02E01.New.Earth.720p.mkv",
                                 "Misc/Zorblax.Unknown.1911.mkv"})
            touch(src / path);
    }
    void TearDown() override { fs::remove_all(root); }

    static void touch(const fs::path &path) {
        fs::create_directories(path.parent_path());
        write_file(path, path.filename().string());
    }
    // Every path under root with its content, to show nothing moved.
    std::vector<std::string> listing() const {
        std::vector<std::string> all;
        for (const auto &e : fs::recursive_directory_iterator(root))
            all.push_back(e.path().string() + (e.is_regular_file() ? "=" + slurp(e.path()) : "/"));
        std::sort(all.begin(), all.end());
        return all;
    }
    outcome organize(std::vector<std::string> extra) {
        std::vector<std::string> args = {"--offline", "organize", "--dry-run", src.string(), "--to", lib.string(),
                                         "--format", "tsv", "-q"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool(args);
    }
    // The destination planned for the source at relative path, or "".
    static std::string planned(const outcome &r, const fs::path &source) {
        for (const std::string &line : lines_of(r.out))
            if (line.rfind("move\t" + source.string() + "\t", 0) == 0) return line.substr(line.rfind('\t') + 1);
        return "";
    }

    fs::path root, src, lib;
};

TEST_F(OrganizeTest, LayoutsNameFilmsEpisodesAndSidecars) {
    struct layout_case {
        const char *layout;
        const char *film;
        const char *episode;
    };
    const layout_case cases[] = {
        {"jellyfin", "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091]",
         "Doctor Who (2005) [tmdbid-57243]/Season 01/Doctor Who S01E01 - Rose.mkv"},
        {"plex", "The Thing (1982) {tmdb-1091}/The Thing (1982) {tmdb-1091}",
         "Doctor Who (2005) {tmdb-57243}/Season 01/Doctor Who (2005) - s01e01 - Rose.mkv"},
        {"kodi", "The Thing (1982)/The Thing (1982)", "Doctor Who (2005)/Season 01/Doctor Who (2005) - s01e01 - Rose.mkv"},
    };
    const fs::path thing = src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP";
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.layout);
        const outcome r = organize({"--layout", c.layout});
        EXPECT_EQ(r.status, 1) << r.err;  // the unknown film had no reply
        const std::string film = (lib / c.film).string();
        EXPECT_EQ(planned(r, thing.string() + ".mkv"), film + ".mkv");
        EXPECT_EQ(planned(r, thing.string() + ".en.srt"), film + ".en.srt");
        EXPECT_EQ(planned(r, thing.string() + ".forced.fr.srt"), film + ".forced.fr.srt");
        EXPECT_EQ(planned(r, thing.string() + ".jpg"), film + ".jpg");
        EXPECT_EQ(planned(r, src / "TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E01.Rose.720p.mkv"),
                  (lib / c.episode).string());
        EXPECT_TRUE(contains(r.out, "leave\t" + (src / "Misc/Zorblax.Unknown.1911.mkv").string() + "\tfailed"));  // no recording
    }
}

TEST_F(OrganizeTest, DryRunTouchesNothingAndJsonGivesThePlan) {
    const std::vector<std::string> before = listing();
    const outcome r = organize({"--json"});
    EXPECT_EQ(listing(), before);
    EXPECT_FALSE(fs::exists(lib));
    size_t moves = 0;
    for (const std::string &line : lines_of(r.out)) {
        json_doc doc(line);
        ASSERT_NE(doc.doc, nullptr) << line;
        moves += std::string(yyjson_get_str(doc.get("action"))) == "move";
    }
    EXPECT_EQ(moves, 7u);  // three films, two episodes, three sidecars... less the unknown film
}

TEST_F(OrganizeTest, TemplatesAreMadeLegalAndShortEnough) {
    std::string long_text;
    for (int i = 0; i < 200; ++i) long_text += "\xC3\xA9";  // é: 400 bytes
    struct template_case {
        std::string text;
        std::string film;  // the planned path of The Thing, under the library
    };
    const template_case cases[] = {
        {"{title}: {year}/{title}.{ext}", "The Thing - 1982/The Thing.mkv"},
        {"CON/{title}/nul.{ext}", "CON_/The Thing/nul_.mkv"},
        {"{title}?*|<>\"./{title}. .{ext}", "The Thing/The Thing.mkv"},
    };
    const fs::path thing = src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP";
    for (const template_case &c : cases) {
        SCOPED_TRACE(c.text);
        const outcome r = organize({"--template", c.text});
        EXPECT_EQ(planned(r, thing.string() + ".mkv"), (lib / c.film).string()) << r.err;
    }
    // Each component at most 255 bytes with its longest sidecar suffix,
    // cut between characters.
    const outcome r = organize({"--template", long_text + "/" + long_text + " {title}.{ext}"});
    const std::string film = planned(r, thing.string() + ".mkv");
    const std::string sidecar = planned(r, thing.string() + ".forced.fr.srt");
    ASSERT_FALSE(film.empty()) << r.err;
    for (const std::string &path : {film, sidecar}) {
        for (const auto &part : fs::path(path).lexically_relative(lib)) {
            EXPECT_LE(part.string().size(), 255u) << part;
            json_doc utf8("\"" + part.string() + "\"");
            EXPECT_NE(utf8.doc, nullptr) << "not UTF-8: " << part;
        }
    }
    EXPECT_GE(fs::path(sidecar).filename().string().size(), 254u);  // é is two bytes
}

TEST_F(OrganizeTest, ConflictsAreFoundBeforeAnythingMoves) {
    // A destination that exists: that film and its sidecars are left.
    touch(lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv");
    const fs::path thing = src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP";
    outcome r = organize({});
    EXPECT_EQ(planned(r, thing.string() + ".mkv"), "");
    EXPECT_EQ(planned(r, thing.string() + ".en.srt"), "");
    EXPECT_TRUE(contains(r.out, "leave\t" + thing.string() + ".mkv\tfailed: the destination exists")) << r.out;
    r = organize({"--conflict", "skip"});
    EXPECT_TRUE(contains(r.out, "leave\t" + thing.string() + ".mkv\tskipped: the destination exists")) << r.out;

    // Two files to one name: both left.
    touch(src / "More/The.Thing.1982.720p.mkv");
    r = organize({});
    EXPECT_EQ(planned(r, src / "More/The.Thing.1982.720p.mkv"), "");
    EXPECT_TRUE(contains(r.out, "another file would take the same name")) << r.out;

    // A library inside a source is refused.
    r = run_tool({"--offline", "organize", "--dry-run", src.string(), "--to", (src / "lib").string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "inside the source")) << r.err;

    // A template without the extension, and an unknown token.
    for (const char *bad : {"{title}", "{title}/{name}.{ext}"}) {
        r = organize({"--template", bad});
        EXPECT_EQ(r.status, 2) << bad;
    }
}

TEST_F(OrganizeTest, WithoutDryRunNothingIsDoneYet) {
    const std::vector<std::string> before = listing();
    const outcome r = run_tool({"--offline", "organize", src.string(), "--to", lib.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(listing(), before);
}

}  // namespace
}  // namespace tool_test
