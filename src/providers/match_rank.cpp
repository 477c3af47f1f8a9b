// The rules that score a candidate title against a file's title, and those
// that weigh the candidates of one match against each other.
#include "providers/match_rank.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace oxmatch {
namespace {

using oxnames::title_key;

bool is_number(std::string_view word) {
    if (word.empty() || word.size() > 3) return false;
    for (char c : word)
        if (c < '0' || c > '9') return false;
    return true;
}

// True when tokens [from, to) of c are the first `count` tokens of a, with
// a leading article of that range left out as the key leaves it out of a
// whole title ("The Two Towers" after a ":").
bool same_range(const title_key &a, int count, const title_key &c, int from, int to) {
    if (to - from == count + 1 && count > 0 && oxnames::title_key_is_article(c.token(from))) ++from;
    if (to - from != count) return false;
    for (int t = 0; t < count; ++t)
        if (a.token(t) != c.token(from + t)) return false;
    return true;
}

// True when the first `count` tokens of a are the first tokens of b.
bool leads(const title_key &a, int count, const title_key &b) {
    return count <= b.count && same_range(a, count, b, 0, count);
}

// Tokens two keys share, each counted once per occurrence.
int shared_tokens(const title_key &a, const title_key &b) {
    bool used[oxnames::kTitleKeyTokens] = {};
    int shared = 0;
    for (int i = 0; i < a.count; ++i) {
        for (int j = 0; j < b.count; ++j) {
            if (used[j] || a.token(i) != b.token(j)) continue;
            used[j] = true;
            ++shared;
            break;
        }
    }
    return shared;
}

bool equal_keys(const title_key &q, const title_key &c) {
    return (q.count == c.count && same_range(q, q.count, c, 0, c.count)) || q.compact() == c.compact();
}

title_score fit(int points, title_fit f) { return {points, f, points}; }

// The rules of one title against one key of the file's title.
title_score key_points(const query &q, const title_key &k, const title_key &c, int candidate_year) {
    if (k.count == 0 || c.count == 0) return fit(0, title_fit::none);
    if (equal_keys(k, c)) return fit(kEqualTitle, title_fit::equal);
    const bool same_year = q.year > 0 && candidate_year == q.year;
    // A brand in front left out: "Tom Clancy's Jack Ryan" for "Jack Ryan".
    if (c.brand_count > 0 && (q.show || same_year) && same_range(k, k.count, c, c.brand_count, c.count))
        return fit(kBrandTitle, title_fit::brand);
    if (c.main_count < c.count && same_range(k, k.count, c, 0, c.main_count))
        return fit(kSubtitleTitle, title_fit::subtitle);
    for (int p = 0; p < c.part_count; ++p)
        if (same_range(k, k.count, c, c.part_start[p], c.count)) return fit(kPartTitle, title_fit::part);
    const int shorter = k.count < c.count ? k.count : c.count;
    const int longer = k.count < c.count ? c.count : k.count;
    if (k.count < c.count && leads(k, k.count, c))
        return fit(kPrefixBase + kPrefixSpan * shorter / longer, title_fit::leads);
    if (c.count < k.count && leads(c, c.count, k))
        return fit(kPrefixBase + kPrefixSpan * shorter / longer, title_fit::prefix);
    const int overlap = kOverlapSpan * 2 * shared_tokens(k, c) / (k.count + c.count);
    return fit(overlap, overlap > 0 ? title_fit::overlap : title_fit::none);
}

// "Shrek 4" (the franchise and a number) against a title of the same year
// that begins with the franchise or carries it before its subtitle, and
// names no other number after it.
bool sequel_of(const query &q, const title_key &c, int candidate_year) {
    const int n = q.franchise;
    if (n == 0 || q.year <= 0 || candidate_year != q.year || c.count <= n) return false;
    for (int at = 0; at + n <= c.main_count; ++at) {
        if (!same_range(q.title, n, c, at, at + n)) continue;
        if (at + n < c.count && is_number(c.token(at + n)) && c.token(at + n) != q.title.token(n)) return false;
        return true;
    }
    return false;
}

title_score best_points(const query &q, const title_key &c, int candidate_year) {
    title_score best = key_points(q, q.title, c, candidate_year);
    if (q.country[0]) {
        const title_score with_country = key_points(q, q.title_country, c, candidate_year);
        if (with_country.points > best.points) best = with_country;
    }
    // "Event Games 2006": the year belongs to the title; only equal counts.
    if (q.year > 0 && best.fit != title_fit::equal && equal_keys(q.title_year, c))
        best = fit(kEqualTitle, title_fit::equal);
    if (best.points < kSequelTitle && sequel_of(q, c, candidate_year)) {
        best.plain = best.points;
        best.points = kSequelTitle;
        best.fit = title_fit::sequel;
    }
    return best;
}

bool leads_file_title(title_fit f) {
    return f == title_fit::equal || f == title_fit::subtitle || f == title_fit::leads || f == title_fit::sequel;
}

}  // namespace

