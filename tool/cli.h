// Command-line helpers on top of CLI11: validators that word their errors
// for people, "did you mean" for misspelt commands and options, and the
// way every usage error is printed.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

// A whole number from low to high ("must be a positive whole number" when
// high is the largest int64_t and low is 1).
CLI::Validator whole_number(int64_t low, int64_t high);
CLI::Validator positive_whole_number();

// A finite number from low to high.
CLI::Validator real_number(double low, double high);

// One of choices; a near miss is named ("did you mean 'stats'?").
CLI::Validator one_of(const std::vector<std::string> &choices);

// A text that is not empty.
CLI::Validator non_empty();

// An http:// or https:// address with a host, no query and no fragment.
CLI::Validator http_address();

// A size in bytes: "1048576", "512K", "32M", "1GiB" (binary units).
CLI::Validator byte_size();

// The items of a comma-separated list, as written (an empty item stays).
std::vector<std::string> comma_list(const std::string &text);

// The closest of candidates to word when it is close enough to be a typo, or "".
std::string closest(const std::string &word, const std::vector<std::string> &candidates);

// Looks through argv, before CLI11 parses it, for a word where a
// subcommand must stand that names none ("oxmeta tmdb seach x"); the
// message that says so, with the closest name, or "" when there is none.
std::string unknown_subcommand(const CLI::App &app, int argc, const char *const *argv);

// Prints a parse error as "oxmeta: ..." on stderr with a pointer to the
// help of the command it concerns, and returns the exit status: 0 for
// --help and --version (printed on stdout), 2 for every usage error.
int report_parse_error(CLI::App &app, const CLI::ParseError &e);
