#include "name_classify.h"

#include <cstring>

namespace oxnames {
namespace {

constexpr int kMinYear = 1880;
constexpr int kMaxYear = 2039;

// The value of a run of at most max_digits digits at t[at], advancing at; -1 when none.
int read_number(std::string_view t, size_t &at, size_t max_digits) {
    size_t start = at;
    int value = 0;
    while (at < t.size() && is_digit(t[at]) && at - start < max_digits) value = value * 10 + (t[at++] - '0');
    if (at == start || (at < t.size() && is_digit(t[at]))) return -1;
    return value;
}

int whole_number(std::string_view t, size_t max_digits) {
    size_t at = 0;
    const int value = read_number(t, at, max_digits);
    return at == t.size() ? value : -1;
}

bool is_year(int value) { return value >= kMinYear && value <= kMaxYear; }

// A date token: out is set when year, month and day make a real date.
bool set_date(info &out, int year, int month, int day) {
    constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (!is_year(year) || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    if (month == 2 && day == 29 && (year % 4 != 0 || (year % 100 == 0 && year % 400 != 0))) return false;
    out.what = kind::date;
    out.strong = true;
    out.value = year;
    const int digits[] = {year / 1000, year / 100 % 10, year / 10 % 10, year % 10, -1,
                          month / 10,  month % 10,      -1,             day / 10, day % 10};
    for (int k = 0; k < 10; ++k) out.date[k] = digits[k] < 0 ? '-' : static_cast<char>('0' + digits[k]);
    out.date[10] = 0;
    return true;
}

bool read_more_episodes(std::string_view t, size_t at, episode_list &list) {
    while (at < t.size()) {
        bool range = false;
        if (t[at] == '-' || t[at] == '~') {
            range = true;
            ++at;
        }
        if (at < t.size() && (t[at] == 'e' || t[at] == 'x')) ++at;
        if (at < t.size() && t[at] == 'v' && range == false) {  // "e05v2": a version
            size_t v = at + 1;
            return read_number(t, v, 2) >= 0 && v == t.size();
        }
        const int value = read_number(t, at, 4);
        if (value < 0 || !list.add(value, range)) return false;
    }
    return true;
}

int roman(std::string_view t) {
    constexpr std::string_view kRoman[] = {"i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix", "x"};
    for (size_t i = 0; i < std::size(kRoman); ++i)
        if (t == kRoman[i]) return static_cast<int>(i) + 1;
    return -1;
}

// The first words of kWords' phrases, found once at compile time.
struct phrase_heads {
    std::string_view words[32];
    int count = 0;
};
constexpr phrase_heads make_phrase_heads() {
    phrase_heads heads{};
    for (const word &w : kWords) {
        const size_t space = w.text.find(' ');
        if (space == std::string_view::npos) continue;
        const std::string_view first = w.text.substr(0, space);
        bool seen = false;
        for (int i = 0; i < heads.count; ++i) seen = seen || heads.words[i] == first;
        if (!seen && heads.count < 32) heads.words[heads.count++] = first;
    }
    return heads;
}
constexpr phrase_heads kPhraseHeads = make_phrase_heads();
static_assert(kPhraseHeads.count < 32, "room for every phrase head");



// The lengths of the phrase heads of each first byte, as in word_set.
struct head_lengths {
    uint32_t at[256];
};
constexpr head_lengths make_head_lengths() {
    head_lengths t{};
    for (int i = 0; i < kPhraseHeads.count; ++i)
        t.at[static_cast<unsigned char>(kPhraseHeads.words[i][0])] |= uint32_t{1} << kPhraseHeads.words[i].size();
    return t;
}
constexpr head_lengths kHeadLengths = make_head_lengths();

bool is_phrase_head(std::string_view lower) {
    if (lower.size() >= 32 || !(kHeadLengths.at[static_cast<unsigned char>(lower[0])] >> lower.size() & 1)) return false;
    for (int i = 0; i < kPhraseHeads.count; ++i)
        if (same(kPhraseHeads.words[i], lower)) return true;
    return false;
}

// The lower-case text of tokens[i, i + n) joined by spaces, in buffer.
std::string_view phrase(const component &c, int i, int n, char *buffer, size_t size) {
    size_t used = 0;
    for (int k = 0; k < n; ++k) {
        if (i + k >= c.count) return {};
        const std::string_view t = c.tokens[i + k].text;
        if (used + t.size() + 1 > size) return {};
        if (k) buffer[used++] = ' ';
        std::memcpy(buffer + used, c.lower(i + k).data(), t.size());
        used += t.size();
    }
    return {buffer, used};
}

constexpr std::string_view kChannels[] = {"", "", "2.0", "", "", "5.1", "5.1", "7.1", "7.1"};

// A codec with its channels in one token: "dd5", "ddp5", "aac2", "dd+7".
bool codec_with_channels(std::string_view lower, info &out) {
    if (lower.size() < 3 || lower.size() > 8) return false;
    const char digit = lower.back();
    if (!(digit == '2' || digit == '5' || digit == '6' || digit == '7' || digit == '8')) return false;
    const word *w = find_word(lower.substr(0, lower.size() - 1));
    if (!w || w->what != field::audio_codec) return false;
    out.what = kind::tag;
    out.strong = true;
    out.w = w;
    out.channels = kChannels[digit - '0'];
    return true;
}

// "5.1" once split at its dot: "5" then "1".
std::string_view channels_of(std::string_view first, std::string_view second) {
    if (first.size() != 1 || second.size() != 1) return {};
    if (second != "0" && second != "1") return {};
    switch (first[0]) {
    case '1': return same(second, "0") ? "1.0" : "";
    case '2': return same(second, "0") ? "2.0" : "2.1";
    case '5': return same(second, "1") ? "5.1" : "";
    case '6': return same(second, "1") ? "6.1" : "";
    case '7': return same(second, "1") ? "7.1" : "";
    default: return {};
    }
}

}  // namespace

bool all_digits(std::string_view t) {
    if (t.empty()) return false;
    for (char c : t)
        if (!is_digit(c)) return false;
    return true;
}

// The dash that separates words: "-", or an en or em dash.
bool is_dash(std::string_view t) {
    if (t == "\xE2\x80\x93" || t == "\xE2\x80\x94") return true;
    if (t.empty()) return false;
    for (char c : t)
        if (c != '-') return false;
    return true;
}

// Season numbers: adds value once.
void add_season(component &c, int value) {
    for (int i = 0; i < c.season_count; ++i)
        if (c.seasons[i] == value) return;
    if (value >= 0 && c.season_count < kMaxEpisodes) c.seasons[c.season_count++] = value;
}

// Episode numbers: adds value, or the range from the last one added to value.
void add_episode(component &c, int value, bool range) {
    if (value < 0) return;
    if (range && c.episode_count > 0) {
        const int from = c.episodes[c.episode_count - 1];
        for (int e = from + 1; e <= value && c.episode_count < kMaxEpisodes; ++e) c.episodes[c.episode_count++] = e;
        return;
    }
    // "S02E01 - Episode 1": an episode named twice is one.
    for (int e = 0; e < c.episode_count; ++e)
        if (c.episodes[e] == value) return;
    if (c.episode_count < kMaxEpisodes) c.episodes[c.episode_count++] = value;
}

// "s01e02", "s1e2e3", "s01e01-e03", "s01e01-03", "s02xe05", "s2013e05" (a
// year for a season), "s01" (season only), "s01-s04" (a season range, its
// last in season_end), "s02d1" (a season's disc).
bool parse_season_episode(std::string_view t, int &season, episode_list &list, int *season_end) {
    if (t.size() < 2 || t[0] != 's' || !is_digit(t[1])) return false;
    size_t at = 1;
    season = read_number(t, at, 3);
    if (season < 0) {
        at = 1;
        season = read_number(t, at, 4);
        if (!is_year(season)) return false;
    }
    if (at == t.size()) return true;
    // "s01-s04", "s01-04".
    if (t[at] == '-' && at + 2 < t.size() && (t[at + 1] == 's' || is_digit(t[at + 1]))) {
        size_t end_at = t[at + 1] == 's' ? at + 2 : at + 1;
        const int last = read_number(t, end_at, 3);
        if (end_at != t.size() || last < season || last - season >= kMaxEpisodes) return false;
        if (season_end) *season_end = last;
        return true;
    }
    if (t[at] == 'd' && at + 1 < t.size() && is_digit(t[at + 1])) {
        size_t disc_at = at + 1;
        return read_number(t, disc_at, 2) >= 0 && disc_at == t.size();
    }
    if (t[at] == 'x' && at + 1 < t.size() && t[at + 1] == 'e') ++at;
    if (t[at] != 'e' || at + 1 >= t.size() || !is_digit(t[at + 1])) return false;
    ++at;
    if (!list.add(read_number(t, at, 4), false)) return false;
    return read_more_episodes(t, at, list);
}

// "1x02", "1x02-03", "1x02x03".
bool parse_cross(std::string_view t, int &season, episode_list &list) {
    if (t.size() < 3 || !is_digit(t[0])) return false;
    size_t at = 0;
    season = read_number(t, at, 2);
    if (season < 0 || at + 1 >= t.size() || t[at] != 'x' || !is_digit(t[at + 1])) return false;
    ++at;
    if (!list.add(read_number(t, at, 3), false)) return false;
    return read_more_episodes(t, at, list);
}

// "e05", "ep05", "e01-e03", "e01e02".
bool parse_episode_only(std::string_view t, episode_list &list) {
    size_t at = 0;
    if (at < t.size() && t[at] == 'e') ++at;
    else return false;
    if (at < t.size() && t[at] == 'p') ++at;
    if (at >= t.size() || !is_digit(t[at])) return false;
    if (!list.add(read_number(t, at, 4), false)) return false;
    return read_more_episodes(t, at, list);
}

// "1-3", "01-03": a range of episodes as a token.
bool parse_range(std::string_view t, episode_list &list) {
    size_t at = 0;
    if (!list.add(read_number(t, at, 4), false)) return false;
    return read_more_episodes(t, at, list) && list.count > 0;
}

// Parts: CD1, Disc 2 (strong); Part 2, Pt.2 (a title may hold them).
struct part_word {
    std::string_view text;
    bool strong;
};
constexpr part_word kParts[] = {{"cd", true}, {"disc", true}, {"disk", true}, {"part", false}, {"pt", false}};

// A token that classifies as nothing (dropped, or the rest of a phrase).
void nothing(info &in, uint8_t length) {
    in.what = kind::plain;
    in.length = length;
    in.strong = in.subtitles = false;
    in.w = nullptr;
    in.value = in.value_end = in.season = -1;
    in.channels = std::string_view();
    in.episodes.count = 0;
}

// Classifies tokens[i] (and the tokens a phrase of it takes) into out.
void classify_into(const component &c, int i, info &out) {
    out.what = kind::plain;
    out.length = 1;
    out.strong = false;
    out.subtitles = false;
    out.w = nullptr;
    out.value = out.value_end = out.season = -1;
    out.channels = std::string_view();
    out.episodes.count = 0;
    const std::string_view lower = c.lower(i);
    if (lower.empty() || lower.size() > 64) return;
    const std::string_view next =
        i + 1 < c.count && c.tokens[i + 1].group == c.tokens[i].group && c.tokens[i + 1].text.size() <= 64
            ? c.lower(i + 1)
            : std::string_view();

    // Episode markers.
    int season = -1;
    episode_list list;
    list.count = 0;
    int season_end = -1;
    if (parse_season_episode(lower, season, list, &season_end) || parse_cross(lower, season, list)) {
        out.what = kind::marker;
        out.value_end = season_end;
        out.strong = true;
        out.season = season;
        out.episodes = list;
        // "S01 E02": the episode in the next token.
        episode_list more;
        more.count = 0;
        if (list.count == 0 && !next.empty() && parse_episode_only(next, more)) {
            out.episodes = more;
            out.length = 2;
        }
        return;
    }
    if (parse_episode_only(lower, list)) {
        out.what = kind::marker;
        out.strong = true;
        out.episodes = list;
        return;
    }
    const char first_char = lower[0];
    // "Season 2", "Staffel 2", "Saison III", "Season 1-3", "Seasons 1 & 2", "season2".
    if (kSeasonWords.may_start(first_char)) {
        if (kSeasonWords.has(lower) && !next.empty() && !c.tokens[i + 1].dash_before) {
            int value = whole_number(next, 4);
            if (value < 0) value = roman(next);
            episode_list range;
            range.count = 0;
            if (value < 0 && parse_range(next, range) && range.count > 1) {
                value = range.values[0];
                out.value_end = range.values[range.count - 1];
            }
            if (value >= 0) {
                out.what = kind::marker;
                out.strong = true;
                out.season = value;
                out.length = 2;
                // "Seasons 1 & 2", "Season 1 to 3".
                if (out.value_end < 0 && i + 3 < c.count) {
                    const std::string_view joiner = c.lower(i + 2);
                    const int last = whole_number(c.lower(i + 3), 3);
                    constexpr std::string_view kJoiners[] = {"&", "+", "and", "en", "et", "i", "och", "og", "to", "und", "y"};
                    if (one_of(joiner, kJoiners) && last > value && last - value < kMaxEpisodes) {
                        out.value_end = last;
                        out.length = 4;
                    }
                }
                return;
            }
        }
        // "season2": the word and its number in one token.
        for (std::string_view s : kSeasonWords.words) {
            if (!is_digit(lower.back())) break;
            if (lower.size() > s.size() && lower.substr(0, s.size()) == s && whole_number(lower.substr(s.size()), 3) >= 0) {
                out.what = kind::marker;
                out.strong = true;
                out.season = whole_number(lower.substr(s.size()), 3);
                return;
            }
        }
    }
    // "Episode 5", "Folge 5", "Ep.05", "Episodes 1-3"; Spanish "Cap.205" is season 2, episode 5.
    if (!next.empty() && kEpisodeWords.has(lower)) {
        const bool cap = lower.substr(0, 3) == "cap";
        const int compact = cap ? whole_number(next, 4) : -1;
        if (compact >= 100 && next.size() >= 3 && compact % 100 > 0) {
            out.what = kind::marker;
            out.strong = true;
            out.season = compact / 100;
            out.length = 2;
            list.add(compact % 100, false);
            // "Cap.205_207": up to another episode of the same season.
            const int last = i + 2 < c.count ? whole_number(c.lower(i + 2), 4) : -1;
            if (last > compact && last / 100 == compact / 100) {
                list.add(last % 100, true);
                out.length = 3;
            }
            out.episodes = list;
            return;
        }
        if (parse_range(next, list)) {
            out.what = kind::marker;
            out.strong = true;
            out.episodes = list;
            out.length = 2;
            return;
        }
        list.count = 0;
    }
    // "3 of 6", "2of9", "Part 3 of 6": an episode of a mini-series.
    const bool digit_first = is_digit(first_char);
    if (const size_t of = digit_first ? lower.find("of") : std::string_view::npos;
        of > 0 && of != std::string_view::npos && of + 2 < lower.size()) {
        const int value = whole_number(lower.substr(0, of), 2);
        const int total = whole_number(lower.substr(of + 2), 2);
        if (value > 0 && total >= value && total > 1) {
            out.what = kind::marker;
            out.strong = true;
            list.add(value, false);
            out.episodes = list;
            return;
        }
    }
    if (digit_first || first_char == 'p') {
        const bool part_word = same(lower, "part") || same(lower, "pt");
        const int at = part_word ? i + 1 : i;
        const int value = at < c.count ? whole_number(c.lower(at), 2) : -1;
        if (value > 0 && at + 2 < c.count && same(c.lower(at + 1), "of")) {
            const int total = whole_number(c.lower(at + 2), 2);
            if (total >= value && total > 1) {
                out.what = kind::marker;
                out.strong = true;
                list.add(value, false);
                out.episodes = list;
                out.length = static_cast<uint8_t>(at + 3 - i);
                return;
            }
        }
    }
    if (same(lower, "specials")) {
        out.what = kind::marker;
        out.season = 0;
        return;
    }

    // Parts: CD1, Disc 2 (strong); Part 2, Pt.2 (a title may hold them).
    const bool may_be_part = first_char == 'c' || first_char == 'd' || first_char == 'p';
    for (const part_word &p : kParts) {
        if (!may_be_part) break;
        if (same(lower, p.text) && !next.empty()) {
            int value = whole_number(next, 2);
            if (value < 0 && !p.strong) value = roman(next);
            if (value > 0) {
                out.what = kind::part;
                out.strong = p.strong;
                out.value = value;
                out.length = 2;
                return;
            }
        }
        if (lower.size() > p.text.size() && lower.substr(0, p.text.size()) == p.text) {
            const int value = whole_number(lower.substr(p.text.size()), 2);
            if (value > 0) {
                out.what = kind::part;
                out.strong = p.strong;
                out.value = value;
                return;
            }
        }
    }

    // Numbers, years, dates.
    if (all_digits(lower)) {
        const int value = whole_number(lower, 4);
        if (lower.size() == 4 && is_year(value)) {
            // "2015.03.12": a date in three tokens.
            if (i + 2 < c.count && c.tokens[i + 1].text.size() == 2 && c.tokens[i + 2].text.size() == 2 &&
                set_date(out, value, whole_number(c.tokens[i + 1].text, 2), whole_number(c.tokens[i + 2].text, 2))) {
                out.length = 3;
                return;
            }
            out.what = kind::year;
            out.value = value;
            return;
        }
        // "27.11.2017" (the day first), "11.27.2017" (the month first when
        // the day could not be a month).
        if (lower.size() <= 2 && i + 2 < c.count && c.tokens[i + 1].text.size() <= 2 &&
            c.tokens[i + 2].text.size() == 4) {
            const int second = whole_number(c.tokens[i + 1].text, 2);
            const int year = whole_number(c.tokens[i + 2].text, 4);
            if (is_year(year) && (set_date(out, year, second, value) || set_date(out, year, value, second))) {
                out.length = 3;
                return;
            }
        }
        const std::string_view channels = channels_of(lower, next);
        if (!channels.empty()) {
            out.what = kind::tag;
            out.channels = channels;
            out.length = 2;
            return;
        }
        out.what = kind::number;
        out.value = value;
        return;
    }
    // "2017-11-27", and "11-27-2017" or "27-11-2017".
    if (lower.size() == 10 && lower[4] == '-' && lower[7] == '-' && all_digits(lower.substr(0, 4)) &&
        all_digits(lower.substr(5, 2)) && all_digits(lower.substr(8, 2))) {
        if (set_date(out, whole_number(lower.substr(0, 4), 4), whole_number(lower.substr(5, 2), 2),
                     whole_number(lower.substr(8, 2), 2)))
            return;
    }
    if (lower.size() == 10 && lower[2] == '-' && lower[5] == '-' && all_digits(lower.substr(0, 2)) &&
        all_digits(lower.substr(3, 2)) && all_digits(lower.substr(6, 4))) {
        const int first = whole_number(lower.substr(0, 2), 2), second = whole_number(lower.substr(3, 2), 2);
        const int year = whole_number(lower.substr(6, 4), 4);
        if (set_date(out, year, first, second) || set_date(out, year, second, first)) return;
    }
    // A date's shape that is no date ("2021-00-99"): its year, if it has one.
    if (lower.size() == 10 && lower[4] == '-' && lower[7] == '-' && is_year(whole_number(lower.substr(0, 4), 4))) {
        out.what = kind::year;
        out.value = whole_number(lower.substr(0, 4), 4);
        return;
    }
    // "105-108": a range of numbered episodes, read as its first.
    if (digit_first) {
        const size_t dash = lower.find('-');
        if (dash != std::string_view::npos && dash > 0 && dash <= 4 && lower.size() - dash - 1 <= 4) {
            const int from = whole_number(lower.substr(0, dash), 4);
            const int to = whole_number(lower.substr(dash + 1), 4);
            if (from >= 0 && to > from && !(is_year(from) && is_year(to))) {
                out.what = kind::number;
                out.value = from;
                return;
            }
        }
    }
    if (lower.size() == 9 && lower[4] == '-' && all_digits(lower.substr(0, 4)) && all_digits(lower.substr(5))) {
        const int from = whole_number(lower.substr(0, 4), 4);
        const int to = whole_number(lower.substr(5), 4);
        if (is_year(from) && is_year(to) && to >= from) {
            out.what = kind::year_range;
            out.value = from;
            out.value_end = to;
            return;
        }
    }
    // "05v2": an episode with its version.
    if (lower.size() >= 3 && lower.size() <= 6 && is_digit(lower[0])) {
        const size_t v = lower.find('v');
        if (v != std::string_view::npos && v > 0 && whole_number(lower.substr(0, v), 4) >= 0 &&
            whole_number(lower.substr(v + 1), 2) >= 0) {
            out.what = kind::number;
            out.value = whole_number(lower.substr(0, v), 4);
            return;
        }
    }

    // Tags: the longest phrase first.
    const bool head = is_phrase_head(lower);
    for (int n = head ? 3 : 1; n >= 1; --n) {
        char joined[96];
        if (n > 1 && (i + n > c.count || c.tokens[i + n - 1].group != c.tokens[i].group)) continue;
        const std::string_view text = n == 1 ? lower : phrase(c, i, n, joined, sizeof joined);
        if (text.empty()) continue;
        if (const word *w = find_word(text)) {
            out.what = kind::tag;
            out.w = w;
            out.strong = !w->weak;
            out.length = static_cast<uint8_t>(n);
            // A language followed by "subs": that language's subtitles.
            if (w->what == field::language && i + n < c.count) {
                const std::string_view after = c.lower(i + n);
                const word *s = find_word(after);
                if (s && s->what == field::subtitles && s->value.empty()) {
                    out.length = static_cast<uint8_t>(n + 1);
                    out.subtitles = true;
                }
            }
            // "DD5.1", split at its dot, or channels given apart: "DDP 5.1".
            if (w->what == field::audio_codec && i + n + 1 < c.count) {
                const std::string_view channels = channels_of(c.tokens[i + n].text, c.tokens[i + n + 1].text);
                if (!channels.empty()) {
                    out.channels = channels;
                    out.length = static_cast<uint8_t>(n + 2);
                }
            }
            return;
        }
    }
    if (codec_with_channels(lower, out)) {
        if (!next.empty() && (same(next, "1") || same(next, "0"))) {
            out.channels = channels_of(lower.substr(lower.size() - 1), next);
            out.length = 2;
        }
        return;
    }
    // "H.264" once split at its dot.
    if ((same(lower, "h") || same(lower, "x")) && (same(next, "264") || same(next, "265"))) {
        out.what = kind::tag;
        out.strong = true;
        out.w = find_word(same(next, "264") ? "x264" : "x265");
        out.length = 2;
        return;
    }
    // "engsub", "hebsubs": a language's subtitles.
    for (std::string_view suffix : {std::string_view("subs"), std::string_view("sub")}) {
        if (lower.size() > suffix.size() + 1 && lower.substr(lower.size() - suffix.size()) == suffix) {
            const word *w = find_word(lower.substr(0, lower.size() - suffix.size()));
            if (w && w->what == field::language) {
                out.what = kind::tag;
                out.strong = true;
                out.w = w;
                out.subtitles = true;
                return;
            }
        }
    }
    return;
}

info classify(const component &c, int i) {
    info out;
    classify_into(c, i, out);
    return out;
}

// A token that only a release name holds: a strong tag, a marker, a year.
bool release_like(const component &c, int i) {
    const info in = classify(c, i);
    return in.strong || in.what == kind::year || in.what == kind::year_range;
}

// A token that tags something, strongly or not ("5.1" in brackets).
bool tags_something(const component &c, int i) {
    const kind what = classify(c, i).what;
    return what != kind::plain && what != kind::number;
}

}  // namespace oxnames