void query_make(std::string_view title, std::string_view country, int year, bool show, query *q) {
    oxnames::title_key_make(title, &q->title);
    q->year = year > 0 ? year : -1;
    q->show = show;
    q->country[0] = 0;
    q->title_country = q->title;
    q->title_year = q->title;
    if (q->year > 0) {
        char digits[12];
        std::snprintf(digits, sizeof digits, "%d", q->year);
        oxnames::title_key_append(&q->title_year, digits);
    }
    // "Shrek 4": a franchise of one or more words and a number after it.
    const title_key &t = q->title;
    q->franchise = t.count >= 2 && t.main_count == t.count && is_number(t.token(t.count - 1)) &&
                           !is_number(t.token(t.count - 2))
                       ? t.count - 1
                       : 0;
    if (country.size() != 2) return;
    // The name's own spelling goes into the title ("The Office UK"); the
    // ISO code is what TMDb lists as an origin.
    oxnames::title_key_append(&q->title_country, country);
    const bool uk = country == "UK";
    q->country[0] = uk ? 'G' : country[0];
    q->country[1] = uk ? 'B' : country[1];
    q->country[2] = 0;
}

title_score title_points(const query &q, std::string_view title, std::string_view original_title,
                         int candidate_year) {
    title_key key;
    oxnames::title_key_make(title, &key);
    title_score best = best_points(q, key, candidate_year);
    if (best.points < kEqualTitle && !original_title.empty() && original_title != title) {
        oxnames::title_key_make(original_title, &key);
        const title_score original = best_points(q, key, candidate_year);
        if (original.points > best.points) best = original;
    }
    return best;
}

int year_points(int query_year, int candidate_year) {
    if (query_year <= 0 || candidate_year <= 0) return 0;
    const int off = query_year > candidate_year ? query_year - candidate_year : candidate_year - query_year;
    if (off == 0) return kSameYear;
    if (off == 1) return kYearOff1;
    if (off == 2) return kYearOff2;
    const int far = kYearFarBase - 25 * (off - 3);
    return far < kYearFarFloor ? kYearFarFloor : far;
}

int country_points(const query &q, const std::string_view *origins, int origin_count) {
    if (!q.country[0] || origin_count == 0) return 0;
    for (int k = 0; k < origin_count; ++k)
        if (origins[k] == q.country) return kCountry;
    return -kCountry;
}

int tie_points(double popularity, double best_popularity, double votes, double best_votes) {
    const auto share = [](double value, double best) {
        if (!(value > 0) || !(best >= value) || !std::isfinite(best)) return 0.0;
        return std::log1p(value) / std::log1p(best);
    };
    const double points = kTieSpan / 2.0 * (share(popularity, best_popularity) + share(votes, best_votes));
    return points >= 0 && points <= kTieSpan ? static_cast<int>(points) : 0;
}

int clamp_score(int points) { return points < 0 ? 0 : points > 1000 ? 1000 : points; }

int score_set(const query &q, scored *items, int count) {
    bool any_equal = false;
    int subtitles = 0;
    int leading = 0;
    for (int i = 0; i < count; ++i) {
        const title_fit f = items[i].title.fit;
        any_equal = any_equal || f == title_fit::equal;
        subtitles += f == title_fit::subtitle;
        leading += leads_file_title(f);
    }
    // A show named without a year, whose title begins one candidate's and
    // no other's, is that show.
    const bool sole_subtitle = q.show && q.year <= 0 && !any_equal && subtitles == 1 && leading == 1;
    int base[kMaxSet];
    const int n = count < kMaxSet ? count : kMaxSet;
    double best_popularity = 0;
    double best_votes = 0;
    int top = -1000;
    for (int i = 0; i < n; ++i) {
        const scored &s = items[i];
        // The sequel rule holds only while no candidate is the file's title.
        base[i] = (s.title.fit == title_fit::sequel && any_equal ? s.title.plain : s.title.points) + s.others;
        if (sole_subtitle && s.title.fit == title_fit::subtitle) base[i] += kSoleSubtitle;
        if (base[i] > top) top = base[i];
        if (s.popularity > best_popularity) best_popularity = s.popularity;
        if (s.votes > best_votes) best_votes = s.votes;
    }
    for (int i = 0; i < n; ++i)
        items[i].score = base[i] + tie_points(items[i].popularity, best_popularity, items[i].votes, best_votes);
    // The best points shared: only popularity would part them.
    int tied = 0;
    int known = -1;
    for (int i = 0; i < n; ++i) {
        if (base[i] != top) continue;
        ++tied;
        if (known < 0 || items[i].votes > items[known].votes) known = i;
    }
    int unparted = 0;
    if (tied >= 2) {
        const scored &k = items[known];
        bool far_better_known = k.votes > 0;
        for (int i = 0; i < n; ++i) {
            if (base[i] != top || i == known) continue;
            if (!(k.votes >= kKnownRatio * items[i].votes && k.popularity >= items[i].popularity))
                far_better_known = false;
        }
        // Nothing parts them: the whole set is held below the threshold,
        // every candidate losing the same points, so the order stays.
        int best = 0;
        for (int i = 0; i < n; ++i) best = items[i].score > best ? items[i].score : best;
        if (!far_better_known && best >= kConfident) {
            for (int i = 0; i < n; ++i) items[i].score -= best - (kConfident - 1);
            unparted = tied;
        }
    }
    for (int i = 0; i < count; ++i) items[i].score = i < n ? clamp_score(items[i].score) : 0;
    return unparted;
}

}  // namespace oxmatch
