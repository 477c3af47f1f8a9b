// oxmeta_parse_name through the shipped shared library, loaded at run time
// as hosts load it: the corpus of real-world names with per-field accuracy,
// the record's size rule, and inputs no parser should trip on.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../dl/oxmeta_dl.h"

namespace {

oxmeta_dl &library() {
    static oxmeta_dl dl;
    static const bool opened = dl.open(OXMETA_LIBRARY_FILE);
    EXPECT_TRUE(opened) << OXMETA_LIBRARY_FILE;
    return dl;
}

oxmeta_name parse(const std::string &path) {
    oxmeta_name n;
    std::memset(&n, 0x5A, sizeof n);
    n.size = sizeof n;
    EXPECT_EQ(library().oxmeta_parse_name(path.c_str(), &n), OXMETA_OK) << path;
    return n;
}

std::string number(int value) { return value >= 0 ? std::to_string(value) : ""; }

std::string numbers(const int *values, int count) {
    std::string list;
    for (int i = 0; i < count; ++i) list += (i ? "," : "") + std::to_string(values[i]);
    return list;
}

// A field of the record as the corpus writes it.
std::string field_text(const oxmeta_name &n, const std::string &field) {
    if (field == "kind") return n.kind;
    if (field == "title") return n.title;
    if (field == "year") return number(n.year);
    if (field == "year_end") return number(n.year_end);
    if (field == "season") return number(n.season);
    if (field == "episodes") return numbers(n.episodes, n.episode_count);
    if (field == "seasons") return numbers(n.seasons, n.season_count);
    if (field == "absolute") return number(n.absolute_episode);
    if (field == "date") return n.date;
    if (field == "episode_title") return n.episode_title;
    if (field == "part") return number(n.part);
    if (field == "country") return n.country;
    if (field == "screen_size") return n.screen_size;
    if (field == "source") return n.source;
    if (field == "video_codec") return n.video_codec;
    if (field == "audio_codec") return n.audio_codec;
    if (field == "audio_channels") return n.audio_channels;
    if (field == "hdr") return n.hdr;
    if (field == "edition") return n.edition;
    if (field == "group") return n.release_group;
    if (field == "container") return n.container;
    if (field == "languages") return n.languages;
    if (field == "subtitles") return n.subtitles;
    if (field == "proper") return std::to_string(n.proper);
    if (field == "repack") return std::to_string(n.repack);
    if (field == "extra") return std::to_string(n.is_extra);
    if (field == "tmdb_id") return number(n.tmdb_id);
    if (field == "tvdb_id") return number(n.tvdb_id);
    if (field == "imdb_id") return n.imdb_id;
    ADD_FAILURE() << "unknown field " << field;
    return "";
}

std::string trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

struct corpus_line {
    int number;
    bool known_miss;
    std::string name;
    std::vector<std::pair<std::string, std::string>> fields;
};

std::vector<corpus_line> read_corpus(const std::string &path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<corpus_line> lines;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (text.empty() || text[0] == '#') continue;
        corpus_line line{number, text[0] == '?', "", {}};
        if (line.known_miss) text.erase(0, 1);
        const size_t tab = text.find('\t');
        EXPECT_NE(tab, std::string::npos) << path << " line " << number;
        if (tab == std::string::npos) continue;
        line.name = text.substr(0, tab);
        std::stringstream fields(text.substr(tab + 1));
        for (std::string item; std::getline(fields, item, '|');) {
            const size_t eq = item.find('=');
            EXPECT_NE(eq, std::string::npos) << path << " line " << number << ": " << item;
            if (eq != std::string::npos) line.fields.emplace_back(trim(item.substr(0, eq)), trim(item.substr(eq + 1)));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// What a part of the corpus scored: every field right, the fields a match
// stands on (title, year, season, episodes) right, and each field's share.
struct score {
    int names = 0, all_right = 0, core_right = 0;
    struct tally {
        int right = 0, total = 0;
    };
    std::map<std::string, tally> per_field;
    double share(const std::string &field) const {
        const auto it = per_field.find(field);
        return it == per_field.end() ? 1.0 : it->second.right / static_cast<double>(it->second.total);
    }
};

// Parses every name of the file at path and prints its accuracy. A wrong
// name fails the test when each_must_pass (and it is not a known miss).
score check_part(const std::string &path, const char *label, bool each_must_pass) {
    const auto lines = read_corpus(path);
    score s;
    int known = 0, mended = 0;
    std::ostringstream misses;
    for (const auto &line : lines) {
        const oxmeta_name n = parse(line.name);
        bool right = true, core = true;
        std::string wrong;
        for (const auto &[field, expected] : line.fields) {
            const std::string got = field_text(n, field);
            auto &t = s.per_field[field];
            ++t.total;
            if (got == expected) {
                ++t.right;
                continue;
            }
            right = false;
            if (field == "title" || field == "year" || field == "season" || field == "episodes") core = false;
            wrong += "    " + field + ": expected \"" + expected + "\", got \"" + got + "\"\n";
        }
        ++s.names;
        s.all_right += right ? 1 : 0;
        s.core_right += core ? 1 : 0;
        if (line.known_miss) {
            ++known;
            if (right) ++mended;
        }
        if (!right) misses << (line.known_miss ? "  known miss, line " : "  MISS, line ") << line.number << ": " << line.name << "\n" << wrong;
        if (each_must_pass && !line.known_miss) {
            EXPECT_TRUE(right) << path << " line " << line.number << ": " << line.name << "\n" << wrong;
        }
    }
    const double names = s.names ? s.names : 1;
    std::printf("%s: %d names, %d with every field right (%.1f%%), %d with title, year, season and episodes right "
                "(%.1f%%), %d known misses (%d now right)\n",
                label, s.names, s.all_right, 100.0 * s.all_right / names, s.core_right, 100.0 * s.core_right / names,
                known, mended);
    for (const auto &[field, t] : s.per_field)
        std::printf("  %-15s %4d/%-4d %.1f%%\n", field.c_str(), t.right, t.total, 100.0 * t.right / t.total);
    if (!misses.str().empty()) std::printf("misses:\n%s", misses.str().c_str());
    return s;
}

// The development part: the conventions the parser was built from, each
// name right (or a marked known miss).
TEST(ParseName, DevelopmentCorpus) {
    const score s = check_part(OXMETA_NAME_CORPUS, "development part", true);
    EXPECT_GE(s.names, 1800);
}

// The held-out parts, written by people who did not read the parser and
// never tuned to name by name: the accuracy the parser must keep on names
// it was not shown.
TEST(ParseName, HeldOutCorpus) {
    for (const char *path : {OXMETA_NAME_HELD_OUT_1, OXMETA_NAME_HELD_OUT_2}) {
        const std::string file = std::string(path).substr(std::string(path).rfind('/') + 1);
        const score s = check_part(path, file.c_str(), false);
        EXPECT_GE(s.names, 500) << path;
        EXPECT_GE(s.core_right, s.names * 9 / 10) << path << ": title, year, season and episodes right";
        EXPECT_GE(s.share("kind"), 0.97) << path;
        EXPECT_GE(s.share("year"), 0.99) << path;
    }
}

TEST(ParseName, ArgumentsAndTheRecordsSize) {
    oxmeta_name n{};
    n.size = sizeof n;
    EXPECT_EQ(library().oxmeta_parse_name(nullptr, &n), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(library().oxmeta_parse_name("x.mkv", nullptr), OXMETA_E_INVALID_ARG);
    n.size = 1211;  // below the first version of the record
    std::memset(n.title, 'Q', sizeof n.title);
    EXPECT_EQ(library().oxmeta_parse_name("x.mkv", &n), OXMETA_E_INVALID_ARG);
    EXPECT_EQ(n.title[0], 'Q');  // untouched
    n.size = 0;
    EXPECT_EQ(library().oxmeta_parse_name("x.mkv", &n), OXMETA_E_INVALID_ARG);
    // A host built against a newer header passes a larger record: the
    // library fills what it knows and leaves the rest alone.
    struct newer {
        oxmeta_name known;
        int added_later;
    } bigger{};
    bigger.known.size = sizeof bigger;
    bigger.added_later = 77;
    EXPECT_EQ(library().oxmeta_parse_name("Heat.1995.mkv", &bigger.known), OXMETA_OK);
    EXPECT_STREQ(bigger.known.title, "Heat");
    EXPECT_EQ(bigger.known.size, sizeof bigger);
    EXPECT_EQ(bigger.added_later, 77);
    // A host built against the first version of the record (every field up
    // to is_extra) gets those fields, and not a byte past them is written.
    const size_t first_version = offsetof(oxmeta_name, season_count);
    EXPECT_EQ(first_version, 1212u);
    oxmeta_name older;
    std::memset(&older, 0x5A, sizeof older);
    older.size = static_cast<uint32_t>(first_version);
    EXPECT_EQ(library().oxmeta_parse_name("Show.S02E05.720p.mkv", &older), OXMETA_OK);
    EXPECT_STREQ(older.title, "Show");
    EXPECT_EQ(older.season, 2);
    EXPECT_EQ(older.is_extra, 0);
    const auto *tail = reinterpret_cast<const unsigned char *>(&older) + first_version;
    for (size_t i = 0; i < sizeof older - first_version; ++i) ASSERT_EQ(tail[i], 0x5A) << "byte " << first_version + i;
    older.size = static_cast<uint32_t>(first_version - 1);
    EXPECT_EQ(library().oxmeta_parse_name("x.mkv", &older), OXMETA_E_INVALID_ARG);
    // Every none is as documented: "" and -1.
    const oxmeta_name empty = parse("");
    EXPECT_STREQ(empty.kind, "movie");
    EXPECT_STREQ(empty.title, "");
    EXPECT_EQ(empty.year, -1);
    EXPECT_EQ(empty.season, -1);
    EXPECT_EQ(empty.episode_count, 0);
    EXPECT_EQ(empty.absolute_episode, -1);
    EXPECT_EQ(empty.part, -1);
    EXPECT_EQ(empty.proper, 0);
}

// True when text is valid UTF-8 holding no control character.
bool clean_utf8(const char *text, size_t capacity) {
    const size_t n = strnlen(text, capacity);
    if (n == capacity) return false;  // not terminated
    for (size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return false;
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (len == 0 || c > 0xF4 || i + len > n) return false;
        if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;  // a C1 control
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

void expect_clean(const oxmeta_name &n, const std::string &input) {
    const std::pair<const char *, size_t> texts[] = {
        {n.kind, sizeof n.kind},           {n.title, sizeof n.title},
        {n.date, sizeof n.date},           {n.episode_title, sizeof n.episode_title},
        {n.country, sizeof n.country},     {n.screen_size, sizeof n.screen_size},
        {n.source, sizeof n.source},       {n.video_codec, sizeof n.video_codec},
        {n.audio_codec, sizeof n.audio_codec}, {n.audio_channels, sizeof n.audio_channels},
        {n.hdr, sizeof n.hdr},             {n.edition, sizeof n.edition},
        {n.release_group, sizeof n.release_group}, {n.container, sizeof n.container},
        {n.languages, sizeof n.languages}, {n.subtitles, sizeof n.subtitles},
    };
    for (const auto &[text, size] : texts)
        EXPECT_TRUE(clean_utf8(text, size)) << testing::PrintToString(input) << " gave " << testing::PrintToString(std::string(text, strnlen(text, size)));
    EXPECT_GE(n.episode_count, 0);
    EXPECT_LE(n.episode_count, OXMETA_NAME_EPISODES);
}

TEST(ParseName, HostileInputsGiveCleanBoundedFields) {
    std::vector<std::string> inputs = {
        std::string(100000, 'a') + ".mkv",
        std::string(50000, '/') + "Heat (1995).mkv",
        std::string(3000, '[') + "x",
        std::string(3000, ')') + "x",
        "Title\x1b]0;pwned\x07.2010.mkv",
        "Title\xc2\x9b" "31m\xc2\x85Next.2010.mkv",
        "Bad\xff\xfe.Bytes\xc3.2010.mkv",
        "\xe5\x8d\x83\xe3\x81",
        std::string("Nul\0Inside.mkv", 14),
        "S99999E99999.mkv",
        "Show.S01E01-E99999.mkv",
        "Show.S01E01E02E03E04E05E06E07E08E09E10E11E12E13E14E15E16E17E18E19E20.mkv",
        "1x01-999999999.mkv",
        "2015.99.99.mkv",
        "----.----.mkv",
        ".mkv",
        "\\\\",
        "C:",
        "//",
    };
    // Long titles in many scripts, cut at a character boundary.
    std::string long_title;
    while (long_title.size() < 1000) long_title += "\xe5\x8d\x83 \xf0\x9f\x98\x80 \xc3\xa9 ";
    inputs.push_back(long_title + " (2001).mkv");
    std::mt19937 random(42);
    for (int i = 0; i < 2000; ++i) {
        std::string s(random() % 200, ' ');
        for (char &c : s) c = static_cast<char>(random() % 256);
        inputs.push_back(s);
    }
    for (const auto &input : inputs) expect_clean(parse(input), input);
    const oxmeta_name cut = parse(long_title + " (2001).mkv");
    EXPECT_EQ(cut.year, 2001);
    EXPECT_GT(std::strlen(cut.title), 60u);
}

// Faults found in review, each with the input that showed it.
TEST(ParseName, ReviewFaultsStayMended) {
    // A daily show's date fills its field exactly, terminated.
    oxmeta_name daily;
    std::memset(&daily, 0x5A, sizeof daily);
    daily.size = sizeof daily;
    ASSERT_EQ(library().oxmeta_parse_name("Show.2015.03.12.mkv", &daily), OXMETA_OK);
    EXPECT_EQ(std::string(daily.date, strnlen(daily.date, sizeof daily.date)), "2015-03-12");
    EXPECT_EQ(daily.year, 2015);
    // Dates that are no dates are not an episode's.
    for (const char *name : {"Film.2021-00-99.mkv", "Film.2021-13-01.mkv", "Film.2021-02-30.mkv", "Show.31.02.2019.mkv"}) {
        const oxmeta_name n = parse(name);
        EXPECT_STREQ(n.date, "") << name;
        EXPECT_STREQ(n.kind, "movie") << name;
    }
    // A name with no title gives none, rather than its own markers.
    for (const char *name : {"S01E01.mkv", "1080p.mkv", "[ABCD1234].mkv"}) EXPECT_STREQ(parse(name).title, "") << name;
    // An overlong name is cut at a character boundary and keeps its extension.
    std::string overlong = "Title";
    while (overlong.size() < 1500) overlong += ".\xe5\x8d\x83\xe5\x8d\x83";
    for (const std::string &name : {overlong + ".mkv", overlong + "-GRP.mkv", "x" + overlong + ".mkv"}) {
        const oxmeta_name n = parse(name);
        EXPECT_STREQ(n.container, "mkv") << name.size();
        for (const char *text : {n.title, n.release_group, n.episode_title})
            EXPECT_EQ(std::string(text).find("\xef\xbf\xbd"), std::string::npos) << name.size();
    }
}

TEST(ParseName, ManyThreadsAtOnceGiveTheSameAnswers) {
    const std::vector<std::string> names = {"Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv",
                                            "Shows/The Office (US)/Season 2/The.Office.US.S02E05.720p.HDTV.x264-GRP.mkv",
                                            "[SubsPlease] Frieren - 05 (1080p) [ABCD1234].mkv"};
    std::vector<oxmeta_name> expected;
    for (const auto &name : names) expected.push_back(parse(name));
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3000; ++i) {
                const size_t k = static_cast<size_t>(i + t) % names.size();
                oxmeta_name n{};
                n.size = sizeof n;
                library().oxmeta_parse_name(names[k].c_str(), &n);
                if (std::memcmp(&n, &expected[k], sizeof n) != 0) ++wrong[static_cast<size_t>(t)];
            }
        });
    for (auto &th : threads) th.join();
    for (int w : wrong) EXPECT_EQ(w, 0);
}

}  // namespace
