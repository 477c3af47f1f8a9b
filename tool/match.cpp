// `oxmeta match PATH...`: each file's TMDb entry, found by the library's
// oxmeta_tmdb_match, with what the name says, the pick and the runners-up
// with their scores.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "json_line.h"
#include "name_fields.h"
#include "oxmeta.h"
#include "rows.h"

namespace {

struct candidate {
    std::string id;
    std::string title;
    int year;
    int score;
};

// One path's match as the library left it.
struct outcome {
    std::string input;
    oxmeta_name name;
    int rc;
    std::string error;
    std::vector<candidate> candidates;  // best first; empty when the match failed before storing
    std::string episode_id;
    std::string episode_title;

    bool matched() const { return rc == OXMETA_OK; }
    // The store holds this match's candidates (not the previous one's).
    bool stored() const { return rc == OXMETA_OK || rc == OXMETA_E_NOT_FOUND; }
};

outcome match_one(const std::string &path) {
    outcome o{path, {}, 0, {}, {}, {}, {}};
    o.name.size = sizeof o.name;
    oxmeta_parse_name(path.c_str(), &o.name);
    o.rc = oxmeta_tmdb_match(path.c_str());
    if (o.rc != OXMETA_OK) o.error = oxmeta_last_error();
    if (!o.stored()) return o;
    for (int i = 0; i < oxmeta_result_count(); ++i)
        o.candidates.push_back({oxmeta_result_id(i), oxmeta_result_title(i), oxmeta_result_year(i),
                                oxmeta_result_match_score(i)});
    o.episode_id = oxmeta_match_episode_id();
    o.episode_title = oxmeta_match_episode_title();
    return o;
}

const char *verdict(const outcome &o) { return o.matched() ? "matched" : o.stored() ? "unmatched" : "failed"; }

std::string year_text(int year) { return year > 0 ? std::to_string(year) : ""; }

// ------------------------------------------------------------------ JSON Lines

// The members of a candidate, into an open object.
void append_candidate_members(std::string &out, const candidate &c) {
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

void print_json_line(const outcome &o) {
    std::string out = "{";
    json_key(out, "input");
    append_json_string(out, o.input);
    json_key(out, "parsed");
    out += '{';
    append_name_members(out, o.name);
    out += '}';
    json_key(out, "status");
    append_json_string(out, verdict(o));
    json_key(out, "error");
    if (o.error.empty())
        out += "null";
    else
        append_json_string(out, o.error);
    json_key(out, "pick");
    if (o.matched() && !o.candidates.empty()) {
        out += '{';
        append_candidate_members(out, o.candidates.front());
        json_key(out, "episode");
        if (o.episode_id.empty()) {
            out += "null";
        } else {
            out += "{";
            json_key(out, "id");
            out += o.episode_id;
            json_key(out, "title");
            append_json_string(out, o.episode_title);
            out += '}';
        }
        out += '}';
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
// (or the best candidate when none is confident), and the runners-up as
// id:score pairs.
std::vector<std::string> tsv_cells(const outcome &o) {
    const oxmeta_name &n = o.name;
    std::string episodes;
    for (int i = 0; i < n.episode_count; ++i) episodes += (i ? "," : "") + std::to_string(n.episodes[i]);
    std::vector<std::string> cells = {o.input,          n.kind,   n.title, year_text(n.year),
                                      n.season >= 0 ? std::to_string(n.season) : "", episodes, verdict(o)};
    const candidate none{"", "", -1, -1};
    const candidate &best = o.candidates.empty() ? none : o.candidates.front();
    cells.insert(cells.end(), {best.id, best.title, year_text(best.year),
                               best.score >= 0 ? std::to_string(best.score) : "", o.episode_id, o.episode_title});
    std::string others;
    for (size_t i = 1; i < o.candidates.size(); ++i)
        others += (i > 1 ? "," : "") + o.candidates[i].id + ":" + std::to_string(o.candidates[i].score);
    cells.push_back(others);
    return cells;
}

// For people: the file and what its name says, then its candidates.
void print_block(const outcome &o, bool truncate) {
    const oxmeta_name &n = o.name;
    std::string said = std::string(n.kind) + " \xE2\x80\x9C" + n.title + "\xE2\x80\x9D";
    if (n.year > 0) said += " " + std::to_string(n.year);
    if (n.season >= 0) said += " season " + std::to_string(n.season);
    for (int i = 0; i < n.episode_count; ++i) said += (i ? "," : " episode ") + std::to_string(n.episodes[i]);
    rows table{{"", "id", "title", "year", "score", "episode"}, {}};
    for (size_t i = 0; i < o.candidates.size(); ++i) {
        const candidate &c = o.candidates[i];
        const bool pick = i == 0 && o.matched();
        std::string episode;
        if (pick && !o.episode_id.empty()) episode = o.episode_title + " (" + o.episode_id + ")";
        table.cells.push_back({pick ? "pick" : i == 0 ? "best" : "", c.id, c.title, year_text(c.year),
                               std::to_string(c.score), episode});
    }
    std::printf("%s\n  %s: %s\n", o.input.c_str(), said.c_str(), verdict(o));
    if (!table.cells.empty()) print_aligned(table, truncate);
    std::printf("\n");
}

}  // namespace

void add_match_command(CLI::App &app, operation &op) {
    static std::vector<std::string> paths;
    CLI::App *match = app.add_subcommand(
        "match", "Media files matched to their TMDb entries, with scores (needs TMDB_API_KEY or --tmdb-key)");
    match->add_option("path", paths, "File names or paths of films or episodes")->required();
    match->footer("A score runs from 0 to 1000; " + std::to_string(OXMETA_MATCH_CONFIDENT) +
                  " or more is a confident match.\n"
                  "Example: oxmeta --offline match \"Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv\"");
    match->callback([&op] {
        op = {"match", operation::service::tmdb, nullptr, nullptr, [](output_format format, bool terminal) {
                  int status = 0;
                  for (const std::string &path : paths) {
                      const outcome o = match_one(path);
                      if (!o.matched()) status = 1;
                      if (!o.error.empty()) std::fprintf(stderr, "oxmeta: %s: %s\n", path.c_str(), o.error.c_str());
                      if (format == output_format::json) {
                          print_json_line(o);
                      } else if (format == output_format::tsv) {
                          print_tab_separated(rows{{}, {tsv_cells(o)}});
                      } else {
                          print_block(o, terminal);
                      }
                      std::fflush(stdout);
                  }
                  return status;
              }};
    });
}
