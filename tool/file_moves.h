// Moving one file without ever replacing another or losing a byte: a
// rename that refuses an existing destination, and across devices a
// verified copy put in place before the source goes.
#pragma once

#include <string>

struct move_result {
    bool ok = false;
    bool copied = false;  // across devices
    std::string error;    // why not, when !ok
};

// Moves source to destination (whose folder exists). Never replaces a file
// at destination; on failure the source is where it was and no partial
// copy remains. A symbolic link is moved as a link.
move_result move_file(const std::string &source, const std::string &destination);

// Makes folder and the folders above it; false with why when it cannot.
bool make_folders(const std::string &folder, std::string &why);

// Flushes a folder's entries to disk.
bool sync_folder(const std::string &folder);

// The hidden name a copy is written under before it is put in place.
std::string partial_name(const std::string &destination);

// Whether two files hold the same bytes.
bool same_content(const std::string &a, const std::string &b);
