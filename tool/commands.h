// The tool's subcommands: what each one asks of the library, its options
// and the example its help page shows.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "output.h"

// What a subcommand runs once the transport is in place.
struct operation {
    std::string name;
    enum class service { none, tmdb, omdb, local } needs = service::none;  // local: no library call
    std::function<int(report_extras &)> run;
};

// Adds the tmdb, omdb and itunes commands to app; the one the command line
// chooses sets op.
void add_service_commands(CLI::App &app, operation &op);
