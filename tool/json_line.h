// Writing JSON Lines by hand, for output that streams: text as a JSON
// string, a member's key, a number.
#pragma once

#include <string>
#include <string_view>

// Appends text as a JSON string; bytes that are not UTF-8 become U+FFFD.
void append_json_string(std::string &out, std::string_view text);
// Appends the members "input" (text, as append_json_string writes it) and,
// when input is not UTF-8, "path_bytes": its bytes in base64, so that the
// file can be found again.
void append_input_members(std::string &out, std::string_view input);
// Appends "name": after a '{' or a value (adding the comma).
void json_key(std::string &out, const char *name);
void append_int(std::string &out, int value);
