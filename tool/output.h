// What the tool prints after an operation, read back through the public
// header: an aligned table for people, tab-separated rows for scripts, or
// one JSON document.
#pragma once

#include <cstdint>
#include <string>

enum class output_format { table, tsv, json };

// Extras an operation shows besides the result store.
struct report_extras {
    enum class value_kind { none, text, number };
    bool seasons = false;                    // the TV detail's seasons and last episode
    value_kind kind = value_kind::none;      // a single value: a field, the runtime, the votes, an address
    bool has_value = false;                  // false: the service did not give it (JSON null)
    std::string text;
    int64_t number = 0;
    std::string error;  // the tool's own reason for a failure, told instead of the library's
};

// Flushes stdout; false once any write to it has failed (a full disk, a
// closed pipe end). output_error() tells the first failure's reason.
bool flush_output();
const char *output_error();

// The name of a status code ("OXMETA_E_NOT_FOUND"), or "unknown".
const char *status_name(int code);

// Prints the outcome of operation (its status code rc) on stdout in format;
// footers, warnings and a failure go to stderr. truncate cuts table cells
// to the terminal's width.
void print_report(const std::string &operation, int rc, output_format format, bool truncate,
                  const report_extras &extras);
