#include "recording.h"

#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "credentials.h"
#include "malloc_copy.h"

namespace fs = std::filesystem;

namespace {

// A stable file name for a URL: its host, then a hash of the whole URL.
std::string file_name_for(const std::string &url) {
    uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    for (unsigned char c : url) hash = (hash ^ c) * 1099511628211ULL;
    const size_t start = url.find("://");
    std::string host = url.substr(start == std::string::npos ? 0 : start + 3);
    host = host.substr(0, host.find('/'));
    char name[128];
    std::snprintf(name, sizeof name, "%s-%016llx.json", host.c_str(), static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

// ------------------------------------------------------------------ recorder

recorder::recorder(const oxmeta_io *inner, std::string dir) : inner_(inner), dir_(std::move(dir)) {
    table_ = {this, &recorder::get, nullptr, inner->free};
}

bool recorder::prepare() {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (!fs::is_directory(dir_)) {
        error_ = "cannot record into " + dir_ + ": " + (ec ? ec.message() : "not a directory");
        return false;
    }
    return true;
}

int recorder::get(void *ctx, const char *url, char **body, int *http_status, char **err) {
    auto *self = static_cast<recorder *>(ctx);
    const int rc = self->inner_->get(self->inner_->ctx, url, body, http_status, err);
    if (rc == 0) self->write(url, *http_status, *body ? *body : "");
    return rc;
}

void recorder::write(const std::string &url, int status, const char *body) {
    const std::string clean = strip_credentials(url);
    // A reply that echoes the request would carry the key into the file.
    const std::string text = scrub_credentials(body, url);

    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "url", clean.c_str());
    yyjson_mut_obj_add_int(doc, root, "status", status);
    // A JSON reply is kept as JSON, so that the file reads and diffs well;
    // any other reply as its text.
    yyjson_doc *reply = yyjson_read(text.data(), text.size(), 0);
    if (reply)
        yyjson_mut_obj_add_val(doc, root, "body", yyjson_val_mut_copy(doc, yyjson_doc_get_root(reply)));
    else
        yyjson_mut_obj_add_strncpy(doc, root, "body_text", text.data(), text.size());
    const std::string path = (fs::path(dir_) / file_name_for(clean)).string();
    yyjson_write_err write_error{};
    if (!yyjson_mut_write_file(path.c_str(), doc, YYJSON_WRITE_PRETTY_TWO_SPACES, nullptr, &write_error) &&
        error_.empty())
        error_ = "cannot write the recording " + path + ": " + (write_error.msg ? write_error.msg : "write failed");
    yyjson_doc_free(reply);
    yyjson_mut_doc_free(doc);
}

// ------------------------------------------------------------------ replayer

replayer::replayer(const std::string &dir) {
    table_ = {this, &replayer::get, nullptr, nullptr};
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error_ = "no recordings directory " + dir;
        return;
    }
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".json") continue;
        yyjson_read_err read_error{};
        yyjson_doc *doc = yyjson_read_file(entry.path().string().c_str(), 0, nullptr, &read_error);
        yyjson_val *root = yyjson_doc_get_root(doc);
        const char *url = yyjson_get_str(yyjson_obj_get(root, "url"));
        yyjson_val *status = yyjson_obj_get(root, "status");
        if (!url || !yyjson_is_int(status)) {
            error_ = "not a recording: " + entry.path().string();
            yyjson_doc_free(doc);
            return;
        }
        exchange e{static_cast<int>(yyjson_get_int(status)), ""};
        if (yyjson_val *body = yyjson_obj_get(root, "body")) {
            char *text = yyjson_val_write(body, 0, nullptr);
            e.body = text ? text : "";
            std::free(text);
        } else if (yyjson_val *text = yyjson_obj_get(root, "body_text"); yyjson_is_str(text)) {
            e.body.assign(yyjson_get_str(text), yyjson_get_len(text));  // NULs and all
        }
        exchanges_[url] = std::move(e);
        yyjson_doc_free(doc);
    }
}

bool replayer::find(const std::string &url, int &status, std::string &body) const {
    const auto found = exchanges_.find(strip_credentials(url));
    if (found == exchanges_.end()) return false;
    status = found->second.status;
    body = found->second.body;
    return true;
}

int replayer::get(void *ctx, const char *url, char **body, int *http_status, char **err) {
    auto *self = static_cast<replayer *>(ctx);
    const std::string clean = strip_credentials(url);
    const auto found = self->exchanges_.find(clean);
    if (found == self->exchanges_.end()) {
        *err = malloc_copy("no recording for " + clean);
        return -1;
    }
    *http_status = found->second.status;
    *body = malloc_copy(found->second.body);
    return 0;
}
