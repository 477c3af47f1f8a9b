// One file's match as the tool reports it, for `match` and `scan`: what
// its name says, the verdict, the pick and the runners-up with scores.
#pragma once

#include <string>
#include <vector>

#include "output.h"
#include "oxmeta.h"

struct match_candidate {
    std::string id;
    std::string title;
    int year;
    int score;
};

// An episode the match found, as TMDb numbers it.
struct match_episode {
    std::string id;
    std::string title;
    int season;
    int number;
};

struct match_outcome {
    std::string input;
    oxmeta_name name;
    int rc;
    std::string error;
    std::vector<match_candidate> candidates;  // best first; empty when the match failed before storing
    std::vector<match_episode> episodes;  // every episode the file holds that TMDb has

    bool matched() const { return rc == OXMETA_OK; }
    // Candidates that nothing in the name parts: the library's own words.
    bool ambiguous() const { return rc == OXMETA_E_NOT_FOUND && error.rfind("match: ambiguous:", 0) == 0; }
    // The store held this match's candidates (not the previous one's).
    bool stored() const { return rc == OXMETA_OK || rc == OXMETA_E_NOT_FOUND; }
};

// Matches path with oxmeta_tmdb_match and reads back what it stored;
// parsed, when given, is what oxmeta_parse_name already said of path.
match_outcome match_file(const std::string &path, const oxmeta_name *parsed = nullptr);

// "matched", "ambiguous", "unmatched" or "failed".
const char *match_verdict(const match_outcome &o);

// "oxmeta: PATH: ERROR" on stderr, escaped as table cells are.
void tell_match_error(const match_outcome &o);

// One outcome: a block on a terminal (table), a row (tsv), a JSON line.
void print_match(const match_outcome &o, output_format format, bool truncate);
