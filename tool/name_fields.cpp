// The fields of a parsed name in the order every output gives them.
#include "name_fields.h"

#include <string_view>

#include "cli.h"
#include "json_line.h"

namespace {

std::string number_text(int value) { return value >= 0 ? std::to_string(value) : ""; }


// The fields of a parsed name, in the order both outputs give them: the
// JSON key, the table's header, what kind of value, and where it is.
struct name_field {
    enum class kind { text, number, numbers, list, count, flag };
    const char *key;
    const char *header;
    kind what;
    const char *(*text)(const oxmeta_name &);
    int (*number)(const oxmeta_name &);
    // A list of numbers: the first, and (number) how many.
    const int *(*numbers)(const oxmeta_name &) = nullptr;
};

using fk = name_field::kind;
#define OX_TEXT(member, header) {#member, header, fk::text, [](const oxmeta_name &n) -> const char * { return n.member; }, nullptr}
#define OX_NUMBER(member, header, what) {#member, header, what, nullptr, [](const oxmeta_name &n) { return n.member; }}
#define OX_NUMBERS(member, count, header)                                                                       \
    {#member, header, fk::numbers, nullptr, [](const oxmeta_name &n) { return n.count; },                       \
     [](const oxmeta_name &n) -> const int * { return n.member; }}
const name_field kFields[] = {
    OX_TEXT(kind, "kind"),
    OX_TEXT(title, "title"),
    OX_NUMBER(year, "year", fk::number),
    OX_NUMBER(year_end, "to", fk::number),
    OX_NUMBER(season, "season", fk::number),
    OX_NUMBERS(seasons, season_count, "seasons"),
    OX_NUMBERS(episodes, episode_count, "episodes"),
    OX_NUMBER(absolute_episode, "absolute", fk::number),
    OX_TEXT(date, "date"),
    OX_TEXT(episode_title, "episode title"),
    OX_NUMBER(part, "part", fk::number),
    OX_TEXT(country, "country"),
    OX_TEXT(screen_size, "size"),
    OX_TEXT(source, "source"),
    OX_TEXT(video_codec, "video"),
    OX_TEXT(audio_codec, "audio"),
    OX_TEXT(audio_channels, "channels"),
    OX_TEXT(hdr, "hdr"),
    OX_TEXT(edition, "edition"),
    OX_TEXT(release_group, "group"),
    OX_TEXT(container, "container"),
    {"languages", "languages", fk::list, [](const oxmeta_name &n) -> const char * { return n.languages; }, nullptr},
    {"subtitles", "subtitles", fk::list, [](const oxmeta_name &n) -> const char * { return n.subtitles; }, nullptr},
    OX_NUMBER(proper, "proper", fk::count),
    OX_NUMBER(repack, "repack", fk::count),
    OX_NUMBER(is_extra, "extra", fk::flag),
    OX_NUMBER(tmdb_id, "tmdb", fk::number),
    OX_TEXT(imdb_id, "imdb"),
    OX_NUMBER(tvdb_id, "tvdb", fk::number),
};
#undef OX_TEXT
#undef OX_NUMBER
#undef OX_NUMBERS

std::string numbers_text(const int *values, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ',';
        text += std::to_string(values[i]);
    }
    return text;
}

// "en,fr" as ["en","fr"].
void append_list(std::string &out, const std::string &value) {
    out += '[';
    if (!value.empty()) {
        bool first = true;
        for (const std::string &item : comma_list(value)) {
            if (!first) out += ',';
            first = false;
            append_json_string(out, item);
        }
    }
    out += ']';
}

}  // namespace

std::string episodes_text(const oxmeta_name &n) { return numbers_text(n.episodes, n.episode_count); }

void append_name_members(std::string &out, const oxmeta_name &n) {
    for (const name_field &f : kFields) {
        json_key(out, f.key);
        switch (f.what) {
        case fk::text:
            if (*f.text(n))
                append_json_string(out, f.text(n));
            else
                out += "null";
            break;
        case fk::number:
            if (f.number(n) >= 0)
                append_int(out, f.number(n));
            else
                out += "null";
            break;
        case fk::numbers:
            out += '[';
            for (int i = 0; i < f.number(n); ++i) {
                if (i) out += ',';
                append_int(out, f.numbers(n)[i]);
            }
            out += ']';
            break;
        case fk::list: append_list(out, f.text(n)); break;
        case fk::count: append_int(out, f.number(n)); break;
        case fk::flag: out += f.number(n) ? "true" : "false"; break;
        }
    }
}

std::vector<std::string> name_headers() {
    std::vector<std::string> names;
    for (const name_field &f : kFields) names.emplace_back(f.header);
    return names;
}

std::vector<std::string> name_cells(const oxmeta_name &n) {
    std::vector<std::string> cells;
    for (const name_field &f : kFields) {
        switch (f.what) {
        case fk::text:
        case fk::list: cells.emplace_back(f.text(n)); break;
        case fk::number: cells.push_back(number_text(f.number(n))); break;
        case fk::numbers: cells.push_back(numbers_text(f.numbers(n), f.number(n))); break;
        case fk::count: cells.push_back(f.number(n) ? std::to_string(f.number(n)) : ""); break;
        case fk::flag: cells.push_back(f.number(n) ? "yes" : ""); break;
        }
    }
    return cells;
}

