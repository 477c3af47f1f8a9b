#include "http_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>


namespace {

constexpr long kMaxRedirects = 5;
constexpr long kMaxConnectMs = 10000;
constexpr long kMaxRetryWaitSeconds = 30;

size_t append(char *data, size_t size, size_t count, void *out) {
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

char *malloc_copy(const std::string &text) {
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
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
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options_.timeout_ms);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(options_.timeout_ms, kMaxConnectMs));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Proxies come from http_proxy, https_proxy and no_proxy, as libcurl reads them.
}

curl_transport::~curl_transport() {
    if (handle_) curl_easy_cleanup(static_cast<CURL *>(handle_));
    curl_global_cleanup();
}

int curl_transport::perform(const std::string &url, std::string &body, long &status, std::string &error) {
    auto *curl = static_cast<CURL *>(handle_);
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (rc != CURLE_OK) {
        error = *message ? message : curl_easy_strerror(rc);
        return -1;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return 0;
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
        curl_off_t wait = 0;
        curl_easy_getinfo(static_cast<CURL *>(self->handle_), CURLINFO_RETRY_AFTER, &wait);
        if (wait <= 0) wait = 1;
        wait = std::min<curl_off_t>(wait, kMaxRetryWaitSeconds);
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
