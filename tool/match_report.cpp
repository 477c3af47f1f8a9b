// A file's match read back through the accessors and printed for people,
// for scripts or as JSON Lines.
#include "match_report.h"

#include <cstdio>
#include <string>
#include <vector>

#include "json_line.h"
#include "name_fields.h"
#include "rows.h"
#include "terminal.h"

match_outcome match_file(const std::string &path, const oxmeta_name *parsed) {
    match_outcome o{path, {}, 0, {}, {}, {}};
    if (parsed) {
        o.name = *parsed;
    } else {
        o.name.size = sizeof o.name;
        oxmeta_parse_name(path.c_str(), &o.name);
    }
    o.rc = oxmeta_tmdb_match(path.c_str());
    if (o.rc != OXMETA_OK) o.error = oxmeta_last_error();
    if (!o.stored()) return o;
    for (int i = 0; i < oxmeta_result_count(); ++i)
        o.candidates.push_back({oxmeta_result_id(i), oxmeta_result_title(i), oxmeta_result_year(i),
                                oxmeta_result_match_score(i)});
    for (int i = 0; i < oxmeta_match_episode_count(); ++i)
        o.episodes.push_back({oxmeta_match_episode_id_at(i), oxmeta_match_episode_title_at(i),
                              oxmeta_match_episode_season(i), oxmeta_match_episode_number(i)});
    return o;
}

const char *match_verdict(const match_outcome &o) {
    return o.matched() ? "matched" : o.ambiguous() ? "ambiguous" : o.stored() ? "unmatched" : "failed";
}

namespace {

std::string year_text(int year) { return year > 0 ? std::to_string(year) : ""; }

// "S01E02", as TMDb numbers the episode.
std::string episode_code(const match_episode &e) {
    char code[32];
    std::snprintf(code, sizeof code, "S%02dE%02d", e.season, e.number);
    return code;
}

// One text of every episode, each made by text(e), joined by separator.
template <typename Text>
std::string joined(const std::vector<match_episode> &episodes, const char *separator, Text &&text) {
    std::string out;
    for (size_t i = 0; i < episodes.size(); ++i) out.append(i ? separator : "").append(text(episodes[i]));
    return out;
}

void append_episode(std::string &out, const match_episode &e) {
    out += '{';
    json_key(out, "id");
    out += e.id;  // TMDb ids are decimal digits
    json_key(out, "title");
    append_json_string(out, e.title);
    json_key(out, "season");
    append_int(out, e.season);
    json_key(out, "number");
    append_int(out, e.number);
    out += '}';
}

// ------------------------------------------------------------------ JSON Lines

// The members of a candidate, into an open object.
void append_candidate_members(std::string &out, const match_candidate &c) {
    json_key(out, "id");
    out += c.id.empty() ? "null" : c.id;  // TMDb ids are decimal digits
    json_key(out, "title");
    append_json_string(out, c.title);
    json_key(out, "year");
    if (c.year > 0)
        append_int(out, c.year);
    else
        out += "null";
    json_key(out, "score");
    append_int(out, c.score);
}

void print_json_line(const match_outcome &o) {
    std::string out = "{";
    append_input_members(out, o.input);
    json_key(out, "parsed");
    out += '{';
    append_name_members(out, o.name);
    out += '}';
    json_key(out, "status");
    append_json_string(out, match_verdict(o));
    json_key(out, "error");
    if (o.error.empty())
        out += "null";
    else
        append_json_string(out, o.error);
    json_key(out, "pick");
    if (o.matched() && !o.candidates.empty()) {
        out += '{';
        append_candidate_members(out, o.candidates.front());
        // The first episode, and every one for a file of several.
        json_key(out, "episode");
        if (o.episodes.empty())
            out += "null";
        else
            append_episode(out, o.episodes.front());
        json_key(out, "episodes");
        out += '[';
        for (size_t i = 0; i < o.episodes.size(); ++i) {
            if (i) out += ',';
            append_episode(out, o.episodes[i]);
        }
        out += "]}";
    } else {
        out += "null";
    }
    json_key(out, "candidates");
    out += '[';
    for (size_t i = 0; i < o.candidates.size(); ++i) {
        out += i ? ",{" : "{";
        append_candidate_members(out, o.candidates[i]);
        out += '}';
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// ------------------------------------------------------------------ rows

// One row per file for scripts: what the name says, the verdict, the pick
// (or the best candidate when none is confident), its episodes (numbers as
// TMDb gives them, ids and titles; several joined by ";"), and the
// runners-up as id:score pairs.
std::vector<std::string> tsv_cells(const match_outcome &o) {
    const oxmeta_name &n = o.name;
    std::vector<std::string> cells = {o.input,          n.kind,   n.title, year_text(n.year),
                                      n.season >= 0 ? std::to_string(n.season) : "", episodes_text(n),
                                      match_verdict(o)};
    const match_candidate none{"", "", -1, -1};
    const match_candidate &best = o.candidates.empty() ? none : o.candidates.front();
    cells.insert(cells.end(), {best.id, best.title, year_text(best.year),
                               best.score >= 0 ? std::to_string(best.score) : "",
                               joined(o.episodes, ";", episode_code),
                               joined(o.episodes, ";", [](const match_episode &e) { return e.id; }),
                               joined(o.episodes, ";", [](const match_episode &e) { return e.title; })});
    std::string others;
    for (size_t i = 1; i < o.candidates.size(); ++i) {
        if (i > 1) others += ',';
        others.append(o.candidates[i].id).append(":").append(std::to_string(o.candidates[i].score));
    }
    cells.push_back(others);
    return cells;
}

// For people: the file and what its name says, then its candidates.
void print_block(const match_outcome &o, bool truncate) {
    const oxmeta_name &n = o.name;
    std::string said = std::string(n.kind) + " \xE2\x80\x9C" + n.title + "\xE2\x80\x9D";
    if (n.year > 0) said += " " + std::to_string(n.year);
    if (n.season >= 0) said += " season " + std::to_string(n.season);
    if (n.episode_count > 0) said.append(n.episode_count > 1 ? " episodes " : " episode ").append(episodes_text(n));
    rows table{{"", "id", "title", "year", "score", "episode"}, {}};
    for (size_t i = 0; i < o.candidates.size(); ++i) {
        const match_candidate &c = o.candidates[i];
        const bool pick = i == 0 && o.matched();
        std::string episode;
        if (pick)
            episode = joined(o.episodes, ", ", [](const match_episode &e) {
                return episode_code(e) + " " + e.title + " (" + e.id + ")";
            });
        table.cells.push_back({pick ? "pick" : i == 0 ? "best" : "", c.id, c.title, year_text(c.year),
                               std::to_string(c.score), episode});
    }
    std::printf("%s\n  %s: %s\n", escape_cell(o.input).c_str(), escape_cell(said).c_str(), match_verdict(o));
    if (!table.cells.empty()) print_aligned(table, truncate);
    std::printf("\n");
}

}  // namespace

void tell_match_error(const match_outcome &o) {
    std::fprintf(stderr, "oxmeta: %s: %s\n", escape_cell(o.input).c_str(), escape_cell(o.error).c_str());
}

void print_match(const match_outcome &o, output_format format, bool truncate) {
    if (format == output_format::json) {
        print_json_line(o);
    } else if (format == output_format::tsv) {
        print_tab_separated(rows{{}, {tsv_cells(o)}});
    } else {
        print_block(o, truncate);
    }
}
