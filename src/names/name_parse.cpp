// oxmeta_parse_name: a path's components read as release names, then put
// together: the file name first, the folders above it for what it lacks.
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "name_scan.h"
#include "name_text.h"
#include "oxmeta.h"

namespace oxnames {
namespace {

constexpr int kMaxFolders = 3;  // the file's folder and the two above it

struct path_parts {
    std::string_view file;
    std::string_view folders[kMaxFolders];  // nearest first
    int folder_count = 0;
};

bool is_slash(char c) { return c == '/' || c == '\\'; }

// "C:", "\\server\share", "//server/share": not folders of the library.
size_t root_length(std::string_view path) {
    if (path.size() >= 2 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') return 2;
    if (path.size() >= 2 && is_slash(path[0]) && is_slash(path[1])) {
        size_t at = 2;
        for (int part = 0; part < 2 && at < path.size(); ++part) {
            while (at < path.size() && !is_slash(path[at])) ++at;
            if (part == 0 && at < path.size()) ++at;
        }
        return at;
    }
    return 0;
}

path_parts split_path(std::string_view path) {
    path_parts parts;
    path = path.substr(root_length(path));
    size_t end = path.size();
    while (end > 0 && is_slash(path[end - 1])) --end;
    bool have_file = false;
    while (end > 0) {
        size_t begin = end;
        while (begin > 0 && !is_slash(path[begin - 1])) --begin;
        const std::string_view part = path.substr(begin, end - begin);
        if (!have_file) {
            parts.file = part;
            have_file = true;
        } else if (parts.folder_count < kMaxFolders) {
            parts.folders[parts.folder_count++] = part;
        } else {
            break;
        }
        end = begin;
        while (end > 0 && is_slash(path[end - 1])) --end;
    }
    return parts;
}

template <size_t N>
bool named(std::string_view folder, const std::string_view (&list)[N]) {
    char buffer[32];
    const std::string_view lower = lower_into(folder, buffer, sizeof buffer);
    return !lower.empty() && one_of(lower, list);
}

// The title of a token range as a person writes it: words joined by
// spaces, " - " where a dash stood, "S.H.I.E.L.D." kept whole.
void write_words(const component &c, span s, char *out, size_t size) {
    field_writer w(out, size);
    bool first = true;
    for (int i = s.begin; i < s.end; ++i) {
        const token &t = c.tokens[i];
        if (t.dropped) continue;
        const bool letter = t.text.size() == 1 && ((t.text[0] | 0x20) >= 'a' && (t.text[0] | 0x20) <= 'z');
        const bool in_acronym = letter && t.dot_after && i + 1 < s.end && c.tokens[i + 1].text.size() == 1;
        const bool ends_acronym = letter && i > s.begin && c.tokens[i - 1].text.size() == 1 && c.tokens[i - 1].dot_after;
        if (!first && !(ends_acronym)) w.append(t.dash_before ? " - " : " ");
        w.append(t.text);
        if (in_acronym || (ends_acronym && t.dot_after) || (t.abbreviation && i + 1 < s.end)) w.append(".");
        first = false;
    }
}

void write_text(std::string_view text, char *out, size_t size) { field_writer(out, size).append(text); }

void write_joined(const std::string_view *items, int count, std::string_view separator, char *out, size_t size) {
    field_writer w(out, size);
    for (int i = 0; i < count; ++i) {
        if (i) w.append(separator);
        w.append(items[i]);
    }
}

// The tags of the file, and where it gives none, of its folder.
std::string_view either(std::string_view file, std::string_view folder) { return file.empty() ? folder : file; }

void fill(const component &f, const component *show, const component *tags_from, bool extra, oxmeta_name &n) {
    const bool episode = f.has_episode() || (f.leading_number >= 0 && show && f.season < 0 && show->season >= 0);
    // Which component names the title, its year and its country.
    const component *named_by = &f;
    span title = f.title;
    if (f.episode_count == 0 && f.absolute_episode < 0 && !f.date[0] && f.leading_number >= 0 && show &&
        (show->season >= 0 || f.season >= 0)) {
        // "Season 02/05 - Name.mkv": the number is the episode, the rest its name.
        n.episode_count = 1;
        n.episodes[0] = f.leading_number;
        write_words(f, f.after_leading, n.episode_title, sizeof n.episode_title);
        title = {};
    }
    // "Dark City (1998)/file.mkv": a folder that gives a year names the film
    // better than a file name that gives none.
    const bool folder_names_film = !episode && f.year < 0 && show && !show->season_folder && show->year > 0 &&
                                   !show->title.empty();
    if ((title.empty() || folder_names_film) && show) {
        named_by = show;
        title = show->title;
    }
    if (!title.empty()) write_words(*named_by, title, n.title, sizeof n.title);
    n.year = named_by->year;
    n.year_end = named_by->year_end;
    if (n.year < 0 && show && !show->season_folder) {
        n.year = show->year;
        n.year_end = show->year_end;
    }
    write_text(either(named_by->country, show ? show->country : std::string_view()), n.country, sizeof n.country);

    n.season = f.season >= 0 ? f.season : (episode && show ? show->season : -1);
    if (f.episode_count > 0) {
        n.episode_count = f.episode_count;
        std::memcpy(n.episodes, f.episodes, sizeof(int) * static_cast<size_t>(f.episode_count));
    }
    if (n.episode_count > 0 || f.absolute_episode >= 0 || f.date[0]) {
        if (!n.episode_title[0]) write_words(f, f.episode_title, n.episode_title, sizeof n.episode_title);
    }
    n.absolute_episode = f.absolute_episode;
    write_text(f.date, n.date, sizeof n.date);
    n.part = f.part;
    write_text(n.episode_count > 0 || f.absolute_episode >= 0 || f.date[0] ? "episode" : "movie", n.kind, sizeof n.kind);

    const component &t = tags_from ? *tags_from : f;
    write_text(either(f.screen_size, t.screen_size), n.screen_size, sizeof n.screen_size);
    write_text(either(f.source, t.source), n.source, sizeof n.source);
    write_text(either(f.video_codec, t.video_codec), n.video_codec, sizeof n.video_codec);
    write_text(either(f.audio_codec, t.audio_codec), n.audio_codec, sizeof n.audio_codec);
    write_text(either(f.audio_channels, t.audio_channels), n.audio_channels, sizeof n.audio_channels);
    const component &hdr = f.hdr.empty() ? t : f;
    const std::string_view hdrs[] = {hdr.hdr, hdr.hdr_second};
    write_joined(hdrs, hdr.hdr_second.empty() ? (hdr.hdr.empty() ? 0 : 1) : 2, ", ", n.hdr, sizeof n.hdr);
    const component &ed = f.edition.empty() ? t : f;
    const std::string_view editions[] = {ed.edition, ed.edition_second};
    write_joined(editions, ed.edition_second.empty() ? (ed.edition.empty() ? 0 : 1) : 2, ", ", n.edition,
                 sizeof n.edition);
    write_text(either(f.release_group, t.release_group), n.release_group, sizeof n.release_group);
    write_text(f.container, n.container, sizeof n.container);
    const component &lang = f.language_count ? f : t;
    write_joined(lang.languages, lang.language_count, ",", n.languages, sizeof n.languages);
    const component &subs = f.subtitle_count ? f : t;
    write_joined(subs.subtitles, subs.subtitle_count, ",", n.subtitles, sizeof n.subtitles);
    n.proper = f.proper;
    n.repack = f.repack;
    n.is_extra = extra || f.is_extra ? 1 : 0;
    if (n.season >= 0) {
        n.season_count = 1;
        n.seasons[0] = n.season;
    }
}

// The ids of the file name, or of the nearest folder that gives each.
void fill_ids(const component &file, const std::string_view *folders, int count, oxmeta_name &n) {
    n.tmdb_id = file.tmdb_id;
    n.tvdb_id = file.tvdb_id;
    std::string_view imdb = file.imdb_id;
    alignas(component) unsigned char storage[sizeof(component)];
    for (int i = 0; i < count && (n.tmdb_id < 0 || n.tvdb_id < 0 || imdb.empty()); ++i) {
        if (!may_hold_id(folders[i])) continue;
        component &folder = *new (storage) component;
        scan_ids(folders[i], folder);
        if (n.tmdb_id < 0) n.tmdb_id = folder.tmdb_id;
        if (n.tvdb_id < 0) n.tvdb_id = folder.tvdb_id;
        if (imdb.empty()) imdb = folder.imdb_id;
        if (!imdb.empty()) write_text(imdb, n.imdb_id, sizeof n.imdb_id);
    }
    if (!file.imdb_id.empty()) write_text(file.imdb_id, n.imdb_id, sizeof n.imdb_id);
}

// When the file's name has no title of its own, the whole name cleaned.
void fallback_title(std::string_view file, oxmeta_name &n) {
    if (n.title[0]) return;
    field_writer w(n.title, sizeof n.title);
    bool space = false;
    for (size_t i = 0; i < file.size() && i < kMaxComponent; ++i) {
        const unsigned char ch = static_cast<unsigned char>(file[i]);
        if (ch == '.' || ch == '_' || ch == ' ' || ch < 0x20 || ch == 0x7F) {
            space = w.length() > 0;
            continue;
        }
        if (space && !w.append(" ")) return;
        space = false;
        const size_t len = utf8_sequence(file, i);
        if (!w.append(file.substr(i, len ? len : 1))) return;
        if (len > 1) i += len - 1;
    }
}

}  // namespace

void parse(std::string_view path, oxmeta_name &n) {
    const path_parts parts = split_path(path);
    component file;
    scan_component(parts.file, true, file);

    // The folders above, leaving out extras folders (flagging the file) and
    // folders that say nothing ("Movies", "TV Shows").
    bool extra = false;
    std::string_view folders[kMaxFolders];
    int count = 0;
    for (int i = 0; i < parts.folder_count; ++i) {
        if (named(parts.folders[i], kExtraFolders)) {
            if (i == 0) extra = true;
            if (i == 0) continue;
        }
        if (named(parts.folders[i], kGenericFolders)) break;
        folders[count++] = parts.folders[i];
    }

    // The folders are read only for what the file name lacks: a title, a
    // year, a season, or the place of a bare number ("05 - Name.mkv").
    const bool complete = !file.title.empty() && file.leading_number < 0 &&
                          (file.has_episode() ? file.season >= 0 && file.year >= 0 : file.year >= 0);
    // Folder components are built only when read.
    alignas(component) unsigned char parent_storage[sizeof(component)];
    alignas(component) unsigned char grandparent_storage[sizeof(component)];
    const component *show = nullptr;
    const component *tags_from = nullptr;
    if (count > 0 && !complete) {
        component &parent = *new (parent_storage) component;
        scan_component(folders[0], false, parent);
        show = &parent;
        tags_from = &parent;
        if (parent.season_folder) {
            if (count > 1) {
                component &grandparent = *new (grandparent_storage) component;
                scan_component(folders[1], false, grandparent);
                grandparent.season = parent.season;
                grandparent.season_folder = false;
                show = &grandparent;
            } else {
                parent.title = {};  // only a season: no title from it
            }
        }
    }
    fill(file, show, tags_from, extra, n);
    fill_ids(file, folders, count, n);
    fallback_title(parts.file.empty() && count > 0 ? folders[0] : parts.file, n);
}

}  // namespace oxnames

namespace {

// The size of the record's first version (every field up to is_extra): a
// constant, not sizeof, so that fields added later do not move it.
constexpr uint32_t kFirstVersionSize = 1212;
static_assert(offsetof(oxmeta_name, season_count) == kFirstVersionSize, "the first version ends at is_extra");

void clear(oxmeta_name &n) {
    std::memset(&n, 0, sizeof n);
    n.year = n.year_end = n.season = n.absolute_episode = n.part = -1;
    n.tmdb_id = n.tvdb_id = -1;
}

void parse_into(const char *path, oxmeta_name &n) {
    clear(n);
    oxnames::parse(path, n);
}

}  // namespace

extern "C" OXMETA_API int oxmeta_parse_name(const char *path, oxmeta_name *out) {
    if (!path || !out || out->size < kFirstVersionSize) return OXMETA_E_INVALID_ARG;
    const uint32_t size = out->size;
    if (size >= sizeof(oxmeta_name)) {
        // Every field this version knows is within out->size: fill them in place.
        parse_into(path, *out);
    } else {
        // A host built against an earlier version: only its bytes are written.
        oxmeta_name whole;
        parse_into(path, whole);
        std::memcpy(out, &whole, size);
    }
    out->size = size;
    return OXMETA_OK;
}
