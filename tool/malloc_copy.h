// Texts handed to the library through a transport's out-parameters, which
// it releases with free().
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

// A malloc'd, NUL-terminated copy of text, or null when memory runs out.
inline char *malloc_copy(const std::string &text) {
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
