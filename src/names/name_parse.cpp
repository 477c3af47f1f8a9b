// oxmeta_parse_name: a path's components read as release names, then put
// together: the file name first, the folders above it for what it lacks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "name_classify.h"
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

// Where the last component of path begins: just after its last '/' or '\\'.
// Eight bytes at a time, as long paths are common.
size_t after_last_slash(std::string_view path) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    size_t end = path.size();
    while (end >= 8) {
        uint64_t x;
        std::memcpy(&x, path.data() + end - 8, 8);
        const uint64_t slash = x ^ ('/' * kOnes), back = x ^ ('\\' * kOnes);
        if (((slash - kOnes) & ~slash & kHighs) || ((back - kOnes) & ~back & kHighs)) break;
        end -= 8;
    }
    while (end > 0 && !is_slash(path[end - 1])) --end;
    return end;
}

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
        const size_t begin = after_last_slash(path.substr(0, end));
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
bool named(std::string_view folder, const word_set<N> &set) {
    char buffer[32];
    const std::string_view lower = lower_into(folder, buffer, sizeof buffer);
    return set.has(lower);
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

// The record is cleared before it is filled: an empty text needs no write.
void write_text(std::string_view text, char *out, size_t size) {
    if (!text.empty()) field_writer(out, size).append(text);
}

void write_joined(const std::string_view *items, int count, std::string_view separator, char *out, size_t size) {
    if (count == 0) return;
    field_writer w(out, size);
    for (int i = 0; i < count; ++i) {
        if (i) w.append(separator);
        w.append(items[i]);
    }
}

// The tags of the file, and where it gives none, of its folder.
std::string_view either(std::string_view file, std::string_view folder) { return file.empty() ? folder : file; }

bool all_digits_text(std::string_view t) {
    if (t.empty()) return false;
    for (char ch : t)
        if (ch < '0' || ch > '9') return false;
    return true;
}

// The file's own reading of a bare number: an episode placed by the folders.
struct placed_episode {
    int episode = -1;
    int last_episode = -1;  // of a range
    span title;          // what names the show in the file (empty: the folders)
    span episode_title;
};

placed_episode place_number(const component &f, const component *show, bool in_season_folder) {
    placed_episode p;
    p.title = f.title;
    if (f.has_episode()) return p;
    const int folder_season = show ? show->season : -1;
    // "Season 02/05 - Name.mkv": the number is the episode, the rest its name.
    if (f.leading_number >= 0 && show && (folder_season >= 0 || f.season >= 0)) {
        const int season = f.season >= 0 ? f.season : folder_season;
        // "Season 1/101.avi", "Season 08/0823.avi": the season's number, then the episode's.
        const bool compact = f.leading_number >= 100 && season > 0 && f.leading_number / 100 == season;
        p.episode = compact ? f.leading_number % 100 : f.leading_number;
        // "1017-1018.avi": two episodes.
        if (f.leading_last > f.leading_number)
            p.last_episode = compact && f.leading_last / 100 == season ? f.leading_last % 100 : f.leading_last;
        p.title = {};
        p.episode_title = f.after_leading;
        // "03 - Show - Episode Name": the show named again before the episode's name.
        for (int i = f.after_leading.begin + 1; i < f.after_leading.end; ++i)
            if (f.tokens[i].dash_before && (f.tokens[f.after_leading.begin].dash_before ||
                                            f.tokens[f.after_leading.begin - 1].dot_after)) {
                p.episode_title.begin = i;
                break;
            }
        return p;
    }
    // "Show.S02.720p.HDTV/show.205.mkv", "Season 2/Show 205.mkv": the
    // season's number then the episode's, where a folder gives the season.
    if (f.season < 0 && folder_season > 0 && f.title.end - f.title.begin >= 2) {
        const std::string_view last = f.tokens[f.title.end - 1].text;
        int value = -1;
        if ((last.size() == 3 || last.size() == 4) && all_digits_text(last)) {
            value = 0;
            for (char ch : last) value = value * 10 + (ch - '0');
        }
        if (value > 0 && value / 100 == folder_season && value % 100 > 0) {
            p.episode = value % 100;
            p.title.end = f.title.end - 1;
            return p;
        }
    }
    // "03 - Title - Episode Name.mkv", "003. Title - Episode Name.mkv".
    if (f.leading_number >= 0 && f.year < 0 && !f.after_leading.empty()) {
        const int begin = f.after_leading.begin;
        const bool parted = f.tokens[begin].dash_before || f.tokens[begin - 1].dot_after;
        int dash = -1;
        for (int i = begin + 1; i < f.after_leading.end && dash < 0; ++i)
            if (f.tokens[i].dash_before) dash = i;
        if (parted && dash > 0) {
            p.episode = f.leading_number;
            p.title = {begin, dash};
            p.episode_title = {dash, f.after_leading.end};
            return p;
        }
    }
    // "Show (2008)/Season 1/Episode Title.mkv": under a season folder, a
    // file is an episode, and its words are the episode's name.
    if (in_season_folder && !f.is_show() && show) {
        p.episode_title = f.title;
        p.title = {};
        p.episode = 0;  // an episode, its number unknown
    }
    return p;
}

void fill(const component &f, const component *show, const component *tags_from, bool extra, bool in_season_folder,
          oxmeta_name &n) {
    const placed_episode placed = place_number(f, show, in_season_folder);
    // "Firefly - The Complete Series/Firefly - Disc 1.iso": a file in a
    // season's or a show's pack is of the show.
    const bool in_pack = show && !show->season_folder && (show->pack || (show->season >= 0 && !show->has_episode()));
    const bool episode = f.is_show() || placed.episode >= 0 || in_pack;
    // Which component names the title, its year and its country.
    const component *named_by = &f;
    span title = placed.title;
    if (placed.episode > 0) {
        n.episode_count = 1;
        n.episodes[0] = placed.episode;
        for (int e = placed.episode + 1; e <= placed.last_episode && n.episode_count < OXMETA_NAME_EPISODES; ++e)
            n.episodes[n.episode_count++] = e;
    }
    if (placed.episode >= 0) write_words(f, placed.episode_title, n.episode_title, sizeof n.episode_title);
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
    if (n.year < 0 && named_by != &f && f.year > 0) {
        n.year = f.year;
        n.year_end = f.year_end;
    }
    write_text(either(named_by->country, show ? show->country : std::string_view()), n.country, sizeof n.country);

    n.season = f.season >= 0 ? f.season : (episode && show ? show->season : -1);
    const component *seasons = f.season_count > 0 ? &f : (episode && show && f.season < 0 ? show : nullptr);
    if (seasons && seasons->season_count > 0) {
        n.season_count = seasons->season_count;
        std::memcpy(n.seasons, seasons->seasons, sizeof(int) * static_cast<size_t>(seasons->season_count));
    } else if (n.season >= 0) {
        n.season_count = 1;
        n.seasons[0] = n.season;
    }
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
    write_text(episode ? "episode" : "movie", n.kind, sizeof n.kind);

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
}

// The ids of the file name (own: its own reading, file: the component that
// names it), or of the nearest folder that gives each.
void fill_ids(const component &own, const component &file, const std::string_view *folders, int count,
              oxmeta_name &n) {
    n.tmdb_id = own.tmdb_id >= 0 ? own.tmdb_id : file.tmdb_id;
    n.tvdb_id = own.tvdb_id >= 0 ? own.tvdb_id : file.tvdb_id;
    std::string_view imdb = own.imdb_id.empty() ? file.imdb_id : own.imdb_id;
    alignas(component) unsigned char storage[sizeof(component)];
    for (int i = 0; i < count && (n.tmdb_id < 0 || n.tvdb_id < 0 || imdb.empty()); ++i) {
        if (!may_hold_id(folders[i])) continue;
        component &folder = *new (storage) component;
        scan_ids(folders[i], folder);
        if (n.tmdb_id < 0) n.tmdb_id = folder.tmdb_id;
        if (n.tvdb_id < 0) n.tvdb_id = folder.tvdb_id;
        if (imdb.empty()) imdb = folder.imdb_id;  // a view into the path, not into folder
    }
    if (!imdb.empty()) write_text(imdb, n.imdb_id, sizeof n.imdb_id);
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

// A token no person named a file with: a hash ("3f9c0a77e1d04b6f") or a
// run of digits ("190312", "00001").
bool meaningless(std::string_view t) {
    if (all_digits_text(t)) return true;
    // "title_t01", "B3_t00": the names a disc ripper gives.
    if (t.size() == 3 && (t[0] | 0x20) == 't' && all_digits_text(t.substr(1))) return true;
    if (t.size() == 5 && same_letters(t, "title")) return true;
    if (t.size() < 4) return false;
    int digits = 0, letters = 0;
    bool hex = true;
    for (char ch : t) {
        const char lower = static_cast<char>(ch | 0x20);
        if (ch >= '0' && ch <= '9') ++digits;
        else if (lower >= 'a' && lower <= 'z') ++letters;
        else return false;
        hex = hex && ((ch >= '0' && ch <= '9') || (lower >= 'a' && lower <= 'f'));
    }
    return digits >= 1 && letters >= 1 && ((hex && t.size() >= 4 && digits + letters >= 4) || t.size() >= 16);
}

// "1080p", "x264" and "S03E06" written backwards: a name reversed.
bool reversed_tags(const component &f) {
    int found = 0;
    for (int i = 0; i < f.count; ++i) {
        const std::string_view t = f.tokens[i].text;
        for (size_t begin = 0; begin < t.size();) {
            size_t end = t.find('-', begin);
            if (end == std::string_view::npos) end = t.size();
            const size_t n = end - begin;
            if (n >= 3 && n <= 8) {
                char buffer[8];
                for (size_t k = 0; k < n; ++k) {
                    const char ch = t[end - 1 - k];
                    buffer[k] = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
                }
                const std::string_view back(buffer, n);
                const word *w = find_word(back);
                int season = -1;
                episode_list list;
                list.count = 0;
                if ((w && !w->weak && w->what != field::other) || parse_season_episode(back, season, list)) ++found;
            }
            begin = end + 1;
        }
    }
    return found >= 2;
}

// A (non-empty) title no person gave: hashes and digits ("190312 04"), or a
// ripper's title number after a short prefix ("B3_t00").
bool meaningless_title(const component &f) {
    bool all = true;
    for (int i = f.title.begin; i < f.title.end && all; ++i) all = f.tokens[i].dropped || meaningless(f.tokens[i].text);
    const std::string_view last = f.tokens[f.title.end - 1].text;
    return all || (f.title.end - f.title.begin <= 2 && last.size() == 3 && (last[0] | 0x20) == 't' &&
                   all_digits_text(last.substr(1)));
}

// Whether the file name may lack a usable title of its own: a hash,
// digits, the group's abbreviation ("grp-sf1080p") or prefix
// ("grp-some.film.2010"), a sample, or a name written backwards. Tells
// from the file alone whether its folder is worth reading for it.
bool may_lack_title(const component &f) {
    if (f.title.empty()) return !f.is_show();
    if (f.is_extra && !f.is_show() && f.year < 0) return true;
    if (meaningless_title(f) && !f.is_show()) return true;
    const std::string_view first = f.tokens[f.title.begin].text;
    if (first.find('-') != std::string_view::npos) return true;
    if (f.title.end - f.title.begin == 1 && f.lower_case && first.size() <= 6) return true;  // an abbreviation?
    return !f.strong_tags && f.year < 0 && !f.is_show();
}

// Whether word (2 to 6 letters) shortens the folder's title: its first
// letters ("ind": "Industry") or its words' initials ("mm": "Mad Men").
bool abbreviates(std::string_view word, const component &folder) {
    if (word.size() < 2 || word.size() > 6 || folder.title.empty()) return false;
    const std::string_view first = folder.tokens[folder.title.begin].text;
    if (first.size() > word.size() && same_letters(first.substr(0, word.size()), word)) return true;
    size_t at = 0;
    for (int i = folder.title.begin; i < folder.title.end && at < word.size(); ++i, ++at)
        if ((folder.tokens[i].text[0] | 0x20) != (word[at] | 0x20)) return false;
    return at == word.size() && folder.title.end - folder.title.begin == static_cast<int>(word.size());
}

// A file name with no usable title of its own inside a release folder.
bool title_unusable(const component &f, const component &folder) {
    if (folder.title.empty() || folder.season_folder) return false;
    // "1917 (2019)/1917 (2019) [1080p].mkv": the folder's own title.
    if (!f.title.empty() && same_letters(f.tokens[f.title.begin].text, folder.tokens[folder.title.begin].text))
        return false;
    if (!(folder.strong_tags || folder.year > 0 || folder.is_show())) return false;
    if (f.title.empty()) return !f.is_show();
    // A sample in a release's folder ("sample-bb.mkv"): the release names it.
    if (f.is_extra && !f.is_show() && f.year < 0) return true;
    // The group in front: "grp-some.film.2010.1080p", "grp-sf1080p".
    const std::string_view first = f.tokens[f.title.begin].text;
    const size_t dash = first.find('-');
    if (dash != std::string_view::npos && !folder.release_group.empty() &&
        (same_letters(first.substr(0, dash), folder.release_group) || (f.lower_case && dash <= 5)))
        return true;
    // "ind.208.1080p-glhf.mkv", "mm-s01e05": the folder's title abbreviated.
    if (f.title.end - f.title.begin == 1 && abbreviates(f.tokens[f.title.begin].text, folder)) return true;
    if (!f.strong_tags && f.year < 0 && !f.is_show() && reversed_tags(f)) return true;
    return meaningless_title(f) && !f.is_show();
}

// Gives to the episode what the file says of its season and number.
void take_episode(const component &from, component &to) {
    if (from.season >= 0) {
        to.season = from.season;
        to.season_count = from.season_count;
        std::memcpy(to.seasons, from.seasons, sizeof from.seasons);
    }
    to.episode_count = from.episode_count;
    std::memcpy(to.episodes, from.episodes, sizeof from.episodes);
    to.absolute_episode = from.absolute_episode;
    std::memcpy(to.date, from.date, sizeof from.date);
}

// How many folders a disc's structure takes: "VIDEO_TS", "BDMV" or
// "HVDVD_TS" one, "BDMV/STREAM" (or PLAYLIST, CLIPINF ...) two; 0 when the
// file is not in one.
int disc_depth(const std::string_view *folders, int count) {
    constexpr std::string_view kDiscFolders[] = {"audio_ts", "bdmv", "hvdvd_ts", "video_ts"};
    constexpr std::string_view kBlurayFolders[] = {"auxdata", "backup", "bdjo", "clipinf", "jar", "meta", "playlist",
                                                   "stream"};
    char first[16], second[16];
    const std::string_view a = count > 0 ? lower_into(folders[0], first, sizeof first) : std::string_view();
    if (!a.empty() && one_of(a, kDiscFolders)) return 1;
    if (!a.empty() && count > 1 && one_of(a, kBlurayFolders) && lower_into(folders[1], second, sizeof second) == "bdmv")
        return 2;
    return 0;
}

}  // namespace

void parse(std::string_view path, oxmeta_name &n) {
    const path_parts parts = split_path(path);
    alignas(component) unsigned char file_storage[sizeof(component)];
    component *file = new (file_storage) component;
    scan_component(parts.file, true, *file);
    const component *own = file;  // the file name's own reading

    // The folders above, leaving out extras folders (flagging the file) and
    // folders that say nothing ("Movies", "TV Shows").
    bool extra = false;
    std::string_view all_folders[kMaxFolders];
    int count = 0;
    for (int i = 0; i < parts.folder_count; ++i) {
        if (named(parts.folders[i], kExtraFolders)) {
            if (i == 0) extra = true;
            if (i == 0) continue;
        }
        if (i == 0 && named(parts.folders[i], kSubtitleFolders)) continue;
        if (named(parts.folders[i], kGenericFolders)) break;
        all_folders[count++] = parts.folders[i];
    }
    const std::string_view *folders = all_folders;

    // Folder components are built only when read, each in a slot of its own.
    alignas(component) unsigned char slots[3][sizeof(component)];
    int used = 0;
    auto read_folder = [&](std::string_view text) {
        component *c = new (slots[used++]) component;
        scan_component(text, false, *c);
        return c;
    };
    component *parent = nullptr;

    // A disc's structure ("Film (2010)/VIDEO_TS/VTS_01_1.VOB") or a file
    // name with no title of its own in a release folder: the folder names
    // the file, and the file keeps its container and its extra flag.
    const int disc = disc_depth(folders, count);
    bool folder_is_file = disc > 0 && count > disc;
    if (disc > 0) {
        folders += disc;
        count -= disc;
    }
    if (!folder_is_file && count > 0 && may_lack_title(*file)) {
        parent = read_folder(folders[0]);
        folder_is_file = title_unusable(*file, *parent);
    }
    if (folder_is_file) {
        component *named = parent ? parent : read_folder(folders[0]);
        named->container = file->container;
        named->is_extra = named->is_extra || file->is_extra;
        // "rovers-theexpanse-s03e05-1080p.mkv" in a season's folder: the
        // folder names the show, the file keeps its own episode.
        if (disc == 0 && file->has_episode()) take_episode(*file, *named);
        file = named;
        parent = nullptr;
        ++folders;
        --count;
    }

    // The folders are read only for what the file name lacks: a title, a
    // year, a season, or the place of a bare number ("05 - Name.mkv").
    const bool complete = !file->title.empty() && file->leading_number < 0 &&
                          (file->has_episode() ? file->season >= 0 && file->year >= 0 : file->year >= 0);
    const component *show = nullptr;
    const component *tags_from = nullptr;
    bool in_season_folder = false;
    if (count > 0 && !complete) {
        if (!parent) parent = read_folder(folders[0]);
        show = parent;
        tags_from = parent;
        if (parent->season_folder) {
            in_season_folder = true;
            if (count > 1) {
                component &grandparent = *read_folder(folders[1]);
                grandparent.season = parent->season;
                grandparent.season_folder = false;
                show = &grandparent;
            } else {
                parent->title = {};  // only a season: no title from it
            }
        }
    }
    fill(*file, show, tags_from, extra, in_season_folder, n);
    fill_ids(*own, *file, folders, count, n);
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
