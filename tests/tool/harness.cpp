#include "harness.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// What the child runs, all of it made before the fork: the test process
// has server threads, and a forked child may only call what is safe after
// a fork (open, dup2, chdir, execve) until it runs the program.
struct child_plan {
    std::string file;                 // the program's path
    std::vector<std::string> words;   // its arguments, the first its name
    std::vector<std::string> env;     // NAME=value
    std::vector<char *> argv;
    std::vector<char *> envp;
};

// The environment the test asked for, on top of a clean one.
std::vector<std::string> child_env(const run_options &options, const fs::path &config_home) {
    std::map<std::string, std::optional<std::string>> changes = {
        {"TMDB_API_KEY", std::nullopt},
        {"OMDB_API_KEY", std::nullopt},
        {"COLUMNS", std::nullopt},
        {"XDG_CONFIG_HOME", config_home.string()},
        // organize's journals stay in the run's own folder unless a test shares one.
        {"XDG_STATE_HOME", (config_home / "state").string()},
        {"no_proxy", "127.0.0.1,localhost"},
        {"NO_PROXY", "127.0.0.1,localhost"},
    };
    if (!options.shell.empty()) {
        const char *path = std::getenv("PATH");
        changes["PATH"] = fs::path(OXMETA_TOOL_PATH).parent_path().string() + ":" + (path ? path : "");
    }
    for (const auto &[name, value] : options.env) changes[name] = value;
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.count(text.substr(0, text.find('=')))) env.push_back(text);
    }
    for (const auto &[name, value] : changes)
        if (value) env.push_back(name + "=" + *value);
    return env;
}

// A program name looked up on the PATH of the child's environment.
std::string on_path(const std::string &name, const std::vector<std::string> &env) {
    if (name.find('/') != std::string::npos) return name;
    std::string path = "/usr/local/bin:/usr/bin:/bin";
    for (const std::string &entry : env)
        if (entry.rfind("PATH=", 0) == 0) path = entry.substr(5);
    for (size_t start = 0; start <= path.size();) {
        const size_t colon = std::min(path.find(':', start), path.size());
        const std::string dir = path.substr(start, colon - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return name;
}

void plan_child(child_plan &plan, const std::vector<std::string> &args, const run_options &options,
                const fs::path &dir) {
    plan.env = child_env(options, dir / "config");
    if (options.measure_memory) plan.words = {OXMETA_PEAK_MEMORY_PATH, (dir / "peak").string()};
    plan.file = options.measure_memory ? OXMETA_PEAK_MEMORY_PATH : OXMETA_TOOL_PATH;
    if (!options.shell.empty()) {
        plan.words = {"bash", "-c", options.shell};
        plan.file = on_path("bash", plan.env);
    } else {
        plan.words.push_back(options.program.empty() ? OXMETA_TOOL_PATH : options.program);
        plan.words.insert(plan.words.end(), args.begin(), args.end());
        // peak_memory looks the program up itself.
        if (!options.program.empty() && !options.measure_memory) plan.file = on_path(options.program, plan.env);
    }
    for (std::string &w : plan.words) plan.argv.push_back(w.data());
    plan.argv.push_back(nullptr);
    for (std::string &e : plan.env) plan.envp.push_back(e.data());
    plan.envp.push_back(nullptr);
}

// Longer than any run of the tool in these tests takes, shorter than the
// test's own limit: a child that hangs fails its test with its stacks.
constexpr std::chrono::seconds kChildLimit{45};

bool wait_for_child(pid_t pid, int &wstatus) {
    const auto until = std::chrono::steady_clock::now() + kChildLimit;
    for (auto pause = std::chrono::microseconds(200); std::chrono::steady_clock::now() < until;
         pause = std::min(pause * 2, std::chrono::microseconds(20000))) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(pause);
    }
    return false;
}

// The stacks of a process and of its children, as gdb tells them (or
// where each thread waits, without gdb).
std::string threads_of(pid_t pid) {
    std::string text;
    std::vector<pid_t> pids = {pid};
    for (size_t i = 0; i < pids.size(); ++i) {
        const fs::path tasks = "/proc/" + std::to_string(pids[i]) + "/task";
        std::error_code ec;
        for (const auto &task : fs::directory_iterator(tasks, ec)) {
            std::istringstream children(slurp(task.path() / "children"));
            for (pid_t child; children >> child;) pids.push_back(child);
        }
    }
    for (const pid_t p : pids) {
        const std::string proc = "/proc/" + std::to_string(p);
        std::string command = slurp(proc + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        text += "== " + std::to_string(p) + ": " + command + "\n";
        std::error_code ec;
        for (const auto &task : fs::directory_iterator(proc + "/task", ec))
            text += "  thread " + task.path().filename().string() + " waits in " + slurp(task.path() / "wchan") + "\n";
        if (FILE *gdb = popen(("gdb -batch -p " + std::to_string(p) + " -ex 'thread apply all bt' 2>&1").c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, gdb)) > 0;) text.append(buffer, n);
            pclose(gdb);
        }
    }
    return text;
}

outcome run_child(const std::vector<std::string> &args, const run_options &options) {
    const fs::path dir = scratch_dir("run");
    const fs::path out = dir / "out";
    const fs::path err = dir / "err";
    fs::create_directories(dir / "config");
    const fs::path in = dir / "in";
    if (options.input) write_file(in, *options.input);
    child_plan plan;
    plan_child(plan, args, options, dir);
    const std::string stdin_path = options.input ? in.string() : "/dev/null";
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
        const int stdin_fd = open(stdin_path.c_str(), O_RDONLY);
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
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        // Ctrl-C reaches the tool as it reaches a user's, also when these
        // tests run as a background job of a script (which ignores it).
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        execve(plan.file.c_str(), plan.argv.data(), plan.envp.data());
        _exit(127);
    }
    outcome o;
    if (master >= 0) {
        // The terminal's output, read until the child closes it.
        char buffer[4096];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) o.out.append(buffer, static_cast<size_t>(n));
        close(master);
    }
    int wstatus = 0;
    if (!wait_for_child(pid, wstatus)) {
        const std::string where = threads_of(pid);
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        ADD_FAILURE() << "the child ran past " << kChildLimit.count() << " s and was killed; where it was:\n" << where;
    }
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
