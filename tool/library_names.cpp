// Library names: layouts as templates, tokens filled in, components made
// legal and short enough.
#include "library_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

constexpr size_t kMaxComponent = 255;

struct layout_templates {
    const char *name;
    const char *movie;
    const char *episode;
};

constexpr std::array<layout_templates, 3> kLayouts{{
    {"jellyfin", "{title} ({year}) [tmdbid-{tmdb}]/{title} ({year}) [tmdbid-{tmdb}].{ext}",
     "{title} ({year}) [tmdbid-{tmdb}]/Season {season:02}/{title} S{season:02}E{episode:02} - {episode_title}.{ext}"},
    {"plex", "{title} ({year}) {tmdb-{tmdb}}/{title} ({year}) {tmdb-{tmdb}}.{ext}",
     "{title} ({year}) {tmdb-{tmdb}}/Season {season:02}/{title} ({year}) - s{season:02}e{episode:02} - {episode_title}.{ext}"},
    {"kodi", "{title} ({year})/{title} ({year}).{ext}",
     "{title} ({year})/Season {season:02}/{title} ({year}) - s{season:02}e{episode:02} - {episode_title}.{ext}"},
}};

constexpr std::array<std::string_view, 10> kTokens{"title",         "year",    "tmdb",        "imdb", "season",
                                                   "episode",       "episode_title", "edition", "screen_size", "ext"};

// The token at text[at] ("{name}" or "{name:0N}"): its name, width and
// length; length 0 when text[at] is a literal brace.
struct token {
    std::string_view name;
    int width = 0;
    size_t length = 0;
};

token token_at(std::string_view text, size_t at) {
    token t;
    const size_t close = text.find('}', at);
    if (text[at] != '{' || close == std::string_view::npos) return t;
    std::string_view inside = text.substr(at + 1, close - at - 1);
    int width = 0;
    if (const size_t colon = inside.find(':'); colon != std::string_view::npos) {
        const std::string_view format = inside.substr(colon + 1);  // "02": zero-padded to 2 digits
        if (format.size() != 2 || format[0] != '0' || !std::isdigit(static_cast<unsigned char>(format[1]))) return t;
        width = format[1] - '0';
        inside = inside.substr(0, colon);
    }
    if (std::find(kTokens.begin(), kTokens.end(), inside) == kTokens.end()) return t;
    return {inside, width, close - at + 1};
}

std::string padded(int number, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", width, number);
    return text;
}

// A token's value as a name may hold it: separators and characters
// Windows refuses taken out, a colon made " - ".
std::string clean_value(const std::string &value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7f) continue;
        if (c == ':') {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += " - ";
            while (i + 1 < value.size() && value[i + 1] == ' ') ++i;
        } else if (c == '/' || c == '\\') {
            out += '-';
        } else if (std::string_view("<>\"|?*").find(static_cast<char>(c)) == std::string_view::npos) {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string value_of(const library_entry &e, const token &t, char before) {
    if (t.name == "title") return clean_value(e.title);
    if (t.name == "year") return e.year > 0 ? std::to_string(e.year) : "";
    if (t.name == "tmdb") return clean_value(e.tmdb);
    if (t.name == "imdb") return clean_value(e.imdb);
    if (t.name == "season") return e.season >= 0 ? padded(e.season, t.width) : "";
    if (t.name == "episode") {
        if (e.episodes.empty()) return "";
        std::string text = padded(e.episodes.front(), t.width);
        // A file of several episodes: S01E01-E02, s01e01-e02.
        if (e.episodes.size() > 1)
            text += (before == 'E' || before == 'e' ? std::string("-") + before : std::string("-")) +
                    padded(e.episodes.back(), t.width);
        return text;
    }
    if (t.name == "episode_title") return clean_value(e.episode_title);
    if (t.name == "edition") return clean_value(e.edition);
    if (t.name == "screen_size") return clean_value(e.screen_size);
    return clean_value(e.ext);
}

std::string render(const library_entry &e, std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const token t = token_at(text, i);
        if (t.length == 0) {
            out += text[i++];
            continue;
        }
        out += value_of(e, t, out.empty() ? '\0' : out.back());
        i += t.length;
    }
    return out;
}

