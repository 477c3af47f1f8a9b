#include "cli.h"

#include "sizes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

namespace {

std::optional<int64_t> parse_whole(const std::string &text) {
    int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end || text.empty()) return std::nullopt;
    return value;
}

size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command path of app, as "oxmeta tmdb search".
std::string command_path(const CLI::App *app) {
    std::string path;
    for (; app && app->get_parent(); app = app->get_parent()) path = app->get_name() + (path.empty() ? "" : " " + path);
    return path.empty() ? "oxmeta" : "oxmeta " + path;
}

std::vector<std::string> subcommand_names(const CLI::App &app) {
    std::vector<std::string> names;
    for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; }))
        names.push_back(sub->get_name());
    return names;
}

// The option of app or of a command above it (options fall through) named name.
const CLI::Option *find_option(const CLI::App *app, const std::string &name) {
    for (; app; app = app->get_parent())
        for (const CLI::Option *opt : app->get_options())
            if (opt->check_name(name)) return opt;
    return nullptr;
}

std::vector<std::string> option_names(const CLI::App *app) {
    std::vector<std::string> names;
    for (; app; app = app->get_parent())
        for (const CLI::Option *opt : app->get_options())
            for (const std::string &n : opt->get_lnames()) names.push_back("--" + n);
    return names;
}

// The deepest subcommand the parse reached.
CLI::App *deepest_parsed(CLI::App *app) {
    for (;;) {
        CLI::App *next = nullptr;
        for (CLI::App *sub : app->get_subcommands())
            if (sub->parsed()) next = sub;
        if (!next) return app;
        app = next;
    }
}

std::string with_suggestion(std::string message, const std::string &word,
                            const std::vector<std::string> &candidates) {
    const std::string best = closest(word, candidates);
    if (!best.empty()) message += " (did you mean '" + best + "'?)";
    return message;
}

// "tmdb_id: must be ..." reads better as "tmdb_id must be ...".
std::string people_wording(std::string message) {
    const size_t colon = message.find(": must ");
    if (colon != std::string::npos && message.find(' ') > colon) message.erase(colon, 1);
    return message;
}

}  // namespace

CLI::Validator whole_number(int64_t low, int64_t high) {
    const std::string wording = high == std::numeric_limits<int64_t>::max()
                                    ? low == 1 ? "must be a positive whole number"
                                               : "must be a whole number of at least " + std::to_string(low)
                                    : "must be a whole number from " + std::to_string(low) + " to " +
                                          std::to_string(high);
    return CLI::Validator(
        [=](std::string &text) {
            const auto value = parse_whole(text);
            return value && *value >= low && *value <= high ? std::string() : wording + " (not '" + text + "')";
        },
        "INT");
}

CLI::Validator real_number(double low, double high) {
    char wording[96];
    std::snprintf(wording, sizeof wording, "must be a number from %g to %g", low, high);
    return CLI::Validator(
        [=, wording = std::string(wording)](std::string &text) {
            char *end = nullptr;
            const double value = text.empty() ? NAN : std::strtod(text.c_str(), &end);
            const bool ok = end && *end == '\0' && std::isfinite(value) && value >= low && value <= high;
            return ok ? std::string() : wording + " (not '" + text + "')";
        },
        "NUMBER");
}

CLI::Validator one_of(const std::vector<std::string> &choices) {
    std::string list;
    for (size_t i = 0; i < choices.size(); ++i)
        list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
    return CLI::Validator(
        [=](std::string &text) {
            if (std::find(choices.begin(), choices.end(), text) != choices.end()) return std::string();
            return with_suggestion("must be " + list + " (not '" + text + "')", text, choices);
        },
        "");
}

CLI::Validator positive_whole_number() { return whole_number(1, std::numeric_limits<int64_t>::max()); }

CLI::Validator non_empty() {
    return CLI::Validator([](std::string &text) { return text.empty() ? std::string("must not be empty") : ""; },
                          "TEXT");
}

