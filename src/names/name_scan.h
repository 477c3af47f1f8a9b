// One component of a path (the file name, or a folder's name) read as a
// release name: split into tokens, each token classified, and the fields
// the component gives. Views point into the component's text; nothing is
// allocated.
#pragma once

#include <cstdint>
#include <string_view>

#include "name_words.h"

namespace oxnames {

inline constexpr int kMaxTokens = 64;
inline constexpr int kMaxEpisodes = 16;
inline constexpr int kMaxLanguages = 8;
inline constexpr size_t kMaxComponent = 1024;  // bytes of a component read; the rest is ignored

// A std::string_view without constructors: arrays of the records that hold
// one cost nothing to declare.
struct text_ref {
    const char *ptr;
    size_t len;
    text_ref &operator=(std::string_view v) {
        ptr = v.data();
        len = v.size();
        return *this;
    }
    operator std::string_view() const { return {ptr, len}; }
    std::string_view view() const { return {ptr, len}; }
    const char *data() const { return ptr; }
    size_t size() const { return len; }
    bool empty() const { return len == 0; }
    char operator[](size_t i) const { return ptr[i]; }
    std::string_view substr(size_t at, size_t n = std::string_view::npos) const { return view().substr(at, n); }
    size_t find(char ch) const { return view().find(ch); }
    size_t rfind(char ch) const { return view().rfind(ch); }
};

// Every member is set by the tokenizer (no default values: a component's
// token array is left uninitialised until it is filled).
struct token {
    text_ref text;
    uint8_t group;      // 1.. for tokens inside one pair of brackets, 0 outside
    bool dash_before;   // a lone "-" stood before it
    bool dot_after;     // the separator after it was a '.'
    bool abbreviation;  // "Mr. Robot": a dot then a space, kept with the word
    bool dropped;       // a site, a hash, a release group: not part of any field
};

// A range of tokens [begin, end).
struct span {
    int begin = 0;
    int end = 0;
    bool empty() const { return end <= begin; }
};

// What a component gives; reset before each scan.
struct component_fields {
    span title;
    span episode_title;
    int year = -1;
    int year_end = -1;
    int season = -1;
    int seasons[kMaxEpisodes] = {};  // every season named ("S01-S04")
    int season_count = 0;
    int episodes[kMaxEpisodes] = {};
    int episode_count = 0;
    int absolute_episode = -1;
    int leading_number = -1;     // "05 - Name": a number the name starts with
    int leading_last = -1;       // "1017-1018": the last of a range it starts with
    span after_leading;          // what follows that number
    char date[11] = {};
    int part = -1;
    std::string_view country;
    std::string_view release_group;
    std::string_view container;

    std::string_view screen_size, source, video_codec, audio_codec, audio_channels, edition, hdr;
    std::string_view hdr_second;  // "Dolby Vision" beside "HDR10"
    std::string_view edition_second;
    std::string_view languages[kMaxLanguages];
    int language_count = 0;
    std::string_view subtitles[kMaxLanguages];
    int subtitle_count = 0;
    int tmdb_id = -1;            // "[tmdbid-680]", "{tmdb-680}"
    int tvdb_id = -1;            // "[tvdbid-81189]"
    std::string_view imdb_id;    // "tt0110912"
    int proper = 0;
    int repack = 0;
    bool is_extra = false;
    bool season_folder = false;  // "Season 2", "S02", "Specials": nothing but a season
    bool pack = false;           // "Complete Series": every season, none named
    bool opening = false;        // an anime opening or ending ("NCOP", "ED2"): of a show
    bool strong_tags = false;    // a marker or a strong tag: a release's name
    bool lower_case = false;     // no capital letter anywhere: case tells nothing

    bool has_episode() const { return episode_count > 0 || absolute_episode >= 0 || date[0] != 0; }
    // An episode, or a season or a pack of them.
    bool is_show() const { return has_episode() || season >= 0 || pack || opening; }
};

struct component : component_fields {
    token tokens[kMaxTokens];
    int count = 0;
    const char *base = nullptr;     // the component's text
    char lowered[kMaxComponent];    // the same text with ASCII letters in lower case

    // Token i's text in lower case.
    std::string_view lower(int i) const {
        const token &t = tokens[i];
        return {lowered + (t.text.data() - base), t.text.size()};
    }
};

// Reads text (a file name when is_file: its extension is the container)
// into out, a component just made (its fields as their initialisers leave them).
void scan_component(std::string_view text, bool is_file, component &out);

// True when text may hold an id ("tmdbid-", "{imdb-", "tt0110912"): a
// quick test before a folder is read for its ids alone.
bool may_hold_id(std::string_view text);
// Reads the ids of text into out (its other fields are left alone).
void scan_ids(std::string_view text, component &out);

// Lower-cases ASCII letters of text into buffer (room for text.size()
// bytes); true when text held a capital.
bool lower_copy(std::string_view text, char *buffer);

// Lower-cases ASCII letters of text into buffer (at most size bytes); the
// lower-case view, or "" when text does not fit.
std::string_view lower_into(std::string_view text, char *buffer, size_t size);

}  // namespace oxnames
