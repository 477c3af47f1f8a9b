#include "http_curl.h"

#include "malloc_copy.h"
#include "sizes.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>


namespace {

constexpr long kMaxRedirects = 5;
constexpr long kMaxConnectMs = 10000;

// Where a reply's decoded bytes go, up to a limit.
struct sink {
    std::string *body;
    uint64_t limit;
    bool too_large;
};

size_t append(char *data, size_t size, size_t count, void *out) {
    auto *to = static_cast<sink *>(out);
    const size_t n = size * count;
    if (to->body->size() + n > to->limit) {
        to->too_large = true;
        return 0;  // libcurl stops the transfer
    }
    to->body->append(data, n);
    return n;
}


}  // namespace

std::string rebase_url(const std::string &url, const std::string &base) {
    if (base.empty()) return url;
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const size_t path = url.find('/', scheme + 3);
    std::string rebased = base;
    while (!rebased.empty() && rebased.back() == '/') rebased.pop_back();
    return rebased + (path == std::string::npos ? "/" : url.substr(path));
}

curl_transport::curl_transport(const curl_options &options) : options_(options) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL *curl = curl_easy_init();
    handle_ = curl;
    table_ = {this, &curl_transport::get, nullptr, nullptr};
    if (!curl) return;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can decode
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "oxmeta/" OXMETA_TOOL_VERSION);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Proxies come from http_proxy, https_proxy and no_proxy, as libcurl reads them.
}

curl_transport::~curl_transport() {
    if (handle_) curl_easy_cleanup(static_cast<CURL *>(handle_));
    curl_global_cleanup();
}

long curl_transport::remaining_ms() const {
    if (options_.deadline_ms <= 0) return LONG_MAX / 2;  // no deadline
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    return options_.deadline_ms - static_cast<long>(spent.count());
}

int curl_transport::perform(const std::string &url, std::string &body, long &status, std::string &error) {
    auto *curl = static_cast<CURL *>(handle_);
    retry_after_ = 0;
    const long remaining = remaining_ms();
    const std::string deadline = "deadline of " + std::to_string(options_.deadline_ms / 1000) + " s reached (--deadline)";
    if (remaining <= 0) {
        error = deadline;
        return -1;
    }
    const long timeout = std::min(options_.timeout_ms, remaining);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeout, kMaxConnectMs));
    char message[CURL_ERROR_SIZE] = "";
    sink to{&body, options_.max_reply, false};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &to);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (to.too_large) {
        error = "reply larger than " + byte_size_text(options_.max_reply) + " (--max-reply-size)";
        return -1;
    }
    if (rc == CURLE_OPERATION_TIMEDOUT && timeout < options_.timeout_ms) {
        error = deadline;
        return -1;
    }
    if (rc != CURLE_OK) {
        error = *message ? message : curl_easy_strerror(rc);
        return -1;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t wait = 0;
    curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &wait);
    retry_after_ = static_cast<long>(std::max<curl_off_t>(wait, 0));
    return 0;
}

int curl_transport::fetch(const std::string &url, std::string &bytes, long &status, std::string &error) {
    bytes.clear();
    status = 0;
    if (!handle_) {
        error = "libcurl could not be initialised";
        return -1;
    }
    return perform(rebase_url(url, options_.base_url), bytes, status, error);
}

int curl_transport::get(void *ctx, const char *url, char **body, int *http_status, char **err) {
    auto *self = static_cast<curl_transport *>(ctx);
    if (!self->handle_) {
        *err = malloc_copy("libcurl could not be initialised");
        return -1;
    }
    const std::string target = rebase_url(url, self->options_.base_url);
    std::string reply;
    std::string error;
    long status = 0;
    for (int attempt = 0;; ++attempt) {
        reply.clear();
        if (self->perform(target, reply, status, error) != 0) {
            *err = malloc_copy(error);
            return -1;
        }
        if ((status != 429 && status != 503) || attempt >= self->options_.retries) break;
        const long wait = std::min(self->retry_after_ > 0 ? self->retry_after_ : 1, kMaxRetryWaitSeconds);
        if (wait * 1000 >= self->remaining_ms()) {
            std::fprintf(stderr, "oxmeta: HTTP %ld, not retrying: the deadline of %ld s comes first\n", status,
                         self->options_.deadline_ms / 1000);
            break;
        }
        std::fprintf(stderr, "oxmeta: HTTP %ld, retrying in %lld s (retry %d of %d)\n", status,
                     static_cast<long long>(wait), attempt + 1, self->options_.retries);
        std::this_thread::sleep_for(std::chrono::seconds(wait));
    }
    *http_status = static_cast<int>(status);
    *body = malloc_copy(reply);
    if (!*body) {
        *err = malloc_copy("out of memory");
        return -1;
    }
    return 0;
}