// text with every from made to (built anew: the result may shrink as
// "  " becomes " ", so each pass starts again until none is left).
void replace_all(std::string &text, std::string_view from, std::string_view to) {
    while (text.find(from) != std::string::npos) {
        std::string out;
        size_t start = 0;
        for (size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size())
            out.append(text, start, at - start).append(to);
        out.append(text, start, std::string::npos);
        text = std::move(out);
    }
}

// What a missing value leaves behind: "Title ()", "[tmdbid-]", "S01E01 - ".
std::string tidy(std::string text) {
    for (std::string_view empty : {"()", "[]", "{}", "[tmdbid-]", "{tmdb-}", "[imdbid-]", "{imdb-}"})
        replace_all(text, empty, "");
    replace_all(text, "  ", " ");
    while (text.size() >= 2 && (text.compare(text.size() - 2, 2, " -") == 0)) text.resize(text.size() - 2);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(0, 1);
    return text;
}

bool reserved_device(const std::string &name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char &c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '0' &&
           base[3] <= '9';
}

std::vector<std::string> split(std::string_view text) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t slash = text.find('/', start);
        parts.emplace_back(text.substr(start, slash - start));
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

const char *template_for(const library_entry &e, const std::string &layout, const std::string &text) {
    for (const layout_templates &l : kLayouts)
        if (layout == l.name) return e.episode ? l.episode : l.movie;
    return text.c_str();
}

// The component rendered from part, made legal, within budget bytes; the
// episode title cut first when it is too long.
std::string fit(library_entry e, const std::string &part, size_t budget) {
    std::string name = legal_component(tidy(render(e, part)));
    if (name.size() > budget && !e.episode_title.empty()) {
        const size_t excess = name.size() - budget;
        e.episode_title = cut_utf8(e.episode_title, e.episode_title.size() > excess ? e.episode_title.size() - excess : 0);
        name = legal_component(tidy(render(e, part)));
    }
    if (name.size() > budget) name = legal_component(cut_utf8(name, budget));
    return name;
}

}  // namespace

std::string cut_utf8(const std::string &name, size_t max_bytes) {
    if (name.size() <= max_bytes) return name;
    size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

std::string legal_component(const std::string &name) {
    std::string out = clean_value(name);
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    while (!out.empty() && out.front() == ' ') out.erase(0, 1);
    if (out.empty() || out == "." || out == "..") return "_";
    if (reserved_device(out)) {
        const size_t dot = std::min(out.find('.'), out.size());
        out = out.substr(0, dot) + "_" + out.substr(dot);
    }
    return out;
}

std::string template_problem(const std::string &text) {
    if (text.empty()) return "the template is empty";
    if (text.front() == '/') return "the template must give a path inside the library, not start with /";
    const std::vector<std::string> parts = split(text);
    for (const std::string &part : parts)
        if (part.empty() || part == "." || part == "..") return "the template has an empty, . or .. folder";
    const std::string &last = parts.back();
    if (last.size() < 6 || last.compare(last.size() - 6, 6, ".{ext}") != 0) return "the template's file name must end in .{ext}";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '{') continue;
        const token t = token_at(text, i);
        if (t.length == 0 && text.find('}', i) != std::string::npos && text.find('{', i + 1) > text.find('}', i))
            return "unknown token " + text.substr(i, text.find('}', i) - i + 1) +
                   " (tokens: {title} {year} {tmdb} {imdb} {season:02} {episode:02} {episode_title} {edition} "
                   "{screen_size} {ext})";
    }
    return "";
}

std::vector<std::string> library_path(const library_entry &entry, const std::string &layout, const std::string &text,
                                      size_t suffix_room) {
    std::vector<std::string> parts = split(template_for(entry, layout, text));
    std::string file = parts.back();
    file.resize(file.size() - 6);  // ".{ext}"
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < parts.size(); ++i) out.push_back(fit(entry, parts[i], kMaxComponent));
    const std::string ext = clean_value(entry.ext);
    const size_t tail = std::max(ext.size() + 1, suffix_room);
    out.push_back(fit(entry, file, kMaxComponent > tail ? kMaxComponent - tail : 1) + (ext.empty() ? "" : "." + ext));
    return out;
}
