#include "client/lessons/player/fetch_bytes.h"

#include <curl/curl.h>

namespace mirvo::player {
namespace {

struct transfer {
    std::string* body;
    std::size_t max_bytes;
    bool too_big = false;
    const std::atomic<bool>* cancel;
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<transfer*>(user);
    const size_t n = size * count;
    if (t->body->size() + n > t->max_bytes) {
        t->too_big = true;
        return 0;  // aborts the transfer
    }
    t->body->append(data, n);
    return n;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* t = static_cast<transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

}  // namespace

fetched fetch_bytes(const std::string& url, const std::shared_ptr<std::atomic<bool>>& cancel, std::size_t max_bytes) {
    fetched out;
    CURL* curl = curl_easy_init();
    if (!curl) {
        out.error = "curl_easy_init failed";
        return out;
    }
    transfer t{&out.body, max_bytes, false, cancel.get()};
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // we run off the main thread
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    // A server that stops sending is given up after 20 s without progress.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 20L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);

    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
    if (char* type = nullptr; curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        out.content_type = type;
    curl_easy_cleanup(curl);

    if (rc != CURLE_OK) {
        out.error = t.too_big ? "body larger than the limit" : (error[0] ? error : curl_easy_strerror(rc));
        out.body.clear();
    } else if (out.status != 200) {
        out.error = "HTTP status " + std::to_string(out.status);
        out.body.clear();
    } else {
        out.ok = true;
    }
    return out;
}

}  // namespace mirvo::player
