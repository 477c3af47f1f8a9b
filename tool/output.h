// What the tool prints after an operation: an aligned table for people or
// one JSON document for scripts, both read back through the public header.
#pragma once

#include <string>

// Extras an operation shows besides the result store.
struct report_extras {
    bool seasons = false;     // the TV detail's seasons and last episode
    bool has_value = false;   // a single value: a field, the runtime, the votes, an address
    std::string value;
};

// The name of a status code ("OXMETA_E_NOT_FOUND"), or "unknown".
const char *status_name(int code);

// Prints the outcome of operation (its status code rc) on stdout, as a
// table or as JSON; a failure is also told on stderr.
void print_report(const std::string &operation, int rc, bool json, const report_extras &extras);
