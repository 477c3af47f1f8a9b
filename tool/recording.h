// Recorded exchanges: each request's URL without credentials, its status
// and its body, one readable JSON file per request in a directory. A
// recorder writes them behind the live transport; a replayer answers from
// them with no network and no key.
#pragma once

#include <map>
#include <string>

#include "oxmeta.h"

// url with every api_key and apikey query parameter removed.
std::string strip_credentials(const std::string &url);

class recorder {
public:
    // Writes every exchange that inner completes into dir.
    recorder(const oxmeta_io *inner, std::string dir);
    const oxmeta_io *io() const { return &table_; }

private:
    static int get(void *ctx, const char *url, char **body, int *http_status, char **err);
    const oxmeta_io *inner_;
    std::string dir_;
    oxmeta_io table_{};
};

class replayer {
public:
    // Reads every *.json recording in dir; error() tells what went wrong.
    explicit replayer(const std::string &dir);
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    const oxmeta_io *io() const { return &table_; }

private:
    struct exchange {
        int status;
        std::string body;
    };
    static int get(void *ctx, const char *url, char **body, int *http_status, char **err);
    std::map<std::string, exchange> exchanges_;
    std::string error_;
    oxmeta_io table_{};
};