CLI::Validator http_address() {
    return CLI::Validator(
        [](std::string &text) {
            const std::string_view url = text;
            const size_t scheme = url.find("://");
            const std::string_view name = scheme == std::string_view::npos ? "" : url.substr(0, scheme);
            const std::string_view rest = scheme == std::string_view::npos ? "" : url.substr(scheme + 3);
            const bool ok = (name == "http" || name == "https") && !rest.empty() && rest[0] != '/' &&
                            rest.find_first_of("?# \t") == std::string_view::npos;
            return ok ? std::string()
                      : "must be an http:// or https:// address such as http://127.0.0.1:8080 (not '" + text + "')";
        },
        "URL");
}

CLI::Validator byte_size() {
    return CLI::Validator(
        [](std::string &text) {
            const auto size = parse_byte_size(text);
            return size && *size > 0 ? std::string()
                                     : "must be a size such as 1048576, 512K or 32M (not '" + text + "')";
        },
        "SIZE");
}

std::string closest(const std::string &word, const std::vector<std::string> &candidates) {
    std::string best;
    size_t best_distance = std::max<size_t>(2, word.size() / 3) + 1;
    for (const std::string &candidate : candidates) {
        const size_t d = edit_distance(word, candidate);
        if (d < best_distance) {
            best_distance = d;
            best = candidate;
        }
    }
    return best;
}

std::string unknown_subcommand(const CLI::App &app, int argc, const char *const *argv) {
    const CLI::App *at = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return "";
        if (arg.size() > 1 && arg[0] == '-') {
            // An option that takes a value, given apart from it, skips that value.
            if (arg.find('=') != std::string::npos) continue;
            const std::string name = arg.substr(arg.find_first_not_of('-'));
            const CLI::Option *opt = find_option(at, arg.rfind("--", 0) == 0 ? "--" + name : "-" + name);
            if (opt && opt->get_items_expected_min() > 0) ++i;
            continue;
        }
        const std::vector<std::string> names = subcommand_names(*at);
        if (names.empty()) continue;  // a positional argument of a leaf command
        const CLI::App *sub = nullptr;
        for (const CLI::App *candidate : at->get_subcommands([](const CLI::App *) { return true; }))
            if (candidate->check_name(arg)) sub = candidate;
        // A command with both takes other words as its positional arguments.
        const bool positional = !at->get_options([](const CLI::Option *o) { return o->get_positional(); }).empty();
        if (!sub && positional) continue;
        if (!sub)
            return with_suggestion("unknown command '" + arg + "' for '" + command_path(at) + "'", arg, names);
        at = sub;
    }
    return "";
}

int report_parse_error(CLI::App &app, const CLI::ParseError &e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
        // --help, --help-all, --version: CLI11 prints them on stdout.
        app.exit(e);
        return 0;
    }
    CLI::App *at = deepest_parsed(&app);
    std::string message = people_wording(e.what());
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::ExtrasError)) {
        // "The following argument was not expected: --jsn"
        const std::string what = e.what();
        const size_t colon = what.find(": ");
        const std::string words = colon == std::string::npos ? "" : what.substr(colon + 2);
        // CLI11 lists them last first.
        const size_t space = words.rfind(' ');
        const std::string word = space == std::string::npos ? words : words.substr(space + 1);
        if (word.rfind("-", 0) == 0)
            message = with_suggestion("unknown option '" + word + "' for '" + command_path(at) + "'", word,
                                      option_names(at));
        else if (!word.empty())
            message = "unexpected argument '" + word + "' for '" + command_path(at) + "'";
    } else if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::RequiredError) && e.what() == std::string("A subcommand is required")) {
        message = "'" + command_path(at) + "' needs a command: " + [&] {
            std::string list;
            for (const std::string &n : subcommand_names(*at)) list += (list.empty() ? "" : ", ") + n;
            return list;
        }();
    }
    std::fprintf(stderr, "oxmeta: %s\nRun '%s --help' for usage.\n", message.c_str(), command_path(at).c_str());
    return 2;
}

std::vector<std::string> comma_list(const std::string &text) {
    std::vector<std::string> items;
    for (size_t at = 0;;) {
        const size_t comma = text.find(',', at);
        items.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) return items;
        at = comma + 1;
    }
}
