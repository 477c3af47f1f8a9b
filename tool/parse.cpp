// `oxmeta parse NAME...` and `oxmeta parse -`: what media file names say,
// read by the library's oxmeta_parse_name with no network and no key.
#include <charconv>
#include <unistd.h>
#include <utf8proc.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "oxmeta.h"
#include "rows.h"

namespace {

constexpr size_t kMaxLine = 64 * 1024;  // bytes of a line kept; the rest is read and dropped

std::string number_text(int value) { return value >= 0 ? std::to_string(value) : ""; }

std::string episodes_text(const oxmeta_name &n) {
    std::string text;
    for (int i = 0; i < n.episode_count; ++i) {
        if (i) text += ',';
        text += std::to_string(n.episodes[i]);
    }
    return text;
}

// ------------------------------------------------------------------ JSON Lines

// Appends text as a JSON string; bytes that are not UTF-8 become U+FFFD.
void append_json_string(std::string &out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        // A run of plain ASCII goes in one append.
        size_t run = i;
        while (run < text.size()) {
            const auto b = static_cast<unsigned char>(text[run]);
            if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\') break;
            ++run;
        }
        if (run > i) {
            out.append(text.substr(i, run - i));
            i = run - 1;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            utf8proc_int32_t cp = 0;
            const utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(text.data() + i),
                                                        static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
            if (n <= 0) {
                out += "\xEF\xBF\xBD";
                continue;
            }
            out.append(text.substr(i, static_cast<size_t>(n)));
            i += static_cast<size_t>(n) - 1;
        }
    }
    out += '"';
}

void key(std::string &out, const char *name) {
    out += out.back() == '{' ? "\"" : ",\"";
    out += name;
    out += "\":";
}

void append_int(std::string &out, int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

// The fields of a parsed name, in the order both outputs give them: the
// JSON key, the table's header, what kind of value, and where it is.
struct name_field {
    enum class kind { text, number, episodes, list, count, flag };
    const char *key;
    const char *header;
    kind what;
    const char *(*text)(const oxmeta_name &);
    int (*number)(const oxmeta_name &);
};

using fk = name_field::kind;
#define OX_TEXT(member, header) {#member, header, fk::text, [](const oxmeta_name &n) -> const char * { return n.member; }, nullptr}
#define OX_NUMBER(member, header, what) {#member, header, what, nullptr, [](const oxmeta_name &n) { return n.member; }}
const name_field kFields[] = {
    OX_TEXT(kind, "kind"),
    OX_TEXT(title, "title"),
    OX_NUMBER(year, "year", fk::number),
    OX_NUMBER(year_end, "to", fk::number),
    OX_NUMBER(season, "season", fk::number),
    {"episodes", "episodes", fk::episodes, nullptr, nullptr},
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
};
#undef OX_TEXT
#undef OX_NUMBER

// "en,fr" as ["en","fr"].
void append_list(std::string &out, std::string_view value) {
    out += '[';
    for (size_t at = 0; at < value.size();) {
        size_t comma = value.find(',', at);
        if (comma == std::string_view::npos) comma = value.size();
        if (at) out += ',';
        append_json_string(out, value.substr(at, comma - at));
        at = comma + 1;
    }
    out += ']';
}

void append_json_line(std::string &out, std::string_view input, const oxmeta_name &n) {
    out += '{';
    key(out, "input");
    append_json_string(out, input);
    for (const name_field &f : kFields) {
        key(out, f.key);
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
        case fk::episodes:
            out += '[';
            for (int i = 0; i < n.episode_count; ++i) {
                if (i) out += ',';
                append_int(out, n.episodes[i]);
            }
            out += ']';
            break;
        case fk::list: append_list(out, f.text(n)); break;
        case fk::count: append_int(out, f.number(n)); break;
        case fk::flag: out += f.number(n) ? "true" : "false"; break;
        }
    }
    out += "}\n";
}

// ------------------------------------------------------------------ rows

std::vector<std::string> headers() {
    std::vector<std::string> names;
    for (const name_field &f : kFields) names.emplace_back(f.header);
    return names;
}

std::vector<std::string> cells_of(const oxmeta_name &n) {
    std::vector<std::string> cells;
    for (const name_field &f : kFields) {
        switch (f.what) {
        case fk::text:
        case fk::list: cells.emplace_back(f.text(n)); break;
        case fk::number: cells.push_back(number_text(f.number(n))); break;
        case fk::episodes: cells.push_back(episodes_text(n)); break;
        case fk::count: cells.push_back(f.number(n) ? std::to_string(f.number(n)) : ""); break;
        case fk::flag: cells.push_back(f.number(n) ? "yes" : ""); break;
        }
    }
    return cells;
}

// Parses one name and prints it (JSON Lines, a tab-separated row) or keeps
// its row for the table.
struct printer {
    output_format format;
    bool truncate;
    rows table{headers(), {}};
    std::string line = {};

    void add(const std::string &input) {
        oxmeta_name n;
        n.size = sizeof n;
        oxmeta_parse_name(input.c_str(), &n);
        if (format == output_format::json) {
            line.clear();
            append_json_line(line, input, n);
            std::fwrite(line.data(), 1, line.size(), stdout);
        } else if (format == output_format::tsv) {
            rows one{headers(), {cells_of(n)}};
            print_tab_separated(one);
        } else {
            table.cells.push_back(cells_of(n));
        }
    }
    void finish() {
        if (format == output_format::table) print_aligned(table, truncate);
    }
};

// One name per line of stdin, streamed in constant memory; a line longer
// than kMaxLine is cut there. Output is flushed whenever the input read so
// far is used up, so that a program feeding names one at a time gets each
// answer at once, and a large input is written in large blocks.
void read_lines(printer &p) {
    static char buffer[1 << 16];
    std::string current;
    bool overlong = false;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size_t at = 0;
        const auto size = static_cast<size_t>(got);
        while (at < size) {
            const char *newline = static_cast<const char *>(std::memchr(buffer + at, '\n', size - at));
            const size_t end = newline ? static_cast<size_t>(newline - buffer) : size;
            if (!overlong) {
                const size_t room = kMaxLine - std::min(current.size(), kMaxLine);
                current.append(buffer + at, std::min(end - at, room));
                overlong = current.size() >= kMaxLine;
            }
            at = end;
            if (!newline) break;
            ++at;
            if (!current.empty() && current.back() == '\r') current.pop_back();
            p.add(current);
            current.clear();
            overlong = false;
        }
        std::fflush(stdout);
    }
    if (!current.empty()) p.add(current);
}

}  // namespace

void add_parse_command(CLI::App &app, operation &op) {
    static std::vector<std::string> names;
    CLI::App *parse = app.add_subcommand("parse", "What media file names say: title, year, season, episodes, tags (no request)");
    parse->add_option("name", names, "File names or paths; - reads one per line from stdin")->required();
    parse->footer("Example: oxmeta parse \"Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv\"");
    parse->callback([&op] {
        op = {"parse", operation::service::local, nullptr, [](const output_choice &choice) {
                  const bool from_stdin = names.size() == 1 && names.front() == "-";
                  const output_format format = choice.asked.value_or(
                      from_stdin && !choice.terminal ? output_format::json
                      : choice.terminal              ? output_format::table
                                                     : output_format::tsv);
                  static char buffer[1 << 16];
                  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
                  printer p{format, choice.terminal};
                  if (from_stdin)
                      read_lines(p);
                  else
                      for (const std::string &name : names) p.add(name);
                  p.finish();
                  return 0;
              }};
    });
}
