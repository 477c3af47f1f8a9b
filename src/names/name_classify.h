// The class of each token of a release name: an episode marker, a year, a
// date, a part, a tag from the word tables, a number, or a plain word; and
// the small text tests the scanner shares with it.
#pragma once

#include <cstdint>
#include <string_view>

#include "name_scan.h"
#include "name_words.h"

namespace oxnames {

inline bool is_separator(unsigned char c) { return c == ' ' || c == '.' || c == '_' || c < 0x20 || c == 0x7F; }
inline bool is_open(char c) { return c == '[' || c == '(' || c == '{'; }
inline bool is_close(char c) { return c == ']' || c == ')' || c == '}'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Equality of short texts without a call to memcmp.
inline bool same(std::string_view a, std::string_view b) { return a.size() == b.size() && compare_short(a, b) == 0; }

// The bytes a token is made of: all but separators and brackets.
struct byte_table {
    bool of[256];
};
constexpr byte_table make_word_bytes() {
    byte_table t{};
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        t.of[b] = !(b == ' ' || b == '.' || b == '_' || b < 0x20 || b == 0x7F || c == '[' || c == '(' || c == '{' ||
                    c == ']' || c == ')' || c == '}');
    }
    return t;
}
inline constexpr byte_table kWordByte = make_word_bytes();
inline bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

enum class kind : uint8_t { plain, number, year, year_range, date, marker, part, tag };

// What follows the first episode of a marker: "e02", "-e03", "-03", "x03".
// True when the whole rest is read.
struct episode_list {
    int count;
    int values[kMaxEpisodes];
    bool ranges[kMaxEpisodes];
    bool add(int value, bool range) {
        if (value < 0 || count == kMaxEpisodes) return value >= 0;
        values[count] = value;
        ranges[count++] = range;
        return true;
    }
};

// What a token is. No member has a default value, so that an array of
// them costs nothing to declare: classify_into and nothing set each one.
struct info {
    kind what;
    uint8_t length;   // tokens taken
    bool strong;      // ends the title wherever it stands
    bool subtitles;   // a language tagged as its subtitles' ("ENG.SUBS", "HebSubs")
    const word *w;
    int value;        // a number, a year, a part
    int value_end;    // a range's last year; a marker's last season ("S01-S04")
    int season;
    text_ref channels;
    episode_list episodes;  // read only for markers
    char date[11];          // read only for dates
};

bool all_digits(std::string_view t);
// The dash that separates words: "-", or an en or em dash.
bool is_dash(std::string_view t);
// Adds value to c's seasons, once.
void add_season(component &c, int value);
// Adds value to c's episodes, or (range) every number from the last one added to value.
void add_episode(component &c, int value, bool range);
// "s01e02", "s1e2e3", "s01e01-e03", "s01" (season only).
// season_end (when given) receives the last season of "s01-s04".
bool parse_season_episode(std::string_view t, int &season, episode_list &list, int *season_end = nullptr);
// "1x02", "1x02-03".
bool parse_cross(std::string_view t, int &season, episode_list &list);
// "e05", "ep05", "e01-e03".
bool parse_episode_only(std::string_view t, episode_list &list);
// "1-3": a range of episodes as a token.
bool parse_range(std::string_view t, episode_list &list);

// A token that classifies as nothing (dropped, or the rest of a phrase).
void nothing(info &in, uint8_t length);
// Classifies tokens[i] (and the tokens a phrase of it takes) into out.
void classify_into(const component &c, int i, info &out);
info classify(const component &c, int i);
// A token that only a release name holds: a strong tag, a marker, a year.
bool release_like(const component &c, int i);
// A token that tags something, strongly or not ("5.1" in brackets).
bool tags_something(const component &c, int i);

}  // namespace oxnames
