// The oxmeta tool run as a user runs it: its live transport against a small
// HTTP server on 127.0.0.1, and its replay of recorded exchanges.
#include <gtest/gtest.h>
#include <httplib.h>
#include <yyjson.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path scratch_dir(const std::string &name) {
    const fs::path dir = fs::temp_directory_path() / ("oxmeta-tool-test-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs the tool with args, no key in its environment, loopback never
// through a proxy; its output goes through files so that neither pipe can
// fill up.
outcome run_tool(const std::vector<std::string> &args) {
    static int counter = 0;
    const fs::path dir = scratch_dir("run" + std::to_string(counter++));
    const fs::path out = dir / "out";
    const fs::path err = dir / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        freopen(out.c_str(), "w", stdout);
        freopen(err.c_str(), "w", stderr);
        unsetenv("TMDB_API_KEY");
        unsetenv("OMDB_API_KEY");
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(OXMETA_TOOL_PATH));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(OXMETA_TOOL_PATH, argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    outcome o;
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    o.out = slurp(out);
    o.err = slurp(err);
    fs::remove_all(dir);
    return o;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

const char kSearchReply[] =
    R"({"page":1,"total_pages":1,"total_results":1,"results":[{"id":78,"media_type":"movie",)"
    R"("title":"Blade Runner","release_date":"1982-06-25","vote_average":7.9,"poster_path":"/b.jpg"}]})";

// A server on 127.0.0.1 whose TMDb search route the test scripts. It starts
// with the first request a test makes, after the test has set its handler;
// what it records is read under a lock (the thread sanitizer cannot see the
// order that the socket and the tool's process give).
class LoopbackTest : public ::testing::Test {
protected:
    void TearDown() override { stop(); }
    void start() {
        if (thread_.joinable()) return;
        server_.Get("/3/search/multi", [this](const httplib::Request &req, httplib::Response &res) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++calls_;
                last_query_key_ = req.get_param_value("api_key");
                user_agent_ = req.get_header_value("User-Agent");
            }
            handler_(req, res);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void stop() {
        if (!thread_.joinable()) return;
        server_.stop();
        thread_.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    outcome search(std::vector<std::string> extra = {}) {
        start();
        std::vector<std::string> args = {"--base-url", base(), "--tmdb-key", "SECRET-KEY"};
        args.insert(args.end(), extra.begin(), extra.end());
        for (const char *a : {"tmdb", "search", "blade runner"}) args.emplace_back(a);
        return run_tool(args);
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    int calls_ = 0;
    std::string last_query_key_;
    std::string user_agent_;
    std::function<void(const httplib::Request &, httplib::Response &)> handler_ =
        [](const httplib::Request &, httplib::Response &res) { res.set_content(kSearchReply, "application/json"); };
};

TEST_F(LoopbackTest, LiveSearchPrintsTheTable) {
    const outcome o = search();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.out, "Blade Runner")) << o.out;
    EXPECT_TRUE(contains(o.out, "https://image.tmdb.org/t/p/w500/b.jpg")) << o.out;
    EXPECT_TRUE(contains(o.out, "page 1 of 1, 1 results")) << o.out;
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(calls_, 1);
    EXPECT_EQ(last_query_key_, "SECRET-KEY");
    EXPECT_EQ(user_agent_.rfind("oxmeta/", 0), 0u) << user_agent_;
}

TEST_F(LoopbackTest, RetryAfterIsHonoured) {
    handler_ = [this](const httplib::Request &, httplib::Response &res) {
        if (calls() == 1) {
            res.status = 429;
            res.set_header("Retry-After", "1");
            res.set_content("{}", "application/json");
            return;
        }
        res.set_content(kSearchReply, "application/json");
    };
    const auto start = std::chrono::steady_clock::now();
    const outcome o = search();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(calls(), 2);
    EXPECT_TRUE(contains(o.err, "HTTP 429, retrying in 1 s (retry 1 of 2)")) << o.err;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST_F(LoopbackTest, RetriesAreBounded) {
    handler_ = [](const httplib::Request &, httplib::Response &res) {
        res.status = 429;
        res.set_header("Retry-After", "0");
        res.set_content("{}", "application/json");
    };
    const outcome o = search({"--retries", "1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(calls(), 2);
    EXPECT_TRUE(contains(o.err, "TMDb 429 \xE2\x80\x94 rate limited, back off (OXMETA_E_RATE_LIMIT)")) << o.err;
}

TEST_F(LoopbackTest, SlowReplyTimesOut) {
    handler_ = [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        res.set_content(kSearchReply, "application/json");
    };
    const outcome o = search({"--timeout", "200"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "(OXMETA_E_TRANSPORT)")) << o.err;
    EXPECT_TRUE(contains(o.err, "timed out")) << o.err;
}

TEST_F(LoopbackTest, ReplyThatIsNotJson) {
    handler_ = [](const httplib::Request &, httplib::Response &res) { res.set_content("<html>busy</html>", "text/html"); };
    const outcome o = search({"--json"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "oxmeta: TMDb response is not valid JSON (OXMETA_E_JSON)")) << o.err;
    // The JSON document still tells the outcome.
    yyjson_doc *doc = yyjson_read(o.out.data(), o.out.size(), 0);
    ASSERT_NE(doc, nullptr) << o.out;
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(doc), "status")), "OXMETA_E_JSON");
    yyjson_doc_free(doc);
}

TEST_F(LoopbackTest, RecordThenReplayGivesTheSameOutput) {
    const fs::path dir = scratch_dir("record");
    const outcome live = search({"--record", dir.string()});
    ASSERT_EQ(live.status, 0) << live.err;
    stop();  // the replay must not need the server
    const outcome replayed =
        run_tool({"--replay", dir.string(), "tmdb", "search", "blade runner"});
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, live.out);
    // The recording keeps no credential, and reads as JSON.
    int files = 0;
    for (const auto &entry : fs::directory_iterator(dir)) {
        ++files;
        const std::string text = slurp(entry.path());
        EXPECT_FALSE(contains(text, "SECRET-KEY")) << text;
        EXPECT_FALSE(contains(text, "api_key")) << text;
        EXPECT_TRUE(contains(text, R"("url": "https://api.themoviedb.org/3/search/multi?query=blade%20runner)"))
            << text;
    }
    EXPECT_EQ(files, 1);
    fs::remove_all(dir);
}

TEST(ToolTest, ClosedPortIsATransportFailure) {
    // A port that was free a moment ago: bound, never listened on, closed.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    close(probe);
    const outcome o = run_tool({"--base-url", "http://127.0.0.1:" + std::to_string(port), "--tmdb-key", "k",
                                "--timeout", "5000", "tmdb", "airing-today"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "oxmeta: transport: ")) << o.err;
    EXPECT_TRUE(contains(o.err, "(OXMETA_E_TRANSPORT)")) << o.err;
}

TEST(ToolTest, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"tmdb"},
        {"tmdb", "search"},
        {"tmdb", "search", "x", "--page", "0"},
        {"itunes", "search", "x", "--limit", "201"},
        {"omdb", "season", "tt1", "zero"},
        {"films"},
        {"--offline", "--replay", "/tmp", "tmdb", "search", "x"},
    };
    for (const auto &args : cases) {
        const outcome o = run_tool(args);
        EXPECT_EQ(o.status, 2) << testing::PrintToString(args) << o.err;
        EXPECT_TRUE(o.out.empty() || contains(o.out, "Usage")) << o.out;
    }
    const outcome help = run_tool({"tmdb", "find", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "Example: oxmeta")) << help.out;
}

TEST(ToolTest, MissingKeyNamesBothWays) {
    const outcome tmdb = run_tool({"tmdb", "search", "x"});
    EXPECT_EQ(tmdb.status, 2);
    EXPECT_TRUE(contains(tmdb.err, "set TMDB_API_KEY or pass --tmdb-key")) << tmdb.err;
    const outcome omdb = run_tool({"omdb", "id", "tt1"});
    EXPECT_EQ(omdb.status, 2);
    EXPECT_TRUE(contains(omdb.err, "set OMDB_API_KEY or pass --omdb-key")) << omdb.err;
}

// Every subcommand against the shipped recordings, as a table and as JSON.
struct ReplayCase {
    std::vector<std::string> args;
    std::string in_table;
    int results;
};

// Runs each case with the replay options, as a table and as JSON.
void expect_replays(const std::vector<std::string> &replay, std::span<const ReplayCase> cases) {
    for (const auto &c : cases) {
        std::vector<std::string> args = replay;
        args.insert(args.end(), c.args.begin(), c.args.end());
        const outcome table = run_tool(args);
        EXPECT_EQ(table.status, 0) << testing::PrintToString(args) << table.err;
        EXPECT_TRUE(contains(table.out, c.in_table)) << table.out;

        args.insert(args.begin(), "--json");
        const outcome json = run_tool(args);
        EXPECT_EQ(json.status, 0) << json.err;
        yyjson_doc *doc = yyjson_read(json.out.data(), json.out.size(), 0);
        ASSERT_NE(doc, nullptr) << json.out;
        yyjson_val *root = yyjson_doc_get_root(doc);
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(root, "status")), "OXMETA_OK");
        EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(root, "results")), static_cast<size_t>(c.results)) << json.out;
        yyjson_doc_free(doc);
    }
}

