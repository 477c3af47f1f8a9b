// The tool's subcommands: what each one asks of the library, its options
// and the example its help page shows.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

#include "config.h"
#include "output.h"
#include "transport_chain.h"

// The output format the command line or the config file asked for, if
// any, and whether stdout is a terminal.
struct output_choice {
    std::optional<output_format> asked;
    bool terminal = false;
};

// What a command that prints its own output is given: the format chosen,
// the settings, and more transports like the installed one, one per worker.
struct run_context {
    output_format format;
    bool terminal;
    const settings &s;
    const oxmeta_io *io;  // the transport the library was given
    std::function<std::unique_ptr<transport_chain>()> another_transport;
};

// What a subcommand runs: a lookup once the transport is in place, or
// (service::local) work of the tool's own that returns its exit status, or
// (run_printed) lookups that print their own output in the format chosen
// and return the exit status.
struct operation {
    std::string name;
    enum class service { none, tmdb, omdb, local } needs = service::none;
    std::function<int(report_extras &)> run;
    std::function<int(const output_choice &)> run_local = {};
    std::function<int(const run_context &)> run_printed = {};
    bool whole_run_deadline = true;  // false: --deadline only when given, per worker
};

// Adds the tmdb, omdb and itunes commands to app; the one the command line
// chooses sets op.
void add_service_commands(CLI::App &app, operation &op);

// Adds `parse` (file names read offline) to app.
void add_parse_command(CLI::App &app, operation &op);

// Adds `match` (files matched to their TMDb entries) to app.
void add_match_command(CLI::App &app, operation &op);

// Adds `scan` (folders of media files matched end to end) and `cache`.
void add_scan_commands(CLI::App &app, operation &op, settings &s);

// Adds `organize` (matched files filed into a media-server library).
void add_organize_command(CLI::App &app, operation &op);
