// oxmeta: looks up film, TV and podcast metadata through the oxmeta library,
// as a host does: it installs a transport (libcurl, or recorded replies) and
// calls the library's exported functions.
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "cli.h"
#include "commands.h"
#include "completion.h"
#include "config.h"
#include "http_curl.h"
#include "output.h"
#include "oxmeta.h"
#include "recording.h"
#include "sizes.h"
#include "terminal.h"
#include "trace.h"
#include "transport_chain.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

namespace fs = std::filesystem;

// This program's own file: /proc/self/exe, or argv[0] looked up on PATH.
fs::path own_executable(const char *argv0) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return exe;
    const std::string name = argv0 ? argv0 : "";
    if (name.find('/') != std::string::npos) return fs::weakly_canonical(name, ec);
    const char *path = std::getenv("PATH");
    for (std::string dirs = path ? path : ""; !dirs.empty();) {
        const size_t colon = dirs.find(':');
        const fs::path candidate = fs::path(dirs.substr(0, colon)) / name;
        if (access(candidate.c_str(), X_OK) == 0) return fs::weakly_canonical(candidate, ec);
        dirs = colon == std::string::npos ? "" : dirs.substr(colon + 1);
    }
    return {};
}

// The recordings installed beside the tool (PREFIX/bin/oxmeta and
// PREFIX/share/oxmeta/recordings); the source tree's for the tool in its
// build tree.
std::string shipped_recordings(const char *argv0) {
    std::error_code ec;
    const fs::path exe = own_executable(argv0);
    const fs::path installed = exe.parent_path().parent_path() / "share" / "oxmeta" / "recordings";
    if (fs::is_directory(installed, ec)) return installed.string();
    if (fs::equivalent(exe.parent_path(), OXMETA_BUILD_DIR, ec)) return OXMETA_SOURCE_RECORDINGS;
    return installed.string();
}

// Sets the key the operation's service needs; false (after saying so) when
// there is none. Replayed requests carry no credential, so any key does.
bool set_key(const operation &op, settings &s, bool replaying, bool on_command_line) {
    struct source {
        std::string option;
        const char *env;
        const char *option_name;
        const char *service;
        int (*set)(const char *);
    };
    if (op.needs != operation::service::tmdb && op.needs != operation::service::omdb) return true;
    const source src = op.needs == operation::service::tmdb
                           ? source{s.tmdb_key, "TMDB_API_KEY", "--tmdb-key", "TMDb", oxmeta_tmdb_set_key}
                           : source{s.omdb_key, "OMDB_API_KEY", "--omdb-key", "OMDb", oxmeta_omdb_set_key};
    const std::string from_env = env_or_empty(src.env);
    std::string key = src.option.empty() ? from_env : src.option;
    s.key_source = on_command_line ? src.option_name
                 : !from_env.empty() ? src.env
                 : s.config_path.empty() ? default_config_path() : s.config_path;
    if (key.empty() && replaying) key = "offline";
    if (key.empty()) {
        std::fprintf(stderr, "oxmeta: no %s key: set %s, pass %s or put it in %s (or use --offline)\n", src.service,
                     src.env, src.option_name, default_config_path().c_str());
        return false;
    }
    return src.set(key.c_str()) == OXMETA_OK;
}

// A closed standard stream is held by /dev/null, read-only: no file the tool
// opens can take its place, and writing to it still fails.
void hold_closed_streams() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int held = open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                dup2(held, fd);
                close(held);
            }
        }
}

// What stdout was given must all have been written.
int finish_output(int status) {
    if (!flush_output()) {
        std::fprintf(stderr, "oxmeta: writing output failed: %s\n", output_error());
        return kExitUsage;
    }
    return status;
}

void add_global_options(CLI::App &app, settings &s, std::string &format) {
    app.add_option("--format", format, "Output: table (the default on a terminal), tsv (the default otherwise) or json")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"table", "tsv", "json"}));
    app.add_flag("--json", s.json, "The same as --format json");
    const char *visible = "; on the command line it is visible to other users: prefer the environment or the config file";
    app.add_option("--tmdb-key", s.tmdb_key, std::string("TMDb v3 API key (default: $TMDB_API_KEY") + visible + ")")
        ->option_text("KEY");
    app.add_option("--omdb-key", s.omdb_key, std::string("OMDb API key (default: $OMDB_API_KEY") + visible + ")")
        ->option_text("KEY");
    app.add_option("--language", s.language, "TMDb language tag (default en-US)")->option_text("TAG")->check(non_empty());
    app.add_option("--language-fallback", s.language_fallback,
                   "Language whose text fills what TMDb lacks in --language (default none)")
        ->option_text("TAG")
        ->check(non_empty());
    app.add_option("--timeout", s.timeout_ms, "Timeout of each request in milliseconds (default 15000)")
        ->option_text("MS")
        ->check(whole_number(1, 600000));
    app.add_option("--retries", s.retries, "Retries after a 429 or 503 reply (default 2)")
        ->option_text("N")
        ->check(whole_number(0, 10));
    app.add_option("--deadline", s.deadline_s, "Seconds for all requests and retries together (default 60)")
        ->option_text("S")
        ->check(whole_number(1, 86400));
    app.add_option("--max-reply-size", s.max_reply_size, "Largest reply taken, decoded (default 32M)")
        ->option_text("SIZE")
        ->check(byte_size());
    auto *replay = app.add_option("--replay", s.replay_dir, "Answer every request from recordings in DIR")
                       ->option_text("DIR")
                       ->check(non_empty());
    auto *record = app.add_option("--record", s.record_dir, "Save every exchange into DIR (live requests)")
                       ->option_text("DIR")
                       ->check(non_empty());
    auto *offline = app.add_flag("--offline", s.offline, "Replay the recordings shipped with the tool");
    app.add_option("--base-url", s.base_url, "Send every request to this base address instead (testing)")
        ->option_text("URL")
        ->check(http_address());
    app.add_flag("--verbose,-v", s.verbose, "Tell each request (key masked), its status, size and time on stderr");
    app.add_option("--config", s.config_path, "Read settings from FILE (default: $XDG_CONFIG_HOME/oxmeta/config.toml, else ~/.config/oxmeta/config.toml)")
        ->option_text("FILE")
        ->check(non_empty());
    replay->excludes(record);
    offline->excludes(record)->excludes(replay);
}

}  // namespace