TEST(ToolTest, OfflineReplayOfEverySubcommand) {
    const ReplayCase cases[] = {
        {{"tmdb", "search", "blade runner"}, "Blade Runner 2049", 6},
        {{"tmdb", "discover-movie"}, "page 1 of 500, 10000 results", 4},
        {{"tmdb", "tv", "82856"}, "last episode aired: season 3, episode 8", 1},
        {{"tmdb", "find", "tt0083658"}, "tt0083658", 1},
        {{"tmdb", "image", "/abc.jpg", "--size", "w185"}, "https://image.tmdb.org/t/p/w185/abc.jpg", 0},
        {{"omdb", "id", "tt0083658"}, "Blade Runner", 1},
        {{"omdb", "field", "tt0083658", "Director"}, "Ridley Scott", 1},
        {{"omdb", "runtime", "tt0083658"}, "117", 1},
        {{"omdb", "votes", "tt0083658"}, "846334", 1},
        {{"itunes", "search", "science"}, "https://feeds.simplecast.com/54nAGcIl", 5},
    };
    expect_replays({"--offline"}, cases);
}

// The subcommands the shipped recordings leave out, replayed from the
// test's own recordings.
TEST(ToolTest, ReplayOfTheOtherSubcommands) {
    const std::string dir = OXMETA_TEST_RECORDINGS;
    const ReplayCase cases[] = {
        {{"tmdb", "discover-tv", "--year", "2020"}, "page 1 of 40, 789 results", 2},
        {{"tmdb", "airing-today"}, "Game of Thrones", 1},
        {{"tmdb", "on-the-air", "--page", "2"}, "page 2 of 9, 170 results", 1},
        {{"tmdb", "external-ids", "78"}, "tt0083658", 1},
        {{"omdb", "title", "Alien"}, "Alien", 1},
        {{"omdb", "season", "tt0944947", "1"}, "Game of Thrones", 1},
        {{"itunes", "lookup", "1200361736"}, "https://feeds.simplecast.com/54nAGcIl", 1},
    };
    expect_replays({"--replay", dir}, cases);
    // The TV discovery's flag comes with its warning, on stderr for people
    // and in the document for scripts.
    const outcome flagged = run_tool({"--replay", dir, "--json", "tmdb", "discover-tv", "--include-adult"});
    EXPECT_EQ(flagged.status, 1);
    EXPECT_TRUE(contains(flagged.out, "include_adult=true set explicitly")) << flagged.out;
}

TEST(ToolTest, OfflineMissIsAFailedLookup) {
    const outcome o = run_tool({"--offline", "tmdb", "tv", "1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "no recording for https://api.themoviedb.org/3/tv/1?language=en-US")) << o.err;
}

}  // namespace
