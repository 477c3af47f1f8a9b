// Recorded exchanges: each request's URL without credentials, its status
// and its body, one readable JSON file per request in a directory. A
// recorder writes them behind the live transport; a replayer answers from
// them with no network and no key.
#pragma once

#include <map>
#include <string>

#include "oxmeta.h"

class recorder {
public:
    // Writes every exchange that inner completes into dir.
    // Writes every exchange that inner completes into dir, which
    // prepare() makes sure is a directory before any request.
    recorder(const oxmeta_io *inner, std::string dir);
    const oxmeta_io *io() const { return &table_; }

    // Creates the directory; false with error() set when it cannot be one.
    bool prepare();
    // False once an exchange could not be written; error() says why.
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    static int get(void *ctx, const char *url, char **body, int *http_status, char **err);
    void write(const std::string &url, int status, const char *body);
    const oxmeta_io *inner_;
    std::string dir_;
    std::string error_;
    oxmeta_io table_{};
};

class replayer {
public:
    // Reads every *.json recording in dir; error() tells what went wrong.
    explicit replayer(const std::string &dir);
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    const oxmeta_io *io() const { return &table_; }
    // The recorded reply to url, as bytes; false when there is none.
    bool find(const std::string &url, int &status, std::string &body) const;

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
