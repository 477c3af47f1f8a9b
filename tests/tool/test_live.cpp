// The tool's live transport against a server on 127.0.0.1: what it sends,
// how it retries, its limits, and what it records.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>

#include "harness.h"

namespace tool_test {
namespace {

using std::chrono::milliseconds;
using clock_type = std::chrono::steady_clock;

TEST_F(LoopbackTest, LiveSearchPrintsRowsAndSendsTheKey) {
    const outcome o = search();
    EXPECT_EQ(o.status, 0) << o.err;
    // Piped: tab-separated rows, every column, no header; the footer on stderr.
    EXPECT_EQ(o.out, "0\tmovie\t78\t\t1982\t7.9\tBlade Runner\t\thttps://image.tmdb.org/t/p/w500/b.jpg\t\n");
    EXPECT_TRUE(contains(o.err, "page 1 of 1, 1 results")) << o.err;
    ASSERT_EQ(calls(), 1);
    EXPECT_EQ(request(0).path, "/3/search/multi");
    EXPECT_EQ(request(0).param("api_key"), "SECRET-KEY");
    EXPECT_EQ(request(0).param("language"), "en-US");
    EXPECT_EQ(request(0).user_agent.rfind("oxmeta/", 0), 0u) << request(0).user_agent;
}

TEST_F(LoopbackTest, JsonCarriesTheNumbersAsGiven) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.set_content(R"({"page":2,"total_pages":9,"total_results":170,"results":[{"id":78,"media_type":"movie",)"
                        R"("title":"Blade Runner","vote_average":7.9}]})",
                        "application/json");
    });
    const outcome o = search({"--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    json_doc doc(o.out);
    ASSERT_NE(doc.doc, nullptr) << o.out;
    EXPECT_EQ(yyjson_get_int(doc.get("page")), 2);
    EXPECT_EQ(yyjson_get_int(doc.get("total_pages")), 9);
    EXPECT_EQ(yyjson_get_int(doc.get("total_results")), 170);
    yyjson_val *item = yyjson_arr_get(doc.get("results"), 0);
    EXPECT_DOUBLE_EQ(yyjson_get_num(yyjson_obj_get(item, "rating")), 7.9);
    EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(item, "year")));
    EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(item, "imdb_id")));
}

TEST_F(LoopbackTest, LanguageAndKeysTakeTheirPlaceInOrder) {
    // The command line over the environment, the environment over the file.
    const fs::path config = scratch_dir("config");
    write_file(config / "oxmeta" / "config.toml", "tmdb_key = \"FILE-KEY\"\nlanguage = \"fr-FR\"\n");
    fs::permissions(config / "oxmeta" / "config.toml", fs::perms::owner_read | fs::perms::owner_write);
    struct step {
        std::vector<std::string> args;
        std::map<std::string, std::optional<std::string>> env;
        const char *key;
        const char *language;
    };
    const step steps[] = {
        {{}, {}, "FILE-KEY", "fr-FR"},
        {{"--language", "de-DE"}, {{"TMDB_API_KEY", "ENV-KEY"}}, "ENV-KEY", "de-DE"},
        {{"--tmdb-key", "CLI-KEY"}, {{"TMDB_API_KEY", "ENV-KEY"}}, "CLI-KEY", "fr-FR"},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        run_options options;
        options.env = steps[i].env;
        options.env["XDG_CONFIG_HOME"] = config.string();
        std::vector<std::string> args = steps[i].args;
        for (const char *a : {"tmdb", "search", "x"}) args.emplace_back(a);
        const outcome o = run(args, options);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(request(i).param("api_key"), steps[i].key) << i;
        EXPECT_EQ(request(i).param("language"), steps[i].language) << i;
        EXPECT_FALSE(contains(o.err, "warning")) << o.err;
    }
    fs::remove_all(config);
}

// A fallback language from the file or the command line: details ask for
// their translations, and a season with a blank episode is asked again in
// it.
TEST_F(LoopbackTest, AFallbackLanguageFromTheFileOrTheCommandLine) {
    const fs::path config = scratch_dir("config-fallback");
    write_file(config / "oxmeta" / "config.toml", "language = \"fr-FR\"\nlanguage_fallback = \"en-US\"\n");
    set_handler([](const httplib::Request &req, httplib::Response &res) {
        const bool french = req.get_param_value("language") == "fr-FR";
        res.set_content(req.path == "/3/tv/1396/season/1"
                            ? std::string(R"({"_id":"x","season_number":1,"episodes":[{"id":62085,"episode_number":1,)") +
                                  "\"season_number\":1,\"name\":" + (french ? "\"\"" : "\"Pilot\"") + ",\"overview\":\"x\"}]}"
                            : std::string(R"({"id":78,"title":"Blade Runner","overview":"x"})"),
                        "application/json");
    });
    struct step {
        std::vector<std::string> args;
        const char *fallback;  // the language the season is asked again in
    };
    const step steps[] = {{{}, "en-US"}, {{"--language-fallback", "de-DE"}, "de-DE"}};
    size_t seen = 0;
    for (const step &st : steps) {
        run_options options;
        options.env["XDG_CONFIG_HOME"] = config.string();
        std::vector<std::string> movie = st.args;
        for (const char *a : {"--tmdb-key", "k", "tmdb", "movie", "78"}) movie.emplace_back(a);
        EXPECT_EQ(run(movie, options).status, 0);
        EXPECT_EQ(request(seen++).param("append_to_response"), "external_ids,translations");
        std::vector<std::string> season = st.args;
        for (const char *a : {"--tmdb-key", "k", "tmdb", "season", "1396", "1"}) season.emplace_back(a);
        const outcome o = run(season, options);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(request(seen++).param("language"), "fr-FR");
        EXPECT_EQ(request(seen++).param("language"), st.fallback);
    }
    EXPECT_EQ(calls(), 6);
    fs::remove_all(config);
}

