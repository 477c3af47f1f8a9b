// `oxmeta organize --dry-run`: the plan of a library from the shipped
// recordings, the names it makes, the conflicts it finds, and that a dry
// run touches nothing.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "../match/replies.h"
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

    // A file reached through a link to a folder outside the sources is left.
    touch(root / "outside/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv");
    fs::create_directory_symlink(root / "outside", src / "Linked");
    r = organize({});
    EXPECT_TRUE(contains(r.out, "leave\t" + (src / "Linked/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv").string() +
                                    "\treached through a link to a folder outside the sources"))
        << r.out;

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

}  // namespace
}  // namespace tool_test

// ------------------------------------------------------------------ applying

namespace tool_test {
namespace {

// A small library with known contents, organized for real: every file's
// content is found at exactly one path after each run, resume and undo.
class OrganizeApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = scratch_dir("organize-apply");
        src = root / "src";
        lib = root / "lib";
        state = root / "state";
        const char *const files[] = {
            "Movies/Blade Runner (1982)/Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv",
            "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv",
            "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.en.srt",
            "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.forced.fr.srt",
            "TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E01.Rose.720p.mkv",
            "TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv",
            "TV/Doctor Who (2005)/Season 02/Doctor.Who.2005.S02E01.New.Earth.720p.mkv",
            "TV/Doctor Who (2005)/Season 02/Doctor.Who.2005.S02E01.New.Earth.720p.en.srt",
        };
        for (const char *f : files) add(src / f, std::string("content of ") + f + std::string(static_cast<size_t>(std::string(f).size() * 37 % 5000), 'x'));
        // A destination that exists: kept as it is, its film left.
        add(lib / "Blade Runner (1982) [tmdbid-78]/Blade Runner (1982) [tmdbid-78].mkv", "already in the library");
    }
    void TearDown() override { fs::remove_all(root); }

    void add(const fs::path &path, const std::string &content) {
        fs::create_directories(path.parent_path());
        write_file(path, content);
        inputs.emplace_back(path, content);
    }
    outcome tool(std::vector<std::string> args, std::map<std::string, std::optional<std::string>> env = {}) {
        run_options options;
        options.env = std::move(env);
        options.env["XDG_STATE_HOME"] = state.string();
        return run_tool(args, options);
    }
    outcome organize(std::map<std::string, std::optional<std::string>> env = {}, const std::string &action = "move") {
        return tool({"--offline", "organize", src.string(), "--to", lib.string(), "--format", "tsv", "-q", "--action", action},
                    std::move(env));
    }
    // Each input's content at exactly one path, and no partial copy left.
    void expect_each_once(const std::string &when) {
        std::map<std::string, std::vector<std::string>> where;
        for (const fs::path &top : {src, lib}) {
            if (!fs::exists(top)) continue;
            for (const auto &e : fs::recursive_directory_iterator(top)) {
                if (!e.is_regular_file()) continue;
                EXPECT_FALSE(contains(e.path().filename().string(), ".oxmeta-partial")) << when << ": " << e.path();
                where[slurp(e.path())].push_back(e.path().string());
            }
        }
        for (const auto &[path, content] : inputs)
            EXPECT_EQ(where[content].size(), 1u) << when << ": " << path << " found " << where[content].size() << " times";
    }
    // With an action that leaves the sources: each source as it was, each
    // file in the library a whole copy of one of them (or a link to one),
    // and no partial copy left (but right after a kill).
    void expect_sources_and_whole_copies(const std::string &when, bool killed = false) {
        std::map<std::string, int> contents;
        for (const auto &[path, content] : inputs) contents[content] = 0;
        if (fs::exists(lib)) {
            for (const auto &e : fs::recursive_directory_iterator(lib)) {
                if (e.is_directory()) continue;
                const bool partial = contains(e.path().filename().string(), ".oxmeta-partial");
                EXPECT_TRUE(!partial || killed) << when << ": " << e.path();
                if (partial) continue;
                EXPECT_TRUE(contents.count(slurp(e.path()))) << when << ": not a whole copy: " << e.path();
            }
        }
        expect_all_back(when);
    }
    void expect_all_back(const std::string &when) {
        for (const auto &[path, content] : inputs) {
            ASSERT_TRUE(fs::exists(path)) << when << ": " << path;
            EXPECT_EQ(slurp(path), content) << when << ": " << path;
        }
    }

    fs::path root, src, lib, state;
    std::vector<std::pair<fs::path, std::string>> inputs;
};

