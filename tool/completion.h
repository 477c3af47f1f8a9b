// `oxmeta completion bash|zsh|fish`: a completion script generated from the
// command definitions, so that it names every subcommand and option there is.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

// The script for shell ("bash", "zsh" or "fish"), or "" for another name.
std::string completion_script(const CLI::App &app, const std::string &shell);
