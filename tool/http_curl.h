// The tool's live transport: an oxmeta_io table whose get performs the GET
// with libcurl.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "oxmeta.h"

// The longest wait a Retry-After is taken for.
constexpr long kMaxRetryWaitSeconds = 30;

struct curl_options {
    long timeout_ms = 15000;               // each request; connecting gets at most 10 s of it
    int retries = 2;                       // after a 429 or 503
    long deadline_ms = 60000;              // every request and retry wait of the run together; 0: none
    uint64_t max_reply = uint64_t{32} << 20;  // decoded bytes of one reply
    std::string base_url;                  // when set, replaces the scheme and host of every URL
};

// Owns one libcurl handle, so that one connection serves every request.
class curl_transport {
public:
    explicit curl_transport(const curl_options &options);
    ~curl_transport();
    curl_transport(const curl_transport &) = delete;
    curl_transport &operator=(const curl_transport &) = delete;

    // False when libcurl could not be set up; error() says why.
    bool ok() const { return handle_ != nullptr; }
    const oxmeta_io *io() const { return &table_; }
    // Retries after a 429 or 503 from now on (0: the caller retries).
    void set_retries(int retries) { options_.retries = retries; }
    // The seconds the last reply's Retry-After asked for; 0 when it gave none.
    long retry_after() const { return retry_after_; }
    // One GET of url as bytes (NULs and all), at most the reply limit: 0
    // with the status and the body, -1 with error set.
    int fetch(const std::string &url, std::string &bytes, long &status, std::string &error);

private:
    static int get(void *ctx, const char *url, char **body, int *http_status, char **err);
    int perform(const std::string &url, std::string &body, long &status, std::string &error);
    long remaining_ms() const;

    curl_options options_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    void *handle_ = nullptr;
    long retry_after_ = 0;
    oxmeta_io table_{};
};

// url with its scheme and host replaced by base (no change when base is "").
std::string rebase_url(const std::string &url, const std::string &base);
