// Moving one file without ever replacing another or losing a byte: a
// rename that refuses an existing destination, and across devices a
// verified copy put in place before the source goes.
#pragma once

#include <string>

struct move_result {
    bool ok = false;
    bool copied = false;  // across devices, or a copy asked for
    std::string error;    // why not, when !ok
    bool linked = false;  // a hard or symbolic link made
};

// What a step does with its file: moves it, or leaves it where it is and
// puts a verified copy, a hard link, a symbolic link or a copy sharing its
// blocks (reflink) at the destination. hardlink_or_copy copies only where
// a hard link cannot cross devices.
enum class file_action { move, copy, hardlink, symlink, reflink, hardlink_or_copy };

// The action's name on the command line and in the journal, and back;
// false for an unknown name.
const char *action_name(file_action action);
bool action_from_name(const std::string &name, file_action &action);

// Moves source to destination (whose folder exists). Never replaces a file
// at destination; on failure the source is where it was and no partial
// copy remains. A symbolic link is moved as a link.
move_result move_file(const std::string &source, const std::string &destination);

// Does action from source to destination (whose folder exists), never
// replacing a file at destination; on failure no partial copy remains and
// the source is untouched.
move_result place_file(file_action action, const std::string &source, const std::string &destination);

// Whether what is at destination is what action made of source: a copy
// with the same bytes, the same file (a hard link), or a link to source.
bool placed(file_action action, const std::string &source, const std::string &destination);

// Whether anything (a file, a folder, a link, even a dangling one) is at path.
bool exists(const std::string &path);

// Makes folder and the folders above it; false with why when it cannot.
bool make_folders(const std::string &folder, std::string &why);

// Flushes a folder's entries to disk.
bool sync_folder(const std::string &folder);

// The hidden name a copy is written under before it is put in place.
std::string partial_name(const std::string &destination);

// The XXH3 hash (64 bits, in hex) of the file's bytes; "" when it cannot
// be read.
std::string file_hash(const std::string &path);

// Whether two files hold the same bytes.
bool same_content(const std::string &a, const std::string &b);
