// Runs the oxmeta tool as a user runs it: a child process with its own
// arguments, environment and standard output (a file, /dev/full, closed, or
// a terminal of a given width), and a scriptable HTTP server on 127.0.0.1.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <yyjson.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tool_test {

namespace fs = std::filesystem;

struct outcome {
    int status = -1;
    std::string out;
    std::string err;
    long peak_kib = 0;  // the tool's peak resident memory, with run_options::measure_memory
};

enum class stdout_to { file, dev_full, closed, terminal };

struct run_options {
    // Variables set in the child (a value of nullopt unsets one). TMDB_API_KEY
    // and OMDB_API_KEY are unset and XDG_CONFIG_HOME (and XDG_STATE_HOME below it) point to an empty
    // directory unless set here.
    std::map<std::string, std::optional<std::string>> env;
    stdout_to out = stdout_to::file;
    unsigned short columns = 80;  // of the terminal
    bool err_on_terminal = false; // with stdout_to::terminal: stderr there too (in out)
    std::string program;          // run by this name looked up on PATH (else the built tool)
    std::string shell;            // run this bash command line instead, with the tool first on PATH
    std::string cwd;
    std::optional<std::string> input;  // stdin's content (else /dev/null)
    bool measure_memory = false;       // run the tool under peak_memory: outcome::peak_kib
};

outcome run_tool(const std::vector<std::string> &args, const run_options &options = {});
outcome run_shell(const std::string &command, const run_options &options = {});

std::string slurp(const fs::path &path);
void write_file(const fs::path &path, const std::string &text);
fs::path scratch_dir(const std::string &name);
bool contains(const std::string &text, const std::string &part);
std::vector<std::string> lines_of(const std::string &text);

// A parsed JSON document, freed with it.
struct json_doc {
    explicit json_doc(const std::string &text) : doc(yyjson_read(text.data(), text.size(), 0)) {}
    ~json_doc() { yyjson_doc_free(doc); }
    json_doc(const json_doc &) = delete;
    json_doc &operator=(const json_doc &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    yyjson_val *get(const char *key) const { return yyjson_obj_get(root(), key); }
    yyjson_doc *doc;
};

// A recording file as the tool writes them, for a replay directory.
void write_recording(const fs::path &dir, const std::string &name, const std::string &url, int status,
                     const std::string &json_body);

// A TMDb search reply with one movie per title.
std::string search_reply(const std::vector<std::string> &titles);

// A server on 127.0.0.1 that answers every GET with the test's handler and
// records each request. It starts with the first request a test makes, after
// the test has set its handler; what it records is read under a lock.
class LoopbackTest : public ::testing::Test {
protected:
    using handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    void TearDown() override { stop(); }
    void start();
    void stop();
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // `oxmeta --base-url BASE --tmdb-key SECRET-KEY [extra] tmdb search "blade runner"`
    outcome search(std::vector<std::string> extra = {}, const run_options &options = {});
    // `oxmeta --base-url BASE [args]`
    outcome run(std::vector<std::string> args, const run_options &options = {});
    struct seen {
        std::string path;
        std::multimap<std::string, std::string> params;
        std::string user_agent;
        std::string param(const std::string &name) const {
            const auto found = params.find(name);
            return found == params.end() ? "" : found->second;
        }
    };
    void set_handler(handler h) {
        std::lock_guard<std::mutex> lock(mutex_);
        handler_ = std::move(h);
    }
    int calls();
    seen request(size_t i);  // the i-th request received

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<seen> requests_;
    handler handler_;
};

extern const char kSearchReply[];

}  // namespace tool_test