int main(int argc, char **argv) {
    hold_closed_streams();
    // A file grown past the size limit fails its write (EFBIG), as on a full
    // disk, instead of ending the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"oxmeta " OXMETA_TOOL_VERSION
                 " \xE2\x80\x94 film, TV and podcast metadata from TMDb, OMDb and the iTunes Search API"};
    app.footer("Options are taken anywhere on the line. Keys and defaults may also come from the config file.\n"
               "Exit status: 0 success, 1 the lookup failed, 2 the command line was wrong or output failed.\n"
               "Example: oxmeta --offline tmdb search \"blade runner\"");
    app.require_subcommand(1);
    app.fallthrough();  // subcommands inherit it: global options after a subcommand
    app.set_version_flag("--version", "oxmeta " OXMETA_TOOL_VERSION);

    settings s;
    std::string format;
    add_global_options(app, s, format);

    operation op;
    add_service_commands(app, op);
    add_parse_command(app, op);
    add_match_command(app, op);
    add_scan_commands(app, op, s);
    add_organize_command(app, op);
    static std::string shell;
    CLI::App *completion = app.add_subcommand("completion", "A completion script for bash, zsh or fish");
    completion->add_option("shell", shell, "bash, zsh or fish")->required()->check(CLI::IsMember({"bash", "zsh", "fish"}));
    completion->footer("Example: source <(oxmeta completion bash)");
    completion->callback([&] {
        op = {"completion", operation::service::local, nullptr, [&app](const output_choice &) {
                  std::fputs(completion_script(app, shell).c_str(), stdout);
                  return 0;
              }};
    });

    if (const std::string unknown = unknown_subcommand(app, argc, argv); !unknown.empty()) {
        std::fprintf(stderr, "oxmeta: %s\nRun 'oxmeta --help' for usage.\n", unknown.c_str());
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return finish_output(report_parse_error(app, e));
    }
    if (!op.run && !op.run_local && !op.run_printed) return kExitUsage;

    const given_on_command_line given{app.count("--format") > 0 || s.json, app.count("--language") > 0,
                                      app.count("--timeout") > 0,        app.count("--retries") > 0,
                                      app.count("--deadline") > 0,       app.count("--max-reply-size") > 0,
                                      app.count("--language-fallback") > 0};
    if (!apply_config(s, given)) return kExitUsage;
    if (!format.empty()) s.format = parse_format(format);
    if (s.json) s.format = output_format::json;
    const bool terminal = stdout_is_terminal();
    if (op.needs == operation::service::local) return finish_output(op.run_local({s.format, terminal}));
    const output_format chosen = s.format.value_or(terminal ? output_format::table : output_format::tsv);

    if (s.offline) s.replay_dir = shipped_recordings(argv[0]);
    const bool replaying = !s.replay_dir.empty();
    const bool key_given = app.count(op.needs == operation::service::omdb ? "--omdb-key" : "--tmdb-key") > 0;
    if (!set_key(op, s, replaying, key_given)) return kExitUsage;
    if (!s.language.empty()) oxmeta_set_language(s.language.c_str());
    if (!s.language_fallback.empty()) oxmeta_set_language_fallback(s.language_fallback.c_str());

    const long deadline_ms = op.whole_run_deadline || given.deadline ? s.deadline_s * 1000L : 0;
    const std::unique_ptr<transport_chain> chain = make_transport_chain(s, deadline_ms);
    if (!chain->io) {
        std::fprintf(stderr, "oxmeta: %s\n", chain->error.c_str());
        return chain->exit_status;
    }
    const oxmeta_io *io = chain->io;
    oxmeta_set_io(io);

    int status = 0;
    if (op.run_printed) {
        status = op.run_printed(
            {chosen, terminal, s, io, [&s, deadline_ms] { return make_transport_chain(s, deadline_ms); }});
    } else {
        report_extras extras;
        const int rc = op.run(extras);
        print_report(op.name, rc, chosen, terminal, extras);
        status = rc == OXMETA_OK ? 0 : kExitFailed;
    }
    oxmeta_set_io(nullptr);
    oxmeta_shutdown();
    if (chain->record && !chain->record->ok()) {
        std::fprintf(stderr, "oxmeta: %s\n", chain->record->error().c_str());
        status = kExitFailed;
    }
    return finish_output(status);
}
