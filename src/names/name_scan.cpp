#include "name_scan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "name_classify.h"

namespace oxnames {
namespace {

constexpr int kHeadTokens = 24;  // tokens kept from the start of an overlong name

void add_language(std::string_view *list, int &count, std::string_view code) {
    if (code.empty()) return;
    for (int i = 0; i < count; ++i)
        if (list[i] == code) return;
    if (count < kMaxLanguages) list[count++] = code;
}

void set_once(std::string_view &slot, std::string_view value, std::string_view *second = nullptr) {
    if (value.empty() || slot == value) return;
    if (slot.empty()) {
        slot = value;
    } else if (second && second->empty()) {
        *second = value;
    }
}

// Fills the component's field for a tag.
void apply_tag(component &c, const info &in) {
    if (!in.w) {
        set_once(c.audio_channels, in.channels);
        return;
    }
    const std::string_view v = in.w->value;
    switch (in.w->what) {
    case field::screen_size: set_once(c.screen_size, v); break;
    case field::source: set_once(c.source, v); break;
    case field::video_codec: set_once(c.video_codec, v); break;
    case field::audio_codec:
        set_once(c.audio_codec, v);
        set_once(c.audio_channels, in.channels);
        break;
    case field::audio_channels: set_once(c.audio_channels, v); break;
    case field::hdr: set_once(c.hdr, v, &c.hdr_second); break;
    case field::edition: set_once(c.edition, v, &c.edition_second); break;
    case field::language:
        if (in.subtitles)
            add_language(c.subtitles, c.subtitle_count, v);
        else
            add_language(c.languages, c.language_count, v);
        break;
    case field::subtitles: add_language(c.subtitles, c.subtitle_count, v); break;
    case field::proper: ++c.proper; break;
    case field::repack: ++c.repack; break;
    case field::extra: c.is_extra = true; break;
    case field::pack: c.pack = true; break;
    case field::other: break;
    }
}

bool is_marker_text(std::string_view lower) {
    int season = -1;
    episode_list list;
    list.count = 0;
    return parse_season_episode(lower, season, list) || parse_cross(lower, season, list) ||
           parse_episode_only(lower, list);
}

// Where to cut t at a dash beside a marker ("Name-s02-e05": 4, before the
// marker; "s03e05-1080p": 6, after it), or npos when t is a marker itself
// or holds none.
size_t dash_before_marker(const component &c, std::string_view t) {
    const size_t first_dash = t.find('-');
    if (first_dash == std::string_view::npos || first_dash == 0 || t.size() > 64) return std::string_view::npos;
    const std::string_view lower(c.lowered + (t.data() - c.base), t.size());
    if (is_marker_text(lower)) return std::string_view::npos;
    // "s03e05-1080p": a marker first, cut after it.
    if (is_marker_text(lower.substr(0, first_dash))) return first_dash;
    for (size_t dash = first_dash; dash != std::string_view::npos; dash = lower.find('-', dash + 1)) {
        const size_t next = lower.find('-', dash + 1);
        const std::string_view piece = lower.substr(dash + 1, next == std::string_view::npos ? next : next - dash - 1);
        if (!piece.empty() && is_marker_text(piece)) return dash;
    }
    return std::string_view::npos;
}

// Splits text into tokens: separators, brackets (their tokens share a
// group number), lone dashes (marking the token after them).
void tokenize(std::string_view text, component &c) {
    int depth = 0;
    uint8_t group = 0;
    uint8_t next_group = 1;
    bool dash = false;
    size_t i = 0;
    while (i < text.size()) {
        const char ch = text[i];
        if (is_separator(static_cast<unsigned char>(ch))) {
            if (ch == '.' && c.count > 0) {
                token &last = c.tokens[c.count - 1];
                if (last.text.data() + last.text.size() == text.data() + i) {
                    last.dot_after = true;
                    // "Mr. Robot", "Vol. 2": a short word, its dot, then a space.
                    if (i + 1 < text.size() && text[i + 1] == ' ' && last.text.size() <= 3) {
                        bool letters = true;
                        for (char l : last.text.view()) letters = letters && ((l | 0x20) >= 'a' && (l | 0x20) <= 'z');
                        last.abbreviation = letters;
                    }
                }
            }
            ++i;
            continue;
        }
        if (is_open(ch)) {
            if (depth++ == 0) {
                group = next_group;
                if (next_group < 255) ++next_group;
            }
            ++i;
            continue;
        }
        if (is_close(ch)) {
            if (depth > 0 && --depth == 0) group = 0;
            ++i;
            continue;
        }
        size_t j = i;
        bool inner_dash = false;
        while (j < text.size() && kWordByte.of[static_cast<unsigned char>(text[j])]) inner_dash |= text[j++] == '-';
        std::string_view t = text.substr(i, j - i);
        i = j;
        if (is_dash(t)) {
            dash = true;
            continue;
        }
        while (!t.empty() && t.front() == '-') {
            dash = true;
            t.remove_prefix(1);
        }
        // "Show_Name-s02-e05", "Show-2x05": a marker joined to the words by
        // dashes is read as a token of its own; the rest after it.
        if (const size_t cut = inner_dash ? dash_before_marker(c, t) : std::string_view::npos;
            cut != std::string_view::npos) {
            i = static_cast<size_t>(t.data() - text.data()) + cut;
            t = t.substr(0, cut);
        }
        bool dash_after = false;
        while (!t.empty() && t.back() == '-') {
            dash_after = true;
            t.remove_suffix(1);
        }
        // A name of more tokens than there is room for keeps its first
        // tokens (the title) and its last (the tags).
        if (c.count == kMaxTokens) {
            std::memmove(&c.tokens[kHeadTokens], &c.tokens[kHeadTokens + 1],
                         sizeof(token) * static_cast<size_t>(kMaxTokens - kHeadTokens - 1));
            --c.count;
        }
        token &added = c.tokens[c.count++];
        added.text = t;
        added.group = group;
        added.dash_before = dash;
        added.dot_after = added.abbreviation = added.dropped = false;
        dash = dash_after;
    }
}

// The number of tokens of bracket group g from index i on.
int group_length(const component &c, int i) {
    const uint8_t g = c.tokens[i].group;
    int n = 0;
    while (i + n < c.count && c.tokens[i + n].group == g) ++n;
    return n;
}

bool is_hash(std::string_view t) {
    if (t.size() != 8) return false;
    for (char ch : t)
        if (!is_hex(ch)) return false;
    // A hash mixes digits and letters in practice; "20201231" is a date.
    return !all_digits(t);
}

// Removes site prefixes ("[www.site.org] - ", "www.site.com - "), hashes
// ("[ABCD1234]"), the leading group of fansub releases ("[Group] Title")
// and trailing site tags ("[rarbg]"), and the release group after the last
// '-' of a scene name.
void drop_noise(component &c, bool is_file) {
    if (c.count == 0) return;
    // Sites.
    const std::string_view first = c.lower(0);
    if (same(first, "www") || first.substr(0, 4) == "www.") {
        int n = c.tokens[0].group ? group_length(c, 0) : 0;
        if (n == 0)
            while (n < c.count && n < 4 && (n == 0 || !c.tokens[n].dash_before)) ++n;
        for (int k = 0; k < n; ++k) c.tokens[k].dropped = true;
        if (n < c.count) c.tokens[n].dash_before = false;
    } else if (c.tokens[0].group && group_length(c, 0) >= 2 && group_length(c, 0) < c.count) {
        // "[ site.com ] - Title": a bracketed address first.
        const int n = group_length(c, 0);
        if (kSiteEndings.has(c.lower(n - 1))) {
            for (int k = 0; k < n; ++k) c.tokens[k].dropped = true;
            c.tokens[n].dash_before = false;
        }
    }
    // Hashes.
    for (int k = 0; k < c.count; ++k)
        if (c.tokens[k].group && group_length(c, k) == 1 && is_hash(c.tokens[k].text) &&
            (k == 0 || c.tokens[k - 1].group != c.tokens[k].group))
            c.tokens[k].dropped = true;
    // "[Group] Title - 05": a bracket group first, that tags nothing.
    int first_kept = 0;
    while (first_kept < c.count && c.tokens[first_kept].dropped) ++first_kept;
    if (first_kept < c.count && c.tokens[first_kept].group) {
        const int n = group_length(c, first_kept);
        bool tags = false;
        for (int k = first_kept; k < first_kept + n; ++k) tags = tags || release_like(c, k);
        // "[Paprika] [2006] [1080p]": when no words follow, the brackets hold the title.
        bool words_follow = false;
        for (int k = first_kept + n; k < c.count && !words_follow; ++k)
            words_follow = !c.tokens[k].dropped && !all_digits(c.tokens[k].text) && !tags_something(c, k);
        if (!tags && words_follow) {
            const token &g = c.tokens[first_kept];
            const token &last = c.tokens[first_kept + n - 1];
            c.release_group = std::string_view(g.text.data(), static_cast<size_t>(last.text.data() + last.text.size() - g.text.data()));
            for (int k = first_kept; k < first_kept + n; ++k) c.tokens[k].dropped = true;
            if (first_kept + n < c.count) c.tokens[first_kept + n].dash_before = false;
        }
    }
    if (!is_file && c.count < 2) return;
    // Trailing bracket groups of sites ("[rarbg]", "[YTS.MX]").
    int last = c.count - 1;
    while (last > 0 && c.tokens[last].group && !c.tokens[last].dropped) {
        const uint8_t g = c.tokens[last].group;
        int begin = last;
        while (begin > 0 && c.tokens[begin - 1].group == g) --begin;
        bool tags = false;
        for (int k = begin; k <= last; ++k) tags = tags || tags_something(c, k);
        if (tags || begin == 0) break;
        // Only after a release name's tags.
        bool release = false;
        for (int k = 0; k < begin; ++k) release = release || classify(c, k).strong;
        if (!release) break;
        for (int k = begin; k <= last; ++k) c.tokens[k].dropped = true;
        last = begin - 1;
    }
}

// "x264-GRP": the group after the last '-' of the last token, taken when
// the name is a release's (a tag, a marker or a year before it, or a tag
// before the dash). Reclassifies what the split changes; true when it split.
bool take_release_group(component &c, info *infos) {
    int last = c.count - 1;
    while (last >= 0 && c.tokens[last].dropped) --last;
    if (last < 1 || c.tokens[last].group) return false;
    token &t = c.tokens[last];
    const size_t dash = t.text.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 >= t.text.size() || t.text.size() - dash > 33)
        return false;
    const std::string_view lower = c.lower(last);
    if (lower.size() > 64 || find_word(lower)) return false;  // "WEB-DL", "DTS-HD"
    int season = -1;
    episode_list list;
    list.count = 0;
    if (parse_season_episode(lower, season, list) || parse_cross(lower, season, list) ||
        parse_episode_only(lower, list) || parse_range(lower, list))
        return false;
    bool release = false;
    for (int k = 0; k < last && !release; ++k)
        release = infos[k].length > 0 && (infos[k].strong || infos[k].what == kind::year ||
                                          infos[k].what == kind::year_range);
    // "Bluray-1080p": a tag after the dash is no group.
    if (const word *w = find_word(lower.substr(dash + 1)); w && !w->weak) return false;
    const std::string_view whole_text = t.text;
    t.text = whole_text.substr(0, dash);
    if (!release && !release_like(c, last)) {
        t.text = whole_text;
        return false;
    }
    if (c.release_group.empty()) c.release_group = whole_text.substr(dash + 1);
    return true;
}

// "tt0110912": an IMDb id, seven or eight digits.
bool is_imdb_id(std::string_view lower) {
    return (lower.size() == 9 || lower.size() == 10) && lower[0] == 't' && lower[1] == 't' &&
           all_digits(lower.substr(2));
}

// The number of "tmdbid-680", "tmdb-680", "tmdbid=680" after its prefix
// ("tmdb"), or -1.
int id_after(std::string_view lower, std::string_view prefix) {
    if (lower.size() <= prefix.size() + 1 || lower.substr(0, prefix.size()) != prefix) return -1;
    std::string_view rest = lower.substr(prefix.size());
    if (rest.substr(0, 2) == "id") rest.remove_prefix(2);
    if (rest.empty() || (rest[0] != '-' && rest[0] != '=' && rest[0] != ':')) return -1;
    rest.remove_prefix(1);
    if (rest.empty() || rest.size() > 9 || !all_digits(rest)) return -1;
    int value = 0;
    for (char ch : rest) value = value * 10 + (ch - '0');
    return value;
}

// Ids of the databases ("[tmdbid-680]", "{imdb-tt0110912}", "tt0110912"):
// kept in their fields, dropped from every other.
void take_ids(component &c) {
    for (int i = 0; i < c.count; ++i) {
        const std::string_view lower = c.lower(i);
        if (lower.size() < 6 || (lower[0] != 't' && lower[0] != 'i')) continue;
        token &t = c.tokens[i];
        int value = -1;
        if ((value = id_after(lower, "tmdb")) >= 0) {
            if (c.tmdb_id < 0) c.tmdb_id = value;
        } else if ((value = id_after(lower, "tvdb")) >= 0) {
            if (c.tvdb_id < 0) c.tvdb_id = value;
        } else if (lower.substr(0, 4) == "imdb" && lower.size() > 6) {
            std::string_view rest = lower.substr(4);
            if (rest.substr(0, 2) == "id") rest.remove_prefix(2);
            if (rest.empty() || (rest[0] != '-' && rest[0] != '=' && rest[0] != ':') || !is_imdb_id(rest.substr(1)))
                continue;
            if (c.imdb_id.empty()) c.imdb_id = t.text.substr(t.text.size() - rest.size() + 1);
        } else if (is_imdb_id(lower)) {
            if (c.imdb_id.empty()) c.imdb_id = t.text.view();
        } else {
            continue;
        }
        t.dropped = true;
    }
}

// "sample-some.film.2010.mkv": a sample named first; "._Name.mkv": the
// resource file a Mac leaves beside a video. Both are extras.
bool take_extra_prefix(std::string_view &text) {
    if (text.size() > 2 && text[0] == '.' && text[1] == '_') {
        text.remove_prefix(2);
        return true;
    }
    char buffer[8];
    const std::string_view head = lower_into(text.substr(0, 7), buffer, sizeof buffer);
    if (text.size() > 7 && (head == "sample-" || head == "sample_")) {
        text.remove_prefix(7);
        return true;
    }
    return false;
}

// text cut to at most max bytes, at a character boundary.
std::string_view cut_at_character(std::string_view text, size_t max) {
    if (text.size() <= max) return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

bool is_article(std::string_view lower) {
    constexpr std::string_view kArticles[] = {"a", "an", "das", "der", "el", "il", "l", "la", "le", "les", "the"};
    return one_of(lower, kArticles);
}

// A tag that counts before a year in any case: an edition ("Special.Edition"),
// a language's name ("German", not "Vie") or "Multi".
bool spoken_tag(const word &w) {
    return w.what == field::edition || (w.what == field::language && w.text.size() >= 4) || w.text == "multi";
}

// A word in capitals, as release tags are written ("FRENCH", "iTALiAN"):
// two capitals at least, and no small letter but an i.
bool shouted(std::string_view t) {
    int capitals = 0;
    for (char ch : t) {
        if (ch >= 'A' && ch <= 'Z') ++capitals;
        else if (ch >= 'a' && ch <= 'z' && ch != 'i') return false;
    }
    return capitals >= 2;
}

// An unknown word in capitals ("STV", "DL"): a tag when it sits among tags.
bool capital_word(std::string_view t) {
    if (t.size() < 2 || t.size() > 8) return false;
    bool letter = false;
    for (char ch : t) {
        if (ch >= 'a' && ch <= 'z') return false;
        if (!(ch >= 'A' && ch <= 'Z') && !is_digit(ch)) return false;
        letter = letter || (ch >= 'A' && ch <= 'Z');
    }
    return letter;
}

// "Amelie.FRENCH.2001", "Some.Film.LIMITED.DVDRip", "Die.Hard.German.DL.1080p":
// the tags just before where the title ends (a year, a marker, a strong
// tag) belong to the release, and so does an unknown word in capitals
// between them. The title keeps at least one word, and more than an article.
int trim_trailing_tags(const component &c, const info *infos, int from, int end, int year_end) {
    if (end >= c.count && end == c.count) {
        // No year and no strong tag: nothing marks where the tags begin.
        return end;
    }
    while (end - 1 > from) {
        int head = end - 1;
        while (head > from && infos[head].length == 0) --head;
        const bool tag = infos[head].length > 0 && head + infos[head].length == end && infos[head].what == kind::tag &&
                         !c.tokens[head].dropped;
        bool sandwiched = false;
        if (!tag && head == end - 1 && capital_word(c.tokens[head].text) && head - 1 > from) {
            // An unknown capital word counts when a tag stands before it, or
            // when it is a long one just before the tags ("Tropa.de.Elite.NACIONAL.1080p")
            // in a name whose title is not in capitals.
            int before = head - 1;
            while (before > from && infos[before].length == 0) --before;
            sandwiched = infos[before].what == kind::tag && before + infos[before].length == head;
            sandwiched = sandwiched || (end != year_end && c.tokens[head].text.size() >= 5 &&
                                        !capital_word(c.tokens[from].text) && !c.lower_case);
        }
        if (!tag && !sandwiched) break;
        const std::string_view text = c.tokens[head].text;
        // A short tag counts in capitals only ("ITA", "DC"; not "Vie", "Fin"),
        // unless the whole name is in lower case.
        if (tag && head == end - 1 && text.size() <= 3 && !capital_word(text) && !c.lower_case) break;
        // Just before the year, a tag counts when shouted ("Amelie.FRENCH.2001";
        // not "The.Good.German.2006", "Step.Up.3D.2010").
        if (end == year_end && !shouted(text) && !(tag && infos[head].w && spoken_tag(*infos[head].w))) break;
        // "Blade Runner The Final Cut", "Mélancolie ou la Vie": after an article, title words.
        if (head <= from || is_article(c.lower(head - 1))) break;
        end = head;
    }
    return end;
}

// Whether tokens [from, to) hold a word that is not a number.
bool words_before(const component &c, const info *infos, int from, int to) {
    for (int i = from; i < to; ++i)
        if (!c.tokens[i].dropped && infos[i].what == kind::plain) return true;
    return false;
}

// Anime openings and endings: "NCOP", "NCED2", and "OP1", "ED" after a dash.
bool opening_or_ending(std::string_view lower, bool dash_before) {
    if (lower.size() >= 4 && (lower.substr(0, 4) == "ncop" || lower.substr(0, 4) == "nced")) {
        return lower.size() == 4 || all_digits(lower.substr(4));
    }
    if (!dash_before || lower.size() < 2 || lower.size() > 4) return false;
    if (lower.substr(0, 2) != "op" && lower.substr(0, 2) != "ed") return false;
    return lower.size() == 2 || all_digits(lower.substr(2));
}

// The extension, when it is a container's: "mkv".
std::string_view take_container(std::string_view &text) {
    const size_t dot = text.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot > 6) return {};
    char buffer[8];
    const std::string_view ext = lower_into(text.substr(dot + 1), buffer, sizeof buffer);
    const std::string_view found = kContainers.find(ext);
    if (!found.empty()) text = text.substr(0, dot);
    return found;
}

bool take_extra_suffix(std::string_view &text) {
    const size_t dash = text.rfind('-');
    if (dash == std::string_view::npos || dash == 0) return false;
    char buffer[24];
    if (!kExtraSuffixes.has(lower_into(text.substr(dash), buffer, sizeof buffer))) return false;
    text = text.substr(0, dash);
    return true;
}

}  // namespace