TEST_F(LoopbackTest, BaseUrlWithATrailingSlash) {
    start();
    const outcome o = run_tool({"--base-url", base() + "/", "--tmdb-key", "k", "tmdb", "search", "x"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(request(0).path, "/3/search/multi");
}

TEST_F(LoopbackTest, RetriesWaitAsTheServerSays) {
    // A 429 with Retry-After, a 429 without (one second), a 503: each retried.
    struct reply {
        int status;
        const char *retry_after;
    };
    const reply replies[] = {{429, "1"}, {429, nullptr}, {503, nullptr}};
    for (const reply &r : replies) {
        const int before = calls();
        set_handler([this, r, before](const httplib::Request &, httplib::Response &res) {
            if (calls() == before + 1) {
                res.status = r.status;
                if (r.retry_after) res.set_header("Retry-After", r.retry_after);
                res.set_content("{}", "application/json");
                return;
            }
            res.set_content(kSearchReply, "application/json");
        });
        const auto start_time = clock_type::now();
        const outcome o = search();
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(calls(), before + 2) << r.status;
        EXPECT_TRUE(contains(o.err, "HTTP " + std::to_string(r.status) + ", retrying in 1 s (retry 1 of 2)")) << o.err;
        EXPECT_GE(clock_type::now() - start_time, milliseconds(900)) << r.status;
    }
}

TEST_F(LoopbackTest, RetriesAreBounded) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.status = 429;
        res.set_header("Retry-After", "0");
        res.set_content("{}", "application/json");
    });
    const outcome o = search({"--retries", "1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(calls(), 2);
    EXPECT_TRUE(contains(o.err, "TMDb 429 \xE2\x80\x94 rate limited, back off (OXMETA_E_RATE_LIMIT)")) << o.err;
}

TEST_F(LoopbackTest, TheDeadlineBoundsRetriesAndRequests) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.status = 503;
        res.set_header("Retry-After", "20");
        res.set_content("{}", "application/json");
    });
    const auto start_time = clock_type::now();
    const outcome waits = search({"--deadline", "5"});
    EXPECT_EQ(waits.status, 1);
    EXPECT_EQ(calls(), 1);
    EXPECT_TRUE(contains(waits.err, "not retrying: the deadline of 5 s comes first")) << waits.err;
    EXPECT_LT(clock_type::now() - start_time, milliseconds(4000));

    set_handler([](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(milliseconds(2500));
        res.set_content(kSearchReply, "application/json");
    });
    const outcome slow = search({"--deadline", "1", "--timeout", "10000"});
    EXPECT_EQ(slow.status, 1);
    EXPECT_TRUE(contains(slow.err, "deadline of 1 s reached (--deadline)")) << slow.err;
}

TEST_F(LoopbackTest, SlowReplyTimesOut) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(milliseconds(1500));
        res.set_content(kSearchReply, "application/json");
    });
    const outcome o = search({"--timeout", "200"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "(OXMETA_E_TRANSPORT)")) << o.err;
    EXPECT_TRUE(contains(o.err, "timed out")) << o.err;
}

// gzip of count spaces.
std::string gzip_of_spaces(size_t count) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string chunk(1 << 20, ' ');
    std::string out;
    char buffer[1 << 16];
    for (size_t left = count; left > 0 || z.avail_in > 0;) {
        const size_t n = std::min(left, chunk.size());
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.data()));
        z.avail_in = static_cast<uInt>(n);
        left -= n;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
        if (flush == Z_FINISH) break;
    }
    deflateEnd(&z);
    return out;
}

TEST_F(LoopbackTest, RepliesLargerThanTheLimitFailFast) {
    // 256 MiB of spaces in a few hundred KB of gzip: refused at the default
    // limit of 32 MiB counted on the decoded bytes.
    static const std::string bomb = gzip_of_spaces(size_t{256} << 20);
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(bomb, "application/json");
    });
    const outcome o = search();
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "reply larger than 32 MiB (--max-reply-size)")) << o.err;

    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::string(3 << 20, ' ') + kSearchReply, "application/json");
    });
    const outcome limited = search({"--max-reply-size", "2M"});
    EXPECT_EQ(limited.status, 1);
    EXPECT_TRUE(contains(limited.err, "reply larger than 2 MiB (--max-reply-size)")) << limited.err;
    EXPECT_EQ(search({"--max-reply-size", "4M"}).status, 0);
}

