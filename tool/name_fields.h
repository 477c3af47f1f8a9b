// The fields of a parsed name (oxmeta_name) as the tool prints them: JSON
// members, table headers and cells, in one order.
#pragma once

#include <string>
#include <vector>

#include "oxmeta.h"

// Appends every field as a member ("kind":"movie",...) to an open object.
void append_name_members(std::string &out, const oxmeta_name &n);
std::vector<std::string> name_headers();
// The episode numbers, comma-separated: "1,2".
std::string episodes_text(const oxmeta_name &n);
std::vector<std::string> name_cells(const oxmeta_name &n);
