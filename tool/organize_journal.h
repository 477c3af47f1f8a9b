// The journal of `oxmeta organize`: the plan, then before each step its
// intent and after it its completion, each line synced to disk in the
// state folder, so that a run that was killed can be finished (--resume)
// and a finished run undone.
#pragma once

#include <string>
#include <vector>

#include "file_moves.h"
#include "organize_nfo.h"
#include "organize_plan.h"

struct organize_tally {
    size_t moved = 0;
    size_t copied = 0;
    size_t linked = 0;   // hard and symbolic links made
    size_t removed = 0;  // copies and links an undo removed
    size_t skipped = 0;
    size_t failed = 0;
    size_t written = 0;  // metadata files (removed, by an undo)
    size_t images = 0;   // images fetched and written (removed, by an undo)
};

// $XDG_STATE_HOME/oxmeta (else ~/.local/state/oxmeta); "" when neither is set.
std::string state_folder();

// The journal of a run not finished (nor undone to the end), or "".
std::string unfinished_journal(const std::string &folder);

// Does the plan's steps, journalled in a new journal in folder; each step
// told on stdout as it ends; fetch gives the bytes of the files fetched.
// false (after saying why) when the journal cannot be written: then
// nothing was touched.
bool apply_plan(const organize_plan &plan, file_action action, const std::string &folder, bool json,
               organize_tally &tally, const decltype(journal_hooks::fetch) &fetch = nullptr);

// Finishes the run of journal: a step begun is found done or not done from
// the files themselves, the rest are done.
bool resume_run(const std::string &journal, bool json, organize_tally &tally);

// Replays a finished run in reverse; run "" for the latest. Each file moved
// goes back only when its first path is free and it is unchanged (size and
// modification time); a copy or a link made is removed only when it is
// unchanged and its source still holds the same; what cannot be undone
// safely is skipped and told.
bool undo_run(const std::string &folder, const std::string &run, bool json, organize_tally &tally);
