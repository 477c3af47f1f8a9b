// How well one TMDb candidate fits what a file name says: the points of
// each rule, on the documented 0..1000 scale, and the rules that weigh the
// candidates of one match against each other. Pure functions of their
// arguments; docs/matching.md explains each weight.
#pragma once

#include <string_view>

#include "names/title_key.h"

namespace oxmatch {

// Title fits, strongest first. Each tier's points stay below the one above.
inline constexpr int kEqualTitle = 820;
inline constexpr int kBrandTitle = 720;     // equal once a possessive brand in front is left out
inline constexpr int kSubtitleTitle = 600;  // the candidate's title before its subtitle
inline constexpr int kPartTitle = 600;      // the candidate's title after a ":" or " - "
inline constexpr int kSequelTitle = 600;    // "Shrek 4" for "Shrek Forever After", same year
inline constexpr int kPrefixBase = 350;     // plus up to kPrefixSpan by coverage
inline constexpr int kPrefixSpan = 200;
inline constexpr int kOverlapSpan = 340;    // times the tokens' Dice coefficient
// The year, the country, popularity.
inline constexpr int kSameYear = 100;
inline constexpr int kYearOff1 = 50;
inline constexpr int kYearOff2 = -200;
inline constexpr int kYearFarBase = -250;   // three off; 25 less per year beyond
inline constexpr int kYearFarFloor = -400;
inline constexpr int kCountry = 50;         // named country among the origins, or not
inline constexpr int kTieSpan = 30;         // popularity and votes, for near ties
// Rules over the whole set of candidates.
inline constexpr int kSoleSubtitle = 100;   // a show's one candidate of its title with a subtitle
inline constexpr int kKnownRatio = 10;      // votes that make one of them far better known
inline constexpr int kConfident = 700;
inline constexpr int kMaxSet = 64;          // candidates weighed together

// Which rule gave a candidate its title points.
enum class title_fit { none, overlap, prefix, leads, part, subtitle, sequel, brand, equal };

// What the file name asks for.
struct query {
    oxnames::title_key title;
    oxnames::title_key title_country;  // the title with the country after it
    oxnames::title_key title_year;     // the title with the year after it ("Event Games 2006")
    char country[3];                   // ISO 3166 code ("GB" for "UK"), or ""
    int year;                          // -1 when the name has none
    bool show;                         // an episode's show, not a film
    int franchise;                     // tokens before a sequel number ("shrek 4": 1), or 0
};

// Fills q from a parsed title, country, year and kind.
void query_make(std::string_view title, std::string_view country, int year, bool show, query *q);

struct title_score {
    int points;
    title_fit fit;
    int plain;  // the points without the sequel rule, which needs the whole set
};

// Points of the closest of the candidate's two titles; candidate_year is
// its release or first air year (-1 when it has none).
title_score title_points(const query &q, std::string_view title, std::string_view original_title,
                         int candidate_year);
int year_points(int query_year, int candidate_year);
// origins: the candidate's "origin_country" codes; none known gives 0.
int country_points(const query &q, const std::string_view *origins, int origin_count);
// Up to kTieSpan, from popularity and votes against the best of the set.
int tie_points(double popularity, double best_popularity, double votes, double best_votes);
// The sum held to 0..1000.
int clamp_score(int points);

// One candidate as the rules over the whole set see it.
struct scored {
    title_score title;
    int others;  // year and country points
    double popularity;
    double votes;
    int score;  // set by score_set
};

// Scores every candidate of one match against the others. When two or more
// share the best points with nothing in the name to part them and none is
// far better known (kKnownRatio times the votes of each other, and no less
// popular), every score drops by the same points so that the best is just
// below kConfident, and their number is returned; else 0. Candidates past
// kMaxSet score 0.
int score_set(const query &q, scored *items, int count);

}  // namespace oxmatch