TEST_F(LoopbackTest, ReplyThatIsNotJson) {
    set_handler([](const httplib::Request &, httplib::Response &res) { res.set_content("<html>busy</html>", "text/html"); });
    const outcome o = search({"--json"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "oxmeta: TMDb response is not valid JSON (OXMETA_E_JSON)")) << o.err;
    json_doc doc(o.out);
    ASSERT_NE(doc.doc, nullptr) << o.out;
    EXPECT_STREQ(yyjson_get_str(doc.get("status")), "OXMETA_E_JSON");
}

TEST_F(LoopbackTest, VerboseTellsEachRequestWithTheKeyMasked) {
    const outcome o = search({"--verbose"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: GET https://api.themoviedb.org/3/search/multi?"))
        << o.err;
    EXPECT_TRUE(contains(o.err, "api_key=***")) << o.err;
    EXPECT_FALSE(contains(o.err, "SECRET-KEY")) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: HTTP 200, " + std::to_string(std::strlen(kSearchReply)) + " bytes, ")) << o.err;
}

TEST_F(LoopbackTest, WarningsGoToStderr) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.set_content(R"({"page":1,"total_pages":1,"total_results":1,"results":[{"id":1,"name":"A Show"}]})",
                        "application/json");
    });
    const outcome o = run({"--tmdb-key", "k", "tmdb", "discover-tv", "--include-adult"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.err, "oxmeta: warning: ")) << o.err;
    EXPECT_FALSE(contains(o.out, "warning")) << o.out;
    EXPECT_TRUE(contains(o.out, "A Show")) << o.out;
}

// ------------------------------------------------------------ recordings

TEST_F(LoopbackTest, RecordThenReplayGivesTheSameOutput) {
    const fs::path dir = scratch_dir("record");
    const outcome live = search({"--record", dir.string()});
    ASSERT_EQ(live.status, 0) << live.err;
    stop();  // the replay must not need the server
    const outcome replayed = run_tool({"--replay", dir.string(), "tmdb", "search", "blade runner"});
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, live.out);
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

TEST_F(LoopbackTest, RecordingsKeepNoKeyEvenWhereTheReplyEchoesIt) {
    // An OMDb reply that repeats the request, key and all.
    set_handler([](const httplib::Request &req, httplib::Response &res) {
        res.set_content(R"({"Title":"Blade Runner","Response":"True","Echo":"apikey=)" + req.get_param_value("apikey") +
                            R"("})",
                        "application/json");
    });
    const fs::path dir = scratch_dir("record-omdb");
    const outcome live = run({"--omdb-key", "OMDB-SECRET", "--record", dir.string(), "omdb", "id", "tt0083658"});
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(request(0).param("apikey"), "OMDB-SECRET");
    int files = 0;
    for (const auto &entry : fs::directory_iterator(dir)) {
        ++files;
        const std::string text = slurp(entry.path());
        EXPECT_FALSE(contains(text, "OMDB-SECRET")) << text;
        EXPECT_TRUE(contains(text, "apikey=REDACTED")) << text;
        EXPECT_TRUE(contains(text, R"("url": "https://www.omdbapi.com/?i=tt0083658")")) << text;
    }
    EXPECT_EQ(files, 1);
    fs::remove_all(dir);
}

TEST_F(LoopbackTest, ARecordedReplyThatIsNotJsonReplaysAsItCame) {
    set_handler([](const httplib::Request &, httplib::Response &res) {
        res.status = 502;
        res.set_content("<html>bad gateway</html>", "text/html");
    });
    const fs::path dir = scratch_dir("record-text");
    const outcome live = search({"--record", dir.string(), "--json"});
    stop();
    const outcome replayed = run_tool({"--replay", dir.string(), "--json", "tmdb", "search", "blade runner"});
    EXPECT_EQ(live.status, 1);
    EXPECT_EQ(replayed.status, live.status);
    EXPECT_EQ(replayed.out, live.out);
    EXPECT_EQ(replayed.err, live.err);
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_TRUE(contains(slurp(entry.path()), R"("body_text": "<html>bad gateway</html>")"));
    fs::remove_all(dir);
}

TEST_F(LoopbackTest, ARecordingThatCannotBeWrittenFails) {
    const fs::path dir = scratch_dir("record-file");
    write_file(dir / "plain", "not a directory");
    const outcome o = search({"--record", (dir / "plain").string()});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.err, "oxmeta: --record: cannot record into ")) << o.err;
    EXPECT_EQ(calls(), 0);
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

}  // namespace
}  // namespace tool_test
