// Metadata files (.nfo) beside the videos organize files: what TMDb says
// of each film, show and episode, looked up through the library while the
// files are scanned (so that the scan's transport, cache and rate serve
// them), made into XML, planned where no file is, and written without ever
// replacing one.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <yyjson.h>

#include "match_report.h"
#include "organize_plan.h"

// The documents the lookups gave for one matched file.
struct nfo_documents {
    std::string error;      // why there are none ("" when the lookups answered)
    std::string video;      // <movie> or <episodedetails>
    std::string show;       // <tvshow>, for an episode
    std::string poster, backdrop;  // the film's or the show's image paths on TMDb ("" for none)
};

// The lookups of every matched file, by its path.
class nfo_lookups {
public:
    // Looks up what the file's documents need (the film's or the show's
    // detail, the season of its episodes). Called again for a file whose
    // replies were not at hand: the last call counts.
    void look_up(const match_outcome &o);
    const nfo_documents *find(const std::string &input) const;

private:
    std::map<std::string, nfo_documents> by_input_;
};

// Adds a file to write at path, unless a file is there or a step puts one there.
using write_adder = std::function<void(const std::string &path, const std::string &beside, const char *kind,
                                       const std::string &text, bool fetched)>;

// The files to write that each(docs, video, show_folder, add) adds for each
// video of the plan whose lookups answered (show_folder: the episode's
// show's folder in the library, else ""); a file whose lookups failed is
// told on stderr ("no WHAT") and counted in failed.
std::vector<plan_write> plan_files_beside(
    const organize_plan &plan, const std::vector<match_outcome> &outcomes, const nfo_lookups &lookups,
    const std::string &library, const char *what, size_t &failed,
    const std::function<void(const nfo_documents &, const std::string &video, const std::string &show_folder,
                             const write_adder &add)> &each);

// The metadata files to write beside the plan's videos (the show's in its
// folder), none where a file is or a sidecar goes; a file whose lookups
// failed is told on stderr and counted in failed.
std::vector<plan_write> plan_nfo_files(const organize_plan &plan, const std::vector<match_outcome> &outcomes,
                                       const nfo_lookups &lookups, const std::string &library, size_t &failed);

// ------------------------------------------------------------------ the journal's part

// What a journal says of the files a run writes.
struct journalled_write {
    plan_write file;
    bool intent = false, done = false, failed = false, skipped = false;
    long long size = -1, mtime = -1;
    long long fetched_size = -1;  // of the bytes fetched for it (a fetched file)
    std::string fetched_hash = {};
    bool removed = false, kept = false;
};

// How the journal lets the writes add and tell their lines.
struct journal_hooks {
    std::function<bool(const std::string &line)> append_line;  // a line appended and synced; false when it cannot be
    std::function<void(const char *what, const std::string &path, const std::string &error)> report;
    // The bytes of a fetched file (null: none can be fetched, as in a
    // resumed run): fetched, or not with why, skipped (true) or failed.
    std::function<bool(const plan_write &file, std::string &bytes, std::string &why, bool &skip)> fetch;
};

// The plan's lines of the writes, journalled before the first step.
std::vector<std::string> write_plan_lines(const std::vector<plan_write> &writes);

// A journal line (its object) that concerns the writes, read into writes;
// a line of none of theirs changes nothing.
void read_write_line(yyjson_val *line, std::vector<journalled_write> &writes);

// Writes each file not written yet, where its video now is: a partial file
// left by a killed run removed, a file found in place with the planned text
// (or the bytes journalled as fetched) taken as written; a fetched file
// whose bytes cannot be fetched now is skipped and told. false when the journal cannot be written.
// written counts the texts, fetched the files fetched.
bool finish_writes(std::vector<journalled_write> &writes, const journal_hooks &hooks, size_t &written, size_t &fetched,
                   size_t &skipped, size_t &failed);

// Removes each file written that is unchanged since (size and modification
// time); one changed is kept and told. false when the journal cannot be written.
bool undo_writes(std::vector<journalled_write> &writes, const journal_hooks &hooks, size_t &removed, size_t &fetched_removed,
                 size_t &kept);
