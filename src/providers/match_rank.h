// How well one TMDb candidate fits what a file name says: the points of
// each rule, on the documented 0..1000 scale. Pure functions of their
// arguments; docs/matching.md explains each weight.
#pragma once

#include <string_view>

#include "names/title_key.h"

namespace oxmatch {

inline constexpr int kEqualTitle = 820;
inline constexpr int kSubtitleTitle = 600;  // the candidate's title before its subtitle
inline constexpr int kPrefixBase = 350;     // plus up to kPrefixSpan by coverage
inline constexpr int kPrefixSpan = 200;
inline constexpr int kOverlapSpan = 340;    // times the tokens' Dice coefficient
inline constexpr int kSameYear = 100;
inline constexpr int kYearOff1 = 50;
inline constexpr int kYearOff2 = -200;
inline constexpr int kYearFarBase = -250;   // three off; 25 less per year beyond
inline constexpr int kYearFarFloor = -400;
inline constexpr int kCountry = 50;         // named country among the origins, or not
inline constexpr int kTieSpan = 30;         // popularity and votes, for near ties
inline constexpr int kConfident = 700;

// What the file name asks for.
struct query {
    oxnames::title_key title;
    oxnames::title_key title_country;  // the title with the country after it
    char country[3];                   // ISO 3166 code ("GB" for "UK"), or ""
    int year;                          // -1 when the name has none
};

// Fills q from a parsed title, country and year.
void query_make(std::string_view title, std::string_view country, int year, query *q);

// Points of the closest of the candidate's two titles.
int title_points(const query &q, std::string_view title, std::string_view original_title);
int year_points(int query_year, int candidate_year);
// origins: the candidate's "origin_country" codes; none known gives 0.
int country_points(const query &q, const std::string_view *origins, int origin_count);
// Up to kTieSpan, from popularity and votes against the best of the set.
int tie_points(double popularity, double best_popularity, double votes, double best_votes);
// The sum held to 0..1000.
int clamp_score(int points);

}  // namespace oxmatch
