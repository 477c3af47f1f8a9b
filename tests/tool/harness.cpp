#include "harness.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tool_test {

const char kSearchReply[] =
    R"({"page":1,"total_pages":1,"total_results":1,"results":[{"id":78,"media_type":"movie",)"
    R"("title":"Blade Runner","release_date":"1982-06-25","vote_average":7.9,"poster_path":"/b.jpg"}]})";

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

fs::path scratch_dir(const std::string &name) {
    static std::atomic<int> counter{0};
    const fs::path dir = fs::temp_directory_path() / ("oxmeta-tool-test-" + std::to_string(getpid()) + "-" +
                                                      std::to_string(counter++) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void write_recording(const fs::path &dir, const std::string &name, const std::string &url, int status,
                     const std::string &json_body) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "url", url.c_str());
    yyjson_mut_obj_add_int(doc, root, "status", status);
    yyjson_doc *body = yyjson_read(json_body.data(), json_body.size(), 0);
    EXPECT_NE(body, nullptr) << json_body;
    yyjson_mut_obj_add_val(doc, root, "body", yyjson_val_mut_copy(doc, yyjson_doc_get_root(body)));
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_PRETTY_TWO_SPACES, nullptr);
    write_file(dir / (name + ".json"), text);
    std::free(text);
    yyjson_doc_free(body);
    yyjson_mut_doc_free(doc);
}

std::string search_reply(const std::vector<std::string> &titles) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "page", 1);
    yyjson_mut_obj_add_int(doc, root, "total_pages", 1);
    yyjson_mut_obj_add_int(doc, root, "total_results", static_cast<int64_t>(titles.size()));
    yyjson_mut_val *results = yyjson_mut_obj_add_arr(doc, root, "results");
    int id = 100;
    for (const std::string &title : titles) {
        yyjson_mut_val *item = yyjson_mut_arr_add_obj(doc, results);
        yyjson_mut_obj_add_int(doc, item, "id", id++);
        yyjson_mut_obj_add_str(doc, item, "media_type", "movie");
        yyjson_mut_obj_add_strcpy(doc, item, "title", title.c_str());
        yyjson_mut_obj_add_str(doc, item, "release_date", "2001-07-20");
        yyjson_mut_obj_add_real(doc, item, "vote_average", 8.5);
        yyjson_mut_obj_add_str(doc, item, "poster_path", "/p.jpg");
    }
    char *text = yyjson_mut_write(doc, 0, nullptr);
    std::string out = text;
    std::free(text);
    yyjson_mut_doc_free(doc);
    return out;
}

namespace {

// In the child: the environment the test asked for, on top of a clean one.
void set_child_env(const run_options &options, const fs::path &config_home) {
    unsetenv("TMDB_API_KEY");
    unsetenv("OMDB_API_KEY");
    unsetenv("COLUMNS");
    setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
    // organize's journals stay in the run's own folder unless a test shares one.
    setenv("XDG_STATE_HOME", (config_home / "state").c_str(), 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    const std::string tool_dir = fs::path(OXMETA_TOOL_PATH).parent_path().string();
    const char *path = std::getenv("PATH");
    if (!options.shell.empty()) setenv("PATH", (tool_dir + ":" + (path ? path : "")).c_str(), 1);
    for (const auto &[name, value] : options.env) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

[[noreturn]] void exec_child(const std::vector<std::string> &args, const run_options &options,
                            const fs::path &peak_file) {
    std::vector<std::string> words;
    if (options.measure_memory) words = {OXMETA_PEAK_MEMORY_PATH, peak_file.string()};
    const char *file = options.measure_memory ? OXMETA_PEAK_MEMORY_PATH : OXMETA_TOOL_PATH;
    if (!options.shell.empty()) {
        words = {"bash", "-c", options.shell};
        file = "bash";
    } else {
        words.push_back(options.program.empty() ? OXMETA_TOOL_PATH : options.program);
        words.insert(words.end(), args.begin(), args.end());
        if (!options.program.empty() && !options.measure_memory) file = options.program.c_str();
    }
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execvp(file, argv.data());
    _exit(127);
}

outcome run_child(const std::vector<std::string> &args, const run_options &options) {
    const fs::path dir = scratch_dir("run");
    const fs::path out = dir / "out";
    const fs::path err = dir / "err";
    fs::create_directories(dir / "config");
    const fs::path in = dir / "in";
    if (options.input) write_file(in, *options.input);
    int master = -1;
    pid_t pid;
    if (options.out == stdout_to::terminal) {
        winsize size{};
        size.ws_col = options.columns;
        size.ws_row = 24;
        pid = forkpty(&master, nullptr, nullptr, &size);
    } else {
        pid = fork();
    }
    if (pid == 0) {
        // stdin from /dev/null; stdout as asked; stderr to a file.
        const int stdin_fd = open(options.input ? in.c_str() : "/dev/null", O_RDONLY);
        dup2(stdin_fd, 0);
        if (!(options.err_on_terminal && options.out == stdout_to::terminal)) {
            const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err_fd, 2);
        }
        if (options.out == stdout_to::file) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        } else if (options.out == stdout_to::dev_full) {
            dup2(open("/dev/full", O_WRONLY), 1);
        } else if (options.out == stdout_to::closed) {
            close(1);
        }
        set_child_env(options, dir / "config");
        exec_child(args, options, dir / "peak");
    }
    outcome o;
    if (master >= 0) {
        // The terminal's output, read until the child closes it.
        char buffer[4096];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) o.out.append(buffer, static_cast<size_t>(n));
        close(master);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (options.measure_memory) o.peak_kib = std::atol(slurp(dir / "peak").c_str());
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (options.out == stdout_to::file) o.out = slurp(out);
    o.err = slurp(err);
    fs::remove_all(dir);
    return o;
}

}  // namespace

outcome run_tool(const std::vector<std::string> &args, const run_options &options) { return run_child(args, options); }

outcome run_shell(const std::string &command, const run_options &options) {
    run_options with = options;
    with.shell = command;
    return run_child({}, with);
}

// ------------------------------------------------------------------ server

void LoopbackTest::start() {
    if (thread_.joinable()) return;
    server_.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        handler current;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({req.path, {req.params.begin(), req.params.end()}, req.get_header_value("User-Agent")});
            current = handler_;
        }
        if (current)
            current(req, res);
        else
            res.set_content(kSearchReply, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackTest::stop() {
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
}

outcome LoopbackTest::run(std::vector<std::string> args, const run_options &options) {
    start();
    args.insert(args.begin(), {"--base-url", base()});
    return run_tool(args, options);
}

outcome LoopbackTest::search(std::vector<std::string> extra, const run_options &options) {
    std::vector<std::string> args = {"--tmdb-key", "SECRET-KEY"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const char *a : {"tmdb", "search", "blade runner"}) args.emplace_back(a);
    return run(args, options);
}

int LoopbackTest::calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(requests_.size());
}

LoopbackTest::seen LoopbackTest::request(size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return i < requests_.size() ? requests_[i] : seen{};
}

}  // namespace tool_test