TEST_F(OrganizeApplyTest, MovesTheFilesAndUndoPutsThemBack) {
    write_file(src / "TV/Doctor Who (2005)/Season 01/Thumbs.db", "clutter");
    write_file(src / "TV/.DS_Store", "clutter");
    write_file(src / "Movies/keep.txt", "not clutter");
    const auto before = fs::last_write_time(src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv");
    const outcome dry = tool({"--offline", "organize", "--dry-run", src.string(), "--to", lib.string(), "--format", "tsv", "-q"});
    outcome r = organize();
    EXPECT_EQ(r.status, 1) << r.err;  // Blade Runner's destination exists
    // The real run prints the plan of the dry run, then what it did.
    EXPECT_EQ(r.out.substr(0, dry.out.size()), dry.out);
    EXPECT_TRUE(contains(r.out, "moved\t" + (src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv").string())) << r.out;
    const fs::path thing = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv";
    ASSERT_TRUE(fs::exists(thing));
    EXPECT_EQ(fs::last_write_time(thing), before);
    EXPECT_TRUE(fs::exists(lib / "Doctor Who (2005) [tmdbid-57243]/Season 02/Doctor Who S02E01 - New Earth.en.srt"));
    EXPECT_EQ(slurp(lib / "Blade Runner (1982) [tmdbid-78]/Blade Runner (1982) [tmdbid-78].mkv"), "already in the library");
    expect_each_once("after the run");

    // Folders emptied are removed, with their clutter, below the source only.
    EXPECT_FALSE(fs::exists(src / "TV/Doctor Who (2005)/Season 02"));
    EXPECT_FALSE(fs::exists(src / "TV"));
    EXPECT_TRUE(fs::exists(src / "Movies/Blade Runner (1982)"));  // its film stayed
    EXPECT_TRUE(fs::exists(src / "Movies/keep.txt"));
    EXPECT_TRUE(fs::is_directory(src));

    r = tool({"organize", "undo"});
    EXPECT_EQ(r.status, 0) << r.err;
    expect_all_back("after undo");
}

TEST_F(OrganizeApplyTest, LinksAreMovedAsLinksNeverFollowed) {
    write_file(root / "notes.nfo", "the target");
    const fs::path movies = src / "Movies";
    fs::create_symlink(root / "notes.nfo", movies / "The.Thing.1982.1080p.BluRay.x264-GRP.nfo");
    fs::create_symlink("../notes.nfo", movies / "The.Thing.1982.1080p.BluRay.x264-GRP.jpg");  // relative: left
    const outcome r = organize();
    const fs::path film = lib / "The Thing (1982) [tmdbid-1091]";
    ASSERT_TRUE(fs::is_symlink(film / "The Thing (1982) [tmdbid-1091].nfo")) << r.out;
    EXPECT_EQ(fs::read_symlink(film / "The Thing (1982) [tmdbid-1091].nfo"), root / "notes.nfo");
    EXPECT_EQ(slurp(root / "notes.nfo"), "the target");
    EXPECT_TRUE(fs::is_symlink(movies / "The.Thing.1982.1080p.BluRay.x264-GRP.jpg"));
    EXPECT_FALSE(fs::exists(film / "The Thing (1982) [tmdbid-1091].jpg"));
    expect_each_once("after the run");
}

// Across devices for real: the library on /dev/shm (a tmpfs), in a folder
// of this test's own.
TEST_F(OrganizeApplyTest, AcrossDevicesFilesAreCopiedVerifiedAndTheSourcesRemoved) {
    struct stat here{}, there{};
    if (stat("/dev/shm", &there) != 0 || stat(root.c_str(), &here) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second filesystem at /dev/shm";
    char name[] = "/dev/shm/oxmeta-organize-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path other = name;
    lib = other / "lib";
    const fs::path source = src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv";
    const auto mtime = fs::last_write_time(source);
    const outcome r = organize();
    const fs::path film = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv";
    EXPECT_TRUE(contains(r.out, "copied\t" + source.string())) << r.out << r.err;
    EXPECT_FALSE(fs::exists(source));
    ASSERT_TRUE(fs::exists(film));
    EXPECT_EQ(fs::last_write_time(film), mtime);
    for (const auto &[path, content] : inputs) {
        if (path == source) {
            EXPECT_EQ(slurp(film), content);
        }
    }
    const outcome undone = tool({"organize", "undo"});
    EXPECT_EQ(undone.status, 0) << undone.err;
    for (const auto &[path, content] : inputs)
        if (path.string().rfind(src.string(), 0) == 0) {
            EXPECT_EQ(slurp(path), content) << path;
        }
    fs::remove_all(other);
}

TEST_F(OrganizeApplyTest, UndoKeepsWhatChangedOrWhoseFirstPathIsTaken) {
    ASSERT_EQ(organize().status, 1);
    const fs::path thing = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv";
    write_file(thing, "changed after the move");
    const fs::path rose = src / "TV/Doctor Who (2005)/Season 01/Doctor.Who.2005.S01E01.Rose.720p.mkv";
    write_file(rose, "a new file at the first path");
    const outcome r = tool({"organize", "undo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(slurp(thing), "changed after the move");
    EXPECT_EQ(slurp(rose), "a new file at the first path");
    EXPECT_TRUE(contains(r.out, "kept\t")) << r.out;
}

// The sources' paths and contents as they were, and the library's
// destinations after a run with an action that leaves the sources.
TEST_F(OrganizeApplyTest, CopiesAndLinksLeaveTheSourcesAndUndoRemovesOnlyWhatItMade) {
    enum class kind { copy, same_file, link_to_source };
    struct action_case {
        const char *action;
        const char *told;  // the word of each step done
        kind made;
    };
    const action_case cases[] = {
        {"copy", "copied", kind::copy},
        {"hardlink", "linked", kind::same_file},
        {"symlink", "linked", kind::link_to_source},
        {"hardlink-or-copy", "linked", kind::same_file},  // one device: never a copy
    };
    const fs::path source = src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv";
    const fs::path film = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv";
    const fs::path subtitle = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].en.srt";
    for (const action_case &c : cases) {
        SCOPED_TRACE(c.action);
        const outcome r = tool({"--offline", "organize", src.string(), "--to", lib.string(), "--format", "tsv", "--action", c.action});
        EXPECT_EQ(r.status, 1) << r.err;  // Blade Runner's destination exists
        EXPECT_TRUE(contains(r.out, std::string(c.action) + "\t" + source.string() + "\t" + film.string() + "\n")) << r.out;
        EXPECT_TRUE(contains(r.out, std::string(c.told) + "\t" + source.string() + "\t")) << r.out;
        expect_all_back("after the run");  // every source where it was
        ASSERT_TRUE(fs::exists(film));
        EXPECT_EQ(slurp(film), slurp(source));
        EXPECT_EQ(slurp(subtitle), slurp(src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.en.srt"));
        switch (c.made) {
            case kind::copy:
                EXPECT_FALSE(fs::equivalent(film, source));
                EXPECT_EQ(fs::last_write_time(film), fs::last_write_time(source));
                break;
            case kind::same_file:
                EXPECT_TRUE(fs::equivalent(film, source));
                break;
            case kind::link_to_source:
                ASSERT_TRUE(fs::is_symlink(film));
                EXPECT_EQ(fs::read_symlink(film), source);
                break;
        }
        const outcome undone = tool({"organize", "undo"});
        EXPECT_EQ(undone.status, 0) << undone.err;
        EXPECT_TRUE(contains(undone.err, " removed, 0 kept")) << undone.err;
        EXPECT_FALSE(fs::exists(film));
        EXPECT_FALSE(fs::is_symlink(film));
        expect_all_back("after undo");
    }

    // A copy edited since, to the same size and time, is no longer the copy
    // the run made: its hash tells, and undo keeps it.
    ASSERT_EQ(tool({"--offline", "organize", src.string(), "--to", lib.string(), "--action", "copy", "-q"}).status, 1);
    const auto made = fs::last_write_time(film);
    std::string edited = slurp(film);
    edited[0] = edited[0] == 'x' ? 'y' : 'x';
    write_file(film, edited);
    fs::last_write_time(film, made);
    outcome kept = tool({"organize", "undo", "--format", "tsv"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_TRUE(contains(kept.out, "kept\t" + film.string() + "\t" + source.string() + "\tit changed since it was made"))
        << kept.out;
    EXPECT_EQ(slurp(film), edited);
    fs::remove(film);
    expect_all_back("after the edited copy");

    // A copy whose source changed since is the only copy of what it holds:
    // undo keeps it.
    ASSERT_EQ(tool({"--offline", "organize", src.string(), "--to", lib.string(), "--action", "copy", "-q"}).status, 1);
    write_file(source, "changed after the copy");
    const outcome undone = tool({"organize", "undo", "--format", "tsv"});
    EXPECT_EQ(undone.status, 1);
    EXPECT_TRUE(contains(undone.out, "kept\t" + film.string())) << undone.out;
    EXPECT_EQ(slurp(film), inputs[1].second);
}

TEST_F(OrganizeApplyTest, ARefusedReflinkOrTooLittleRoomLeavesEverything) {
    // A filesystem that cannot share blocks refuses each clone; nothing is
    // left half made.
    const fs::path film = lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].mkv";
    outcome r = tool({"--offline", "organize", src.string(), "--to", lib.string(), "--format", "tsv", "--action", "reflink"});
    if (contains(r.out, "copied\t")) {
        EXPECT_EQ(slurp(film), inputs[1].second);  // a filesystem that can
    } else {
        EXPECT_TRUE(contains(r.out, "failed\t") && contains(r.out, "reflink")) << r.out;
        EXPECT_FALSE(fs::exists(film));
    }
    expect_all_back("after the clones");
    tool({"organize", "undo"});
    expect_all_back("after undo");
    EXPECT_FALSE(fs::exists(film));

    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    // Copies that would not fit: refused before the first one, no journal.
    const auto journals = [&] {
        return std::distance(fs::directory_iterator(state / "oxmeta"), fs::directory_iterator());
    };
    const auto journals_before = journals();
    r = tool({"--offline", "organize", src.string(), "--to", lib.string(), "--action", "copy", "-q"},
             {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAKE_FREE", "4096"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "not enough free space in " + lib.string())) << r.err;
    EXPECT_FALSE(fs::exists(film));
    EXPECT_EQ(journals(), journals_before);
    // Links take no room.
    r = tool({"--offline", "organize", src.string(), "--to", lib.string(), "--action", "hardlink", "-q"},
             {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAKE_FREE", "4096"}});
    EXPECT_TRUE(fs::equivalent(film, src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv")) << r.err;
}

TEST_F(OrganizeApplyTest, ATakenNameGetsAnIndexWithItsSidecars) {
    const fs::path folder = lib / "The Thing (1982) [tmdbid-1091]";
    add(folder / "The Thing (1982) [tmdbid-1091].mkv", "another cut, already filed");
    add(folder / "The Thing (1982) [tmdbid-1091] (2).en.srt", "a subtitle of another file");
    const outcome r = tool({"--offline", "organize", src.string(), "--to", lib.string(), "--format", "tsv", "--conflict", "index", "-q"});
    // (2) is taken by a sidecar's name: the film and its sidecars take (3).
    EXPECT_EQ(slurp(folder / "The Thing (1982) [tmdbid-1091] (3).mkv"), inputs[1].second) << r.out;
    EXPECT_EQ(slurp(folder / "The Thing (1982) [tmdbid-1091] (3).en.srt"), inputs[2].second);
    EXPECT_EQ(slurp(folder / "The Thing (1982) [tmdbid-1091] (3).forced.fr.srt"), inputs[3].second);
    // Blade Runner's taken name is indexed too.
    EXPECT_EQ(slurp(lib / "Blade Runner (1982) [tmdbid-78]/Blade Runner (1982) [tmdbid-78] (2).mkv"), inputs[0].second);
    EXPECT_EQ(r.status, 0) << r.err;
    expect_each_once("after the run");
    EXPECT_EQ(tool({"organize", "undo"}).status, 0);
    expect_all_back("after undo");
}

// Files inside the library renamed among themselves, each match's title
// another file's name: a swap (a→b, b→a) goes through a temporary name,
// a chain (c→d, d→e) in the order that frees each name first.
TEST(OrganizeRenames, ASwapAndAChainInsideTheLibrary) {
    const fs::path root = scratch_dir("organize-renames");
    const fs::path lib = root / "lib";
    const fs::path replies = root / "replies";
    const std::string api = "https://api.themoviedb.org/3/search/movie?query=";
    struct film {
        const char *file;   // under lib/In, and the title searched
        int id;
        const char *title;  // TMDb's title: the name it is filed under
    };
    const film films[] = {{"Heat", 949, "The Thing"}, {"The Thing", 1091, "Heat"}, {"Alien", 348, "Aliens"}, {"Aliens", 679, "Aliens 2"}};
    for (const film &f : films) {
        write_file(lib / "In" / (std::string(f.file) + " (1995).mkv"), std::string("the file first named ") + f.file);
        write_recording(replies, std::to_string(f.id), api + replies::escape(f.file) + "&include_adult=false&page=1&year=1995&language=en-US",
                        200, replies::search_page(false, {{f.id, f.title, f.file, "1995-06-01", 30, 4000}}));
    }
    run_options options;
    options.env["XDG_STATE_HOME"] = (root / "state").string();
    const std::vector<std::string> command = {"--replay", replies.string(), "--tmdb-key", "k", "organize", (lib / "In").string(),
                                              "--to", lib.string(), "--template", "In/{title} ({year}).{ext}", "--format", "tsv"};
    const outcome r = run_tool(command, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto in = [&](const char *name) { return slurp(lib / "In" / (std::string(name) + " (1995).mkv")); };
    EXPECT_EQ(in("The Thing"), "the file first named Heat") << r.out;
    EXPECT_EQ(in("Heat"), "the file first named The Thing");
    EXPECT_EQ(in("Aliens"), "the file first named Alien");
    EXPECT_EQ(in("Aliens 2"), "the file first named Aliens");
    EXPECT_FALSE(fs::exists(lib / "In" / "Alien (1995).mkv"));
    EXPECT_EQ(std::distance(fs::directory_iterator(lib / "In"), fs::directory_iterator()), 4);  // no temporary name left

    const outcome undone = run_tool({"organize", "undo"}, options);
    EXPECT_EQ(undone.status, 0) << undone.out << undone.err;
    for (const film &f : films) EXPECT_EQ(in(f.file), std::string("the file first named ") + f.file);

    // Killed, or a call failing, at each journalled call in turn: after
    // resume each file is at exactly one path, and undo puts all back.
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    const auto expect_each_once = [&](const std::string &when) {
        std::map<std::string, int> seen;
        for (const auto &e : fs::directory_iterator(lib / "In")) ++seen[slurp(e.path())];
        for (const film &f : films) EXPECT_EQ(seen[std::string("the file first named ") + f.file], 1) << when;
    };
    run_options counting = options;
    counting.env["LD_PRELOAD"] = OXMETA_FAULT_SHIM_PATH;
    counting.env["OXMETA_FAULT_COUNT"] = (root / "calls").string();
    ASSERT_EQ(run_tool(command, counting).status, 0);
    ASSERT_EQ(run_tool({"organize", "undo"}, options).status, 0);
    const long calls = std::stol(slurp(root / "calls"));
    for (const char *fault : {"KILL", "EIO"}) {
        for (long k = 1; k <= calls; ++k) {
            const std::string when = std::string(fault) + " at call " + std::to_string(k);
            run_options faulty = options;
            faulty.env["LD_PRELOAD"] = OXMETA_FAULT_SHIM_PATH;
            faulty.env["OXMETA_FAULT"] = fault;
            faulty.env["OXMETA_FAULT_AT"] = std::to_string(k);
            run_tool(command, faulty);
            run_tool({"organize", "--resume"}, options);
            expect_each_once(when + ", resumed");
            const outcome back = run_tool({"organize", "undo"}, options);
            EXPECT_TRUE(back.status == 0 || contains(back.err, "no run left to undo")) << when << back.err;
            for (const film &f : films) EXPECT_EQ(in(f.file), std::string("the file first named ") + f.file) << when;
            if (::testing::Test::HasFailure()) return;
        }
    }
    std::printf("fault sweep, a swap and a chain: %ld runs, each resumed and undone, 0 bytes lost or changed\n", 2 * calls);
    fs::remove_all(root);
}

TEST_F(OrganizeApplyTest, AnUnfinishedRunIsResumedBeforeAnother) {
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    // Killed at its 40th journalled call, amid the moves: a new run is
    // refused, naming the journal.
    outcome r = organize({{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT", "KILL"}, {"OXMETA_FAULT_AT", "40"}});
    ASSERT_NE(r.status, 0);
    r = organize();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "--resume")) << r.err;
    EXPECT_TRUE(contains(r.err, state.string())) << r.err;
    r = tool({"organize", "--resume"});
    EXPECT_EQ(r.status, 0) << r.err;
    expect_each_once("after resume");
    EXPECT_EQ(tool({"organize", "undo"}).status, 0);
    expect_all_back("after undo");
}

// Every journalled call in turn fails with the error (or the process is
// killed there); then --resume and undo. No byte may be lost or changed.
struct sweep_case {
    const char *action;
    const char *fault;
};

class OrganizeFaultSweep : public OrganizeApplyTest, public ::testing::WithParamInterface<sweep_case> {};

TEST_P(OrganizeFaultSweep, LosesNothing) {
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    const auto [action, fault] = GetParam();
    const bool moves = std::string(action) == "move";
    const auto expect_whole = [&](const std::string &when, bool killed = false) {
        if (moves) expect_each_once(when);
        else expect_sources_and_whole_copies(when, killed);
    };
    const fs::path count_file = root / "calls";
    outcome r = organize({{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT_COUNT", count_file.string()}}, action);
    ASSERT_EQ(r.status, 1) << r.err;
    const long calls = std::stol(slurp(count_file));
    ASSERT_GT(calls, 20);
    ASSERT_EQ(tool({"organize", "undo"}).status, 0);
    expect_all_back("before the sweep");
    int runs = 0;
    for (long k = 1; k <= calls; ++k) {
        const std::string when = std::string(action) + ", " + fault + " at call " + std::to_string(k);
        organize({{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT", fault}, {"OXMETA_FAULT_AT", std::to_string(k)}},
                 action);
        expect_whole(when, std::string(fault) == "KILL");
        const outcome resumed = tool({"organize", "--resume"});
        expect_whole(when + ", resumed");
        const outcome undone = tool({"organize", "undo"});
        // Nothing to undo when the fault came before the first step.
        EXPECT_TRUE(undone.status == 0 || contains(undone.err, "no run left to undo"))
            << when << "\n" << resumed.err << undone.err;
        expect_all_back(when + ", undone");
        if (!moves && fs::exists(lib)) {
            for (const auto &e : fs::recursive_directory_iterator(lib))
                EXPECT_TRUE(e.is_directory() || e.path().string().find("Blade Runner") != std::string::npos)
                    << when << ": left after undo: " << e.path();
        }
        ++runs;
        if (::testing::Test::HasFailure()) return;
    }
    std::printf("fault sweep, %s, %s: %d runs over %zu files, each resumed and undone, 0 bytes lost or changed\n", action,
                fault, runs, inputs.size());
}

INSTANTIATE_TEST_SUITE_P(Faults, OrganizeFaultSweep,
                         ::testing::Values(sweep_case{"move", "KILL"}, sweep_case{"move", "EXDEV"}, sweep_case{"move", "ENOSPC"},
                                           sweep_case{"move", "EIO"}, sweep_case{"move", "EACCES"}, sweep_case{"copy", "KILL"},
                                           sweep_case{"copy", "ENOSPC"}, sweep_case{"hardlink-or-copy", "EXDEV"},
                                           sweep_case{"symlink", "KILL"}));

}  // namespace
}  // namespace tool_test

// ------------------------------------------------------------------ metadata files

namespace tool_test {
namespace {

// organize --nfo against a server on 127.0.0.1 that plays TMDb for one film
// and two episodes of a show: the files written, parsed back; what is
// there left alone; undo; a run killed while it writes.
class OrganizeNfoTest : public LoopbackTest {
protected:
    static constexpr const char *kPlot = "Antarctica, 1982: a shape-shifter & <its> hosts \xE2\x80\x94 \xC2\xAB" "paranoia\xC2\xBB.";

    void SetUp() override {
        root = scratch_dir("organize-nfo");
        src = root / "src";
        lib = root / "lib";
        state = root / "state";
        for (const char *f : {"Movies/The.Thing.1982.1080p.BluRay.x264-GRP.mkv", "TV/Doctor.Who.2005.S01E01.Rose.720p.mkv",
                              "TV/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv"}) {
            fs::create_directories((src / f).parent_path());
            write_file(src / f, std::string("video ") + f);
        }
        set_handler([](const httplib::Request &req, httplib::Response &res) { answer(req, res); });
    }
    void TearDown() override {
        LoopbackTest::TearDown();
        fs::remove_all(root);
    }

    static void answer(const httplib::Request &req, httplib::Response &res) {
        const replies::item film{1091, "The Thing", "The Thing (Carpenter)", "1982-06-25", 40, 5000};
        const replies::item show{57243, "Doctor Who", "Doctor Who", "2005-03-26", 60, 900, "GB"};
        std::string body;
        if (req.path == "/3/search/movie") {
            body = replies::search_page(false, {film});
        } else if (req.path == "/3/search/tv") {
            body = replies::search_page(true, {show});
        } else if (req.path == "/3/movie/1091") {
            body = replies::detail_json(false, film);
            body.replace(body.find("A film."), 7, kPlot);
        } else if (req.path == "/3/tv/57243") {
            body = replies::tv_detail_reply(show, {{1, 2, "2005-03-26"}});
        } else if (req.path == "/3/tv/57243/season/1") {
            body = replies::season_reply(57243, 1,
                                         {{101, 1, "Rose", "2005-03-26", "Rose meets the Doctor."},
                                          {102, 2, "The End of the World", "2005-04-02", "Five billion years on."}});
        } else {
            res.status = 404;
            body = R"({"status_code":34,"status_message":"The resource you requested could not be found."})";
        }
        res.set_content(body, "application/json");
    }

    outcome organize(std::vector<std::string> extra = {}, std::map<std::string, std::optional<std::string>> env = {}) {
        std::vector<std::string> args = {"--tmdb-key", "SECRET-KEY", "organize", src.string(), "--to", lib.string(),
                                         "--nfo", "--cache", (root / "cache.sqlite3").string(), "--format", "tsv", "-q"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args, with_state(std::move(env)));
    }
    outcome tool(std::vector<std::string> args) { return run(std::move(args), with_state({})); }
    run_options with_state(std::map<std::string, std::optional<std::string>> env) const {
        run_options options;
        options.env = std::move(env);
        options.env["XDG_STATE_HOME"] = state.string();
        return options;
    }

    // The library's files, with their contents.
    std::map<std::string, std::string> library() const {
        std::map<std::string, std::string> files;
        if (!fs::exists(lib)) return files;
        for (const auto &e : fs::recursive_directory_iterator(lib))
            if (e.is_regular_file()) files[e.path().string()] = slurp(e.path());
        return files;
    }

    // A document's elements below its roots as "tag[attr=value ...]=text",
    // each root as "<root>"; "" and a failure when it is no XML document
    // declared as UTF-8.
    static std::vector<std::string> elements(const fs::path &path) {
        tinyxml2::XMLDocument doc;
        if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
            ADD_FAILURE() << path << ": " << doc.ErrorStr();
            return {};
        }
        const tinyxml2::XMLDeclaration *declaration = doc.FirstChild() ? doc.FirstChild()->ToDeclaration() : nullptr;
        EXPECT_TRUE(declaration && contains(declaration->Value(), "encoding=\"UTF-8\"")) << path;
        std::vector<std::string> out;
        for (const tinyxml2::XMLElement *top = doc.FirstChildElement(); top; top = top->NextSiblingElement()) {
            out.push_back(std::string("<") + top->Name() + ">");
            for (const tinyxml2::XMLElement *e = top->FirstChildElement(); e; e = e->NextSiblingElement()) {
                std::string line = e->Name();
                std::string attributes;
                for (const tinyxml2::XMLAttribute *a = e->FirstAttribute(); a; a = a->Next())
                    attributes += (attributes.empty() ? "" : " ") + std::string(a->Name()) + "=" + a->Value();
                if (!attributes.empty()) line += "[" + attributes + "]";
                out.push_back(line + "=" + (e->GetText() ? e->GetText() : ""));
            }
        }
        return out;
    }

    fs::path film_nfo() const { return lib / "The Thing (1982) [tmdbid-1091]/The Thing (1982) [tmdbid-1091].nfo"; }
    fs::path show_nfo() const { return lib / "Doctor Who (2005) [tmdbid-57243]/tvshow.nfo"; }
    fs::path episode_nfo(int n) const {
        return lib / "Doctor Who (2005) [tmdbid-57243]/Season 01" /
               (n == 1 ? "Doctor Who S01E01 - Rose.nfo" : "Doctor Who S01E02 - The End of the World.nfo");
    }

    fs::path root, src, lib, state;
};

TEST_F(OrganizeNfoTest, FilmShowAndEpisodesAreWrittenAsPlannedAndAskedOnce) {
    const outcome dry = organize({"--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_FALSE(fs::exists(lib));
    struct expected_file {
        fs::path path;
        const char *kind;
        std::vector<std::string> elements;
    };
    const expected_file expected[] = {
        {film_nfo(),
         "movie",
         {"<movie>", "title=The Thing", "originaltitle=The Thing (Carpenter)", "year=1982", "premiered=1982-06-25",
          std::string("plot=") + kPlot, "uniqueid[type=tmdb default=true]=1091", "uniqueid[type=imdb]=tt1001091"}},
        {show_nfo(), "tvshow", {"<tvshow>", "title=Doctor Who", "premiered=2005-03-26", "uniqueid[type=tmdb default=true]=57243"}},
        {episode_nfo(1),
         "episodedetails",
         {"<episodedetails>", "title=Rose", "season=1", "episode=1", "aired=2005-03-26", "plot=Rose meets the Doctor.",
          "uniqueid[type=tmdb default=true]=101"}},
        {episode_nfo(2),
         "episodedetails",
         {"<episodedetails>", "title=The End of the World", "season=1", "episode=2", "aired=2005-04-02",
          "plot=Five billion years on.", "uniqueid[type=tmdb default=true]=102"}},
    };
    for (const expected_file &e : expected)
        EXPECT_TRUE(contains(dry.out, "write\t" + e.path.string() + "\t" + e.kind + "\n")) << dry.out;

    // Each detail and season asked once, whatever the files that need it.
    std::map<std::string, int> asked_for;
    for (int i = 0; i < calls(); ++i) ++asked_for[request(static_cast<size_t>(i)).path];
    for (const char *path : {"/3/movie/1091", "/3/tv/57243", "/3/tv/57243/season/1"}) EXPECT_EQ(asked_for[path], 1) << path;

    // The real run prints the dry run's plan, and asks for nothing new.
    const int asked = calls();
    const outcome r = organize();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, dry.out.size()), dry.out);
    EXPECT_EQ(calls(), asked);
    for (const expected_file &e : expected) {
        SCOPED_TRACE(e.path);
        EXPECT_TRUE(contains(r.out, "written\t\t" + e.path.string() + "\n")) << r.out;
        EXPECT_EQ(elements(e.path), e.elements);
    }
    EXPECT_TRUE(contains(r.err, "4 .nfo written")) << r.err;
}

TEST_F(OrganizeNfoTest, AnNfoThereOrTravellingWithItsVideoIsLeftAlone) {
    const std::string own = "<movie><title>my own</title></movie>";
    write_file(src / "Movies/The.Thing.1982.1080p.BluRay.x264-GRP.nfo", own);
    fs::create_directories(show_nfo().parent_path());
    write_file(show_nfo(), "the show's own");
    const outcome r = organize();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(film_nfo()), own);
    EXPECT_EQ(slurp(show_nfo()), "the show's own");
    EXPECT_FALSE(contains(r.out, "write\t" + film_nfo().string())) << r.out;
    EXPECT_FALSE(contains(r.out, "write\t" + show_nfo().string())) << r.out;
    EXPECT_EQ(elements(episode_nfo(1)).front(), "<episodedetails>");
    EXPECT_EQ(elements(episode_nfo(2)).front(), "<episodedetails>");
}

TEST_F(OrganizeNfoTest, UndoRemovesWhatItWroteAndKeepsWhatWasEdited) {
    ASSERT_EQ(organize().status, 0);
    write_file(episode_nfo(2), slurp(episode_nfo(2)) + "<!-- my note -->\n");
    const std::string edited = slurp(episode_nfo(2));
    const outcome r = tool({"organize", "undo"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.out, "kept\t\t" + episode_nfo(2).string() + "\tit changed since it was written")) << r.out;
    EXPECT_EQ(library(), (std::map<std::string, std::string>{{episode_nfo(2).string(), edited}}));
    EXPECT_TRUE(fs::exists(src / "TV/Doctor.Who.2005.S01E02.The.End.of.the.World.720p.mkv"));
}

TEST_F(OrganizeNfoTest, AFileOfTwoEpisodesHasAnElementForEach) {
    fs::remove_all(src / "TV");
    fs::create_directories(src / "TV");
    write_file(src / "TV/Doctor.Who.2005.S01E01E02.720p.mkv", "two episodes");
    const outcome r = organize();
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<fs::path> episodes;
    for (const auto &[path, content] : library())
        if (fs::path(path).extension() == ".nfo" && fs::path(path).parent_path().filename() == "Season 01")
            episodes.push_back(path);
    ASSERT_EQ(episodes.size(), 1u) << r.out;
    EXPECT_EQ(elements(episodes.front()),
              (std::vector<std::string>{"<episodedetails>", "title=Rose", "season=1", "episode=1", "aired=2005-03-26",
                                        "plot=Rose meets the Doctor.", "uniqueid[type=tmdb default=true]=101",
                                        "<episodedetails>", "title=The End of the World", "season=1", "episode=2",
                                        "aired=2005-04-02", "plot=Five billion years on.",
                                        "uniqueid[type=tmdb default=true]=102"}));
}

// Kodi's layout always has them; the others when asked.
TEST_F(OrganizeNfoTest, KodiAlwaysHasThemOtherLayoutsWhenAsked) {
    struct layout_case {
        std::vector<std::string> args;
        std::set<std::string> written;  // below the library
    };
    const layout_case cases[] = {
        {{"--layout", "kodi"},
         {"The Thing (1982)/The Thing (1982).nfo", "Doctor Who (2005)/tvshow.nfo",
          "Doctor Who (2005)/Season 01/Doctor Who (2005) - s01e01 - Rose.nfo",
          "Doctor Who (2005)/Season 01/Doctor Who (2005) - s01e02 - The End of the World.nfo"}},
        {{"--layout", "plex", "--nfo"},
         {"The Thing (1982) {tmdb-1091}/The Thing (1982) {tmdb-1091}.nfo", "Doctor Who (2005) {tmdb-57243}/tvshow.nfo",
          "Doctor Who (2005) {tmdb-57243}/Season 01/Doctor Who (2005) - s01e01 - Rose.nfo",
          "Doctor Who (2005) {tmdb-57243}/Season 01/Doctor Who (2005) - s01e02 - The End of the World.nfo"}},
        {{"--layout", "jellyfin"}, {}},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args[1]);
        std::vector<std::string> args = {"--tmdb-key", "SECRET-KEY", "organize", "--dry-run", src.string(), "--to",
                                         lib.string(), "--cache", (root / "cache.sqlite3").string(), "--json", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const outcome r = run(args, with_state({}));
        EXPECT_EQ(r.status, 0) << r.err;
        std::set<std::string> written;
        for (const std::string &line : lines_of(r.out)) {
            const json_doc doc(line);
            if (std::string(yyjson_get_str(doc.get("action"))) == "write")
                written.insert(fs::path(yyjson_get_str(doc.get("destination"))).lexically_relative(lib).string());
        }
        EXPECT_EQ(written, c.written) << r.out;
    }
    EXPECT_FALSE(fs::exists(lib));
}

// A run with the metadata files killed, or failing with an error, at each
// journalled call in turn, then resumed and undone: no file in the library
// but whole ones as a run that was not stopped writes them (no partial nor
// cut .nfo), all of them once a killed run is resumed, none after undo.
class OrganizeNfoFaults : public OrganizeNfoTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(OrganizeNfoFaults, LeaveNoHalfWrittenFile) {
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    const std::string fault = GetParam();
    ASSERT_EQ(organize({"--dry-run"}).status, 0);  // the replies in the cache: every run below asks nothing
    const fs::path count_file = root / "calls";
    ASSERT_EQ(organize({}, {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT_COUNT", count_file.string()}}).status, 0);
    const std::map<std::string, std::string> whole = library();
    ASSERT_EQ(whole.size(), 7u);
    ASSERT_EQ(tool({"organize", "undo"}).status, 0);
    std::map<std::string, std::string> sources;
    for (const auto &e : fs::recursive_directory_iterator(src))
        if (e.is_regular_file()) sources[e.path().string()] = slurp(e.path());
    const long total = std::stol(slurp(count_file));
    for (long k = 1; k <= total; ++k) {
        const std::string when = fault + " at call " + std::to_string(k);
        organize({}, {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT", fault}, {"OXMETA_FAULT_AT", std::to_string(k)}});
        const outcome resumed = tool({"organize", "--resume"});
        EXPECT_EQ(resumed.status, 0) << when << "\n" << resumed.err;
        const std::map<std::string, std::string> after = library();
        if (fault == "KILL") {
            // Killed before its plan was journalled, it did nothing (or,
            // after its last line, everything).
            if (contains(resumed.err, "no unfinished run") && after.empty()) {
                ASSERT_EQ(organize().status, 0) << when;
            }
            EXPECT_EQ(library(), whole) << when;
        } else {
            for (const auto &[path, content] : after) {
                const auto found = whole.find(path);
                EXPECT_TRUE(found != whole.end() && found->second == content) << when << ": " << path;
            }
        }
        const outcome undone = tool({"organize", "undo"});
        EXPECT_TRUE(undone.status == 0 || contains(undone.err, "no run left to undo")) << when << "\n" << undone.err;
        EXPECT_EQ(library(), (std::map<std::string, std::string>{})) << when;
        for (const auto &[path, content] : sources) EXPECT_EQ(slurp(path), content) << when << ": " << path;
        if (::testing::Test::HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, OrganizeNfoFaults, ::testing::Values("KILL", "ENOSPC"));

}  // namespace
}  // namespace tool_test

// ------------------------------------------------------------------ images

namespace tool_test {
namespace {

// organize --artwork against the same TMDb, which serves the images as
// bytes with NULs inside: the posters and the fanart written byte for byte
// where they belong, what is there left alone, replies refused, undo, and
// runs killed while they write.
class OrganizeArtworkTest : public OrganizeNfoTest {
protected:
    void SetUp() override {
        OrganizeNfoTest::SetUp();
        set_handler([this](const httplib::Request &req, httplib::Response &res) {
            const auto found = images.find(req.path);
            if (found == images.end()) return answer(req, res);
            res.status = found->second.first;
            res.set_content(found->second.second, "image/jpeg");
        });
    }
    static std::string jpeg(const std::string &tag) { return std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 12) + tag + '\0'; }

    outcome artwork(std::vector<std::string> extra = {}, std::map<std::string, std::optional<std::string>> env = {}) {
        std::vector<std::string> args = {"--tmdb-key", "SECRET-KEY", "organize", src.string(), "--to", lib.string(),
                                         "--artwork", "--cache", (root / "cache.sqlite3").string(), "--format", "tsv", "-q"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args, with_state(std::move(env)));
    }
    int image_requests() {
        int n = 0;
        for (int i = 0; i < calls(); ++i) n += request(static_cast<size_t>(i)).path.rfind("/t/p/", 0) == 0;
        return n;
    }
    fs::path film_folder() const { return lib / "The Thing (1982) [tmdbid-1091]"; }
    fs::path show_folder() const { return show_nfo().parent_path(); }
    // Each image the run writes, with its bytes.
    std::map<std::string, std::string> expected() const {
        return {{(film_folder() / "poster.jpg").string(), jpeg("film poster")},
                {(film_folder() / "fanart.jpg").string(), jpeg("film fanart")},
                {(show_folder() / "poster.jpg").string(), jpeg("show poster")},
                {(show_folder() / "folder.jpg").string(), jpeg("show poster")}};
    }
    // The library's images.
    std::map<std::string, std::string> images_in_library() const {
        std::map<std::string, std::string> found = library();
        std::erase_if(found, [](const auto &file) { return fs::path(file.first).extension() == ".mkv"; });
        return found;
    }

    // Status and bytes by path on the server.
    std::map<std::string, std::pair<int, std::string>> images = {
        {"/t/p/original/p1091.jpg", {200, jpeg("film poster")}},
        {"/t/p/original/b1091.jpg", {200, jpeg("film fanart")}},
        {"/t/p/original/p57243.jpg", {200, jpeg("show poster")}},
    };
};

TEST_F(OrganizeArtworkTest, FilmAndShowImagesAreWrittenByteForByteAndUndone) {
    const outcome dry = artwork({"--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_FALSE(fs::exists(lib));
    EXPECT_EQ(image_requests(), 0);
    const std::pair<fs::path, const char *> planned[] = {{film_folder() / "poster.jpg", "poster"},
                                                         {film_folder() / "fanart.jpg", "fanart"},
                                                         {show_folder() / "poster.jpg", "poster"},
                                                         {show_folder() / "folder.jpg", "folder"}};
    for (const auto &[path, kind] : planned)
        EXPECT_TRUE(contains(dry.out, "write\t" + path.string() + "\t" + kind + "\n")) << dry.out;

    const outcome r = artwork();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, dry.out.size()), dry.out);
    EXPECT_EQ(images_in_library(), expected());
    EXPECT_TRUE(contains(r.err, "4 images written")) << r.err;

    // Undo removes what it wrote, and keeps an image changed since.
    write_file(film_folder() / "fanart.jpg", jpeg("my own fanart"));
    const outcome undone = tool({"organize", "undo"});
    EXPECT_EQ(undone.status, 1) << undone.err;
    EXPECT_TRUE(contains(undone.out, "kept\t\t" + (film_folder() / "fanart.jpg").string() + "\tit changed since it was written"))
        << undone.out;
    EXPECT_EQ(library(), (std::map<std::string, std::string>{{(film_folder() / "fanart.jpg").string(), jpeg("my own fanart")}}));
}

TEST_F(OrganizeArtworkTest, AnImageThereIsLeftAlone) {
    fs::create_directories(show_folder());
    write_file(show_folder() / "poster.jpg", "the show's own poster");
    const outcome r = artwork();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(show_folder() / "poster.jpg"), "the show's own poster");
    EXPECT_FALSE(contains(r.out, "write\t" + (show_folder() / "poster.jpg").string())) << r.out;
    std::map<std::string, std::string> want = expected();
    want[(show_folder() / "poster.jpg").string()] = "the show's own poster";
    EXPECT_EQ(images_in_library(), want);
}

// Replayed replies hold no image: each is skipped and told, and the run
// does all the rest.
TEST_F(OrganizeArtworkTest, ReplayedRepliesWithoutTheImagesSkipThemAndTellIt) {
    fs::remove_all(src / "TV");
    const replies::item film{1091, "The Thing", "The Thing", "1982-06-25", 40, 5000};
    const fs::path replay = root / "replies";
    write_recording(replay, "search",
                    "https://api.themoviedb.org/3/search/movie?query=The%20Thing&include_adult=false&page=1&year=1982&language=en-US",
                    200, replies::search_page(false, {film}));
    write_recording(replay, "detail", "https://api.themoviedb.org/3/movie/1091?append_to_response=external_ids&language=en-US",
                    200, replies::detail_json(false, film));
    const outcome r = run_tool({"--replay", replay.string(), "organize", src.string(), "--to", lib.string(), "--artwork",
                                "--format", "tsv", "-q"},
                               with_state({}));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *name : {"poster.jpg", "fanart.jpg"})
        EXPECT_TRUE(contains(r.out, "skipped\t\t" + (film_folder() / name).string() + "\tnot fetched: no recording of it"))
            << r.out;
    EXPECT_TRUE(fs::exists(film_folder() / "The Thing (1982) [tmdbid-1091].mkv"));
    EXPECT_EQ(images_in_library(), (std::map<std::string, std::string>{}));
}

// A reply too large, not an image, or not a 200 with a body: that image is
// refused and told, the others written, and the run fails.
TEST_F(OrganizeArtworkTest, RepliesThatAreNoImageAreRefused) {
    struct refused_case {
        std::pair<int, std::string> reply;
        std::vector<std::string> extra;
        const char *told;
    };
    const refused_case cases[] = {
        {{200, jpeg(std::string(40000, 'x'))}, {"--max-reply-size", "32K"}, "not fetched: reply larger than 32 KiB"},
        {{200, "<html>Not a picture</html>"}, {}, "refused: the reply is not a JPEG or PNG image"},
        {{404, jpeg("a page of errors")}, {}, "not fetched: HTTP 404"},
        {{200, ""}, {}, "not fetched: HTTP 200 with no body"},
    };
    const fs::path fanart = film_folder() / "fanart.jpg";
    for (const refused_case &c : cases) {
        SCOPED_TRACE(c.told);
        images["/t/p/original/b1091.jpg"] = c.reply;
        const outcome r = artwork(c.extra);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.out, "failed\t\t" + fanart.string() + "\t" + c.told)) << r.out;
        std::map<std::string, std::string> want = expected();
        want.erase(fanart.string());
        EXPECT_EQ(images_in_library(), want);
        ASSERT_EQ(tool({"organize", "undo"}).status, 0);
        EXPECT_EQ(library(), (std::map<std::string, std::string>{}));
    }
}

// Killed, or a call failing, at each journalled call in turn, then resumed
// and undone: no partial or cut image is ever left; a resumed run writes
// what its run journalled as fetched, and tells each image it cannot fetch.
class OrganizeArtworkFaults : public OrganizeArtworkTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(OrganizeArtworkFaults, LeaveNoPartialOrCutImage) {
    if (OXMETA_TOOL_SANITIZED) GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
    const std::string fault = GetParam();
    ASSERT_EQ(artwork({"--dry-run"}).status, 0);  // the details in the cache
    const fs::path count_file = root / "calls";
    ASSERT_EQ(artwork({}, {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT_COUNT", count_file.string()}}).status, 0);
    ASSERT_EQ(images_in_library(), expected());
    ASSERT_EQ(tool({"organize", "undo"}).status, 0);
    const long total = std::stol(slurp(count_file));
    for (long k = 1; k <= total; ++k) {
        const std::string when = fault + " at call " + std::to_string(k);
        artwork({}, {{"LD_PRELOAD", OXMETA_FAULT_SHIM_PATH}, {"OXMETA_FAULT", fault}, {"OXMETA_FAULT_AT", std::to_string(k)}});
        const outcome resumed = tool({"organize", "--resume"});
        EXPECT_EQ(resumed.status, 0) << when << "\n" << resumed.err;
        for (const auto &e : fs::recursive_directory_iterator(root))
            EXPECT_FALSE(contains(e.path().filename().string(), ".oxmeta-partial")) << when << ": " << e.path();
        const std::map<std::string, std::string> after = images_in_library();
        // Killed before its plan was journalled, it did nothing.
        const bool nothing_done = contains(resumed.err, "no unfinished run") && library().empty();
        for (const auto &[path, bytes] : expected()) {
            if (nothing_done) break;
            const auto found = after.find(path);
            if (found != after.end()) EXPECT_EQ(found->second, bytes) << when << ": " << path;
            // Not there: the run was stopped before it, or failed it, and said so.
            else EXPECT_TRUE(contains(resumed.out + resumed.err, path) || fault != "KILL") << when << ": " << path << resumed.out;
        }
        const outcome undone = tool({"organize", "undo"});
        EXPECT_TRUE(undone.status == 0 || contains(undone.err, "no run left to undo")) << when << "\n" << undone.err;
        EXPECT_EQ(library(), (std::map<std::string, std::string>{})) << when;
        if (::testing::Test::HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, OrganizeArtworkFaults, ::testing::Values("KILL", "ENOSPC"));

}  // namespace
}  // namespace tool_test