namespace {

// Eight bytes at once: each ASCII capital gets its 0x20 bit; true when one did.
bool lower_eight(const char *from, char *to) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    uint64_t x;
    std::memcpy(&x, from, 8);
    const uint64_t heptets = x & (0x7F * kOnes);
    const uint64_t from_a = heptets + (0x80 - 'A') * kOnes;      // high bit: >= 'A'
    const uint64_t past_z = heptets + (0x80 - 'Z' - 1) * kOnes;  // high bit: > 'Z'
    const uint64_t capitals = from_a & ~past_z & ~x & (0x80 * kOnes);
    x |= capitals >> 2;
    std::memcpy(to, &x, 8);
    return capitals != 0;
}

}  // namespace

bool lower_copy(std::string_view text, char *buffer) {
    bool capitals = false;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) capitals |= lower_eight(text.data() + i, buffer + i);
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        const bool capital = ch >= 'A' && ch <= 'Z';
        buffer[i] = capital ? static_cast<char>(ch - 'A' + 'a') : ch;
        capitals |= capital;
    }
    return capitals;
}

std::string_view lower_into(std::string_view text, char *buffer, size_t size) {
    if (text.size() > size) return {};
    lower_copy(text, buffer);
    return {buffer, text.size()};
}

bool may_hold_id(std::string_view text) {
    for (size_t i = 0; i + 2 < text.size(); ++i) {
        const char a = static_cast<char>(text[i] | 0x20), b = static_cast<char>(text[i + 1] | 0x20);
        if ((a == 'd' && b == 'b') || (a == 't' && b == 't' && is_digit(text[i + 2]))) return true;
    }
    return false;
}

