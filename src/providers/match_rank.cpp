// The rules that score a candidate title against a file's title.
#include "providers/match_rank.h"

#include <cmath>
#include <cstring>

namespace oxmatch {
namespace {

using oxnames::title_key;

bool same_tokens(const title_key &a, int a_count, const title_key &b, int b_count) {
    if (a_count != b_count) return false;
    for (int t = 0; t < a_count; ++t)
        if (a.token(t) != b.token(t)) return false;
    return true;
}

// True when the first `count` tokens of a are the first tokens of b.
bool leads(const title_key &a, int count, const title_key &b) {
    return count <= b.count && same_tokens(a, count, b, count);
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

int key_points(const title_key &q, const title_key &c) {
    if (q.count == 0 || c.count == 0) return 0;
    if (same_tokens(q, q.count, c, c.count) || q.compact() == c.compact()) return kEqualTitle;
    if (c.main_count < c.count && same_tokens(q, q.count, c, c.main_count)) return kSubtitleTitle;
    const int shorter = q.count < c.count ? q.count : c.count;
    const int longer = q.count < c.count ? c.count : q.count;
    if (q.count < c.count ? leads(q, q.count, c) : leads(c, c.count, q))
        return kPrefixBase + kPrefixSpan * shorter / longer;
    return kOverlapSpan * 2 * shared_tokens(q, c) / (q.count + c.count);
}

int best_points(const query &q, const title_key &c) {
    int points = key_points(q.title, c);
    if (q.country[0]) {
        const int with_country = key_points(q.title_country, c);
        if (with_country > points) points = with_country;
    }
    return points;
}

}  // namespace

void query_make(std::string_view title, std::string_view country, int year, query *q) {
    oxnames::title_key_make(title, &q->title);
    q->year = year > 0 ? year : -1;
    q->country[0] = 0;
    q->title_country = q->title;
    if (country.size() != 2) return;
    // The name's own spelling goes into the title ("The Office UK"); the
    // ISO code is what TMDb lists as an origin.
    oxnames::title_key_append(&q->title_country, country);
    const bool uk = country == "UK";
    q->country[0] = uk ? 'G' : country[0];
    q->country[1] = uk ? 'B' : country[1];
    q->country[2] = 0;
}

int title_points(const query &q, std::string_view title, std::string_view original_title) {
    title_key key;
    oxnames::title_key_make(title, &key);
    int points = best_points(q, key);
    if (points < kEqualTitle && !original_title.empty() && original_title != title) {
        oxnames::title_key_make(original_title, &key);
        const int original = best_points(q, key);
        if (original > points) points = original;
    }
    return points;
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

}  // namespace oxmatch