void scan_ids(std::string_view text, component &c) {
    if (text.size() > kMaxComponent) text = text.substr(0, kMaxComponent);
    c.count = 0;
    c.base = text.data();
    lower_into(text, c.lowered, sizeof c.lowered);
    tokenize(text, c);
    take_ids(c);
}

void scan_component(std::string_view text, bool is_file, component &c) {
    if (is_file) {
        // The extension first, so that an overlong name keeps it.
        c.container = take_container(text);
        if (take_extra_suffix(text)) c.is_extra = true;
        if (take_extra_prefix(text)) c.is_extra = true;
    }
    text = cut_at_character(text, kMaxComponent);
    c.base = text.data();
    c.lower_case = !lower_copy(text, c.lowered);
    tokenize(text, c);
    take_ids(c);
    drop_noise(c, is_file);

    info infos[kMaxTokens];
    // Classifies the tokens from index from on, phrase by phrase.
    auto classify_from = [&](int from) {
        for (int i = from; i < c.count;) {
            if (c.tokens[i].dropped) {
                nothing(infos[i], 1);
                ++i;
                continue;
            }
            classify_into(c, i, infos[i]);
            const int length = infos[i].length;
            for (int k = 1; k < length && i + k < c.count; ++k) nothing(infos[i + k], 0);
            i += length > 0 ? length : 1;
        }
    };
    classify_from(0);
    if (take_release_group(c, infos)) {
        // The last token changed ("264-GRP" is now "264"): the phrases that
        // may reach it are read again, from the start of the one two back.
        int from = std::max(0, c.count - 3);
        while (from > 0 && infos[from].length == 0) --from;
        classify_from(from);
    }
    int first_kept = 0;
    while (first_kept < c.count && c.tokens[first_kept].dropped) ++first_kept;
    // "[x265 10bit] Title 1080p": leading bracket groups that tag something
    // are not the title, when words follow outside brackets.
    int title_from = first_kept;
    while (title_from < c.count && c.tokens[title_from].group) {
        const int n = group_length(c, title_from);
        bool tags = false;
        for (int k = title_from; k < title_from + n; ++k)
            tags = tags || (infos[k].length > 0 && infos[k].what != kind::plain && infos[k].what != kind::number);
        bool words_follow = false;
        for (int k = title_from + n; k < c.count && !words_follow; ++k)
            words_follow = !c.tokens[k].group && !c.tokens[k].dropped && infos[k].what == kind::plain;
        if (!tags || !words_follow) break;
        title_from += n;
    }
    int first_marker = c.count;
    for (int i = title_from; i < c.count; ++i)
        if (infos[i].length > 0 && infos[i].strong && !c.tokens[i].dropped) {
            first_marker = i;
            break;
        }

    // The year: the last one before the markers and tags that has a title
    // before it, one in brackets first ("2001 A Space Odyssey 1968", "1917").
    int year_at = -1;
    int bracketed_year_at = -1;
    for (int i = title_from + 1; i < first_marker; ++i) {
        if (infos[i].length == 0 || (infos[i].what != kind::year && infos[i].what != kind::year_range)) continue;
        year_at = i;
        if (c.tokens[i].group) bracketed_year_at = i;
    }
    if (bracketed_year_at >= 0) year_at = bracketed_year_at;
    if (year_at >= 0) {
        c.year = infos[year_at].value;
        c.year_end = infos[year_at].value_end;
    }
    // "Avatar.3D.HSBS.2009", "Zwartboek.NLsubs.2006": a year among the
    // first tags, before any marker, is the year too.
    if (year_at < 0) {
        for (int i = first_marker; i < c.count; ++i) {
            if (infos[i].length == 0 || c.tokens[i].dropped) continue;
            const kind what = infos[i].what;
            if (what == kind::year) {
                c.year = infos[i].value;
                break;
            }
            if (what != kind::tag && !capital_word(c.tokens[i].text)) break;
        }
    }
    int title_end = year_at >= 0 ? year_at : first_marker;
    // "Leon (The Professional) (1994)", "Film (Director, 1972)", "Title (BD
    // 1080p FLAC)": an aside in brackets after the title ends it.
    for (int i = title_from + 1; i < title_end; ++i) {
        if (!c.tokens[i].group || c.tokens[i].group == c.tokens[title_from].group) continue;
        if (group_length(c, i) == 1 && kCountries.has(c.tokens[i].text)) c.country = c.tokens[i].text;
        // A year in the aside ("Film (Director, 1972)") is the year.
        for (int k = i; c.year < 0 && k < c.count && c.tokens[k].group == c.tokens[i].group; ++k)
            if (infos[k].length > 0 && infos[k].what == kind::year) c.year = infos[k].value;
        title_end = i;
        break;
    }
    title_end = trim_trailing_tags(c, infos, title_from, title_end, year_at >= 0 ? year_at : -1);

    // Markers, parts, dates, and the tags after the title.
    int last_marker_end = -1;
    for (int i = 0; i < c.count; ++i) {
        const info &in = infos[i];
        if (in.length == 0 || c.tokens[i].dropped) continue;
        const bool after_title = i >= title_end || i < title_from;
        switch (in.what) {
        case kind::marker:
            if (i < title_from) break;
            if (in.season >= 0) {
                if (c.season < 0) c.season = in.season;
                const int last = in.value_end > in.season ? in.value_end : in.season;
                for (int s = in.season; s <= last; ++s) add_season(c, s);
            }
            for (int e = 0; e < in.episodes.count; ++e) add_episode(c, in.episodes.values[e], in.episodes.ranges[e]);
            last_marker_end = i + in.length;
            break;
        case kind::date:
            if (i < title_from) break;
            if (!c.date[0]) std::memcpy(c.date, in.date, sizeof c.date);
            if (c.year < 0) c.year = in.value;  // a daily show's year is its date's
            last_marker_end = i + in.length;
            break;
        case kind::part:
            if (after_title && c.part < 0) c.part = in.value;
            break;
        case kind::tag:
            if (after_title || in.strong) apply_tag(c, in);
            break;
        default: break;
        }
    }
    // "Show.S01E01.2008.1080p", "Show - Season 2 (2016)": a year right after
    // the marker is the show's.
    if (c.year < 0 && last_marker_end > 0 && last_marker_end < c.count && infos[last_marker_end].length > 0 &&
        (infos[last_marker_end].what == kind::year || infos[last_marker_end].what == kind::year_range)) {
        c.year = infos[last_marker_end].value;
        c.year_end = infos[last_marker_end].value_end;
        ++last_marker_end;
    }
    // "Title S2 - 05": a season marker, then the episode after a dash.
    if (c.season >= 0 && c.episode_count == 0 && last_marker_end > 0 && last_marker_end < c.count &&
        infos[last_marker_end].what == kind::number && c.tokens[last_marker_end].dash_before &&
        c.tokens[last_marker_end].group == 0 && c.tokens[last_marker_end].text.size() <= 4) {
        add_episode(c, infos[last_marker_end].value, false);
        ++last_marker_end;
    }
    // "Show Complete Series", "The Complete Series": every season of a show.
    for (int i = title_from + 1; i + 1 < c.count; ++i) {
        if (!same(c.lower(i), "complete") || infos[i + 1].what == kind::marker) continue;
        const std::string_view after = c.lower(i + 1);
        if (!same(after, "series") && !same(after, "serie") && !same(after, "seasons")) continue;
        c.pack = true;
        const int begin = i > title_from + 1 && same(c.lower(i - 1), "the") ? i - 1 : i;
        if (begin < title_end) title_end = begin;
        break;
    }
    // A sample is one wherever it stands; anime openings and endings are extras.
    bool opening = false;
    const bool fansub = !c.release_group.empty() && first_kept < c.count &&
                        c.tokens[first_kept].text.data() > c.release_group.data();
    for (int i = first_kept; i < c.count; ++i) {
        const std::string_view lower = c.lower(i);
        if (same(lower, "sample")) c.is_extra = true;
        if (!lower.empty() && (lower[0] == 'n' || lower[0] == 'o' || lower[0] == 'e') &&
            opening_or_ending(lower, c.tokens[i].dash_before || i == title_from || c.tokens[i].group || fansub)) {
            c.is_extra = opening = true;
            if (i >= title_from && i < title_end) title_end = i;
        }
    }

    // Numbered releases without a season: "Title - 05", "[Group] Title 05 [1080p]":
    // the last number after a dash, else (a fansub release) the last number
    // that ends the title.
    c.opening = opening;
    if (c.episode_count == 0 && !c.date[0] && !opening) {
        int after_dash = -1, ending = -1, range = -1, bracketed = -1, zeroed = -1;
        // "Hunter x Hunter (2011) - 148": the number may follow the year.
        const int numbers_end = year_at >= 0 && !c.tokens[year_at].group ? title_end : first_marker;
        for (int i = title_from + 1; i < numbers_end; ++i) {
            if (i == year_at) continue;
            const std::string_view t = c.tokens[i].text;
            const bool ranged = t.find('-') != std::string_view::npos;
            size_t version = 0;
            while (version < t.size() && (t[version] | 0x20) != 'v') ++version;
            const size_t digits = version;
            // "[Group][Title][05][1080p]": a number in brackets of its own.
            const bool own_brackets = fansub && c.tokens[i].group && group_length(c, i) == 1 &&
                                      c.tokens[i - 1].group != c.tokens[i].group;
            if (infos[i].what != kind::number || infos[i].length == 0 || digits > (ranged ? 9u : 4u) ||
                (c.tokens[i].group != 0 && !own_brackets))
                continue;
            if (own_brackets) {
                bracketed = i;
                continue;
            }
            // "03.5": a recap between episodes, read as the episode before it.
            const bool half = c.tokens[i].dot_after && i + 1 < c.count && c.tokens[i + 1].text.size() == 1 &&
                              infos[i + 1].what == kind::number;
            int after = half ? i + 2 : i + 1;
            // "- 12 END": the last episode, marked.
            if (after < numbers_end && (same(c.lower(after), "end") || same(c.lower(after), "fin"))) ++after;
            const bool ends = after >= c.count || after >= numbers_end || c.tokens[after].group != 0 ||
                              c.tokens[after].dash_before;
            if (!ends) continue;
            // "0823": a season and an episode, left to the folders.
            if (digits == 4 && t[0] == '0') continue;
            if (c.tokens[i].dash_before) after_dash = i;
            if (ranged) range = i;
            // "Cowboy Bebop 05": a number with a leading zero ends no film's title.
            if (digits <= 3 && t[0] == '0' && i + 1 >= title_end && c.year < 0 && words_before(c, infos, title_from, i))
                zeroed = i;
            ending = i;
        }
        int at = after_dash >= 0 ? after_dash : range >= 0 ? range : (fansub && c.season < 0 ? ending : -1);
        if (at < 0) at = bracketed >= 0 ? bracketed : zeroed;
        if (at >= 0 && c.season < 0) {
            c.absolute_episode = infos[at].value;
        } else if (at >= 0) {
            add_episode(c, infos[at].value, false);  // "Title S2 - 05"
        }
        if (at >= 0) {
            // "Title - 05 - Name": the episode's name.
            int e = at + 1;
            const int names_end = numbers_end;
            if (e < names_end && c.tokens[e].dash_before && c.tokens[e].group == 0) {
                c.episode_title.begin = e;
                while (e < names_end && c.tokens[e].group == 0) ++e;
                c.episode_title.end = e;
            }
            if (at < title_end) title_end = at;
        }
    }
    // "show.102.hdtv", "Show [205]": a bare season and episode, only where nothing else fits.
    if (!c.has_episode() && c.season < 0 && c.year < 0) {
        int i = -1;
        if (first_marker < c.count && title_end - 1 > title_from) i = title_end - 1;
        for (int k = title_from + 1; k < c.count && i < 0; ++k)
            if (c.tokens[k].group && group_length(c, k) == 1 && (k == 0 || c.tokens[k - 1].group != c.tokens[k].group))
                i = infos[k].what == kind::number ? k : -1;
        const std::string_view t = i >= 0 ? c.tokens[i].text.view() : std::string_view();
        const bool year_like = t.size() == 4 && infos[i].value >= 1900 && infos[i].value < 2100;
        if (i >= 0 && infos[i].what == kind::number && (t.size() == 3 || t.size() == 4) && t[0] != '0' && !year_like &&
            infos[i].value % 100 > 0) {
            c.season = infos[i].value / 100;
            add_season(c, c.season);
            add_episode(c, infos[i].value % 100, false);
            if (i < title_end) title_end = i;
        }
    }
    // "05 - Name", "003. Title - Name": a number first, for a season folder
    // (or the dash after it) to place.
    if (title_from < c.count && infos[title_from].what == kind::number && c.tokens[title_from].text.size() <= 9) {
        const std::string_view t = c.tokens[title_from].text;
        const size_t dash = t.find('-');
        if (dash == std::string_view::npos ? t.size() <= 4 : dash <= 4) {
            c.leading_number = infos[title_from].value;
            if (dash != std::string_view::npos) {
                int last = 0;
                for (char ch : t.substr(dash + 1)) last = last * 10 + (ch - '0');
                c.leading_last = last;
            }
            c.after_leading = {title_from + 1, title_end};
        }
    }

    // The title, without a trailing country code ("The Office US").
    c.title = {title_from, title_end};
    if (title_end - title_from >= 2 && c.country.empty()) {
        const std::string_view country = kCountries.find(c.tokens[title_end - 1].text);
        if (!country.empty()) {
            c.country = country;
            --c.title.end;
        }
    }
    // The episode's name: what follows the markers, up to the tags.
    if (last_marker_end > 0 && c.episode_title.empty()) {
        int e = last_marker_end;
        const int begin = e;
        while (e < c.count && !c.tokens[e].dropped && c.tokens[e].group == 0 && infos[e].length > 0 &&
               (infos[e].what == kind::plain || infos[e].what == kind::number) && !(infos[e].what == kind::tag))
            ++e;
        c.episode_title = {begin, e};
    }
    // A season folder: "Season 2", "S02", "Specials".
    if (!is_file) {
        int kept = 0;
        for (int i = 0; i < c.count; ++i) kept += c.tokens[i].dropped ? 0 : 1;
        const bool only_marker = first_kept < c.count && infos[first_kept].what == kind::marker &&
                                 infos[first_kept].episodes.count == 0 && infos[first_kept].length == kept;
        if (only_marker) {
            c.season_folder = true;
            c.season = infos[first_kept].season;
        }
    }
    // What a reader needs to tell whether the title is the name's own.
    c.strong_tags = first_marker < c.count;
}

}  // namespace oxnames
