#include "transport.h"

#include <curl/curl.h>
#include <json-c/json.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "device_root.h"

namespace {

constexpr const char* kCaBundle = "/usrdata/cacert.pem";
constexpr long kJsonTimeout = 90;
constexpr long kUploadTimeout = 60;
constexpr long kDownloadTimeout = 540;
constexpr size_t kBearerLineMax = 1023;
constexpr size_t kUploadHeaderMax = 4095;
constexpr size_t kDownloadHeaderMax = 1023;
// An empty "Expect:" keeps libcurl from waiting a round trip for "100 Continue"
// before each body, which costs most on a slow cellular link.
constexpr const char* kNoExpect = "Expect:";

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

// Only the MCU reader thread makes transfers.
CURL* g_handle = nullptr;
CURLcode g_lastResult = CURLE_OK;

// Appends one header line cut to `max` characters; false when out of memory.
bool append_line(HeaderList& list, const std::string& line, size_t max) {
    curl_slist* grown = curl_slist_append(list.get(), line.substr(0, max).c_str());
    if (grown == nullptr) return false;
    list.release();
    list.reset(grown);
    return true;
}

bool has_line_break(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

const char* header_field(json_object* entry, const char* key) {
    return json_member_string(entry, key);
}

// Every transfer starts from a clean handle with the options all four share.
void set_common_options(const char* url, long timeout) {
    curl_easy_reset(g_handle);
    curl_easy_setopt(g_handle, CURLOPT_URL, url);
    curl_easy_setopt(g_handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(g_handle, CURLOPT_CAINFO, device_path(kCaBundle).c_str());
    curl_easy_setopt(g_handle, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(g_handle, CURLOPT_TIMEOUT, timeout);
    // Several threads run in the daemon: a resolver time-out must not raise SIGALRM.
    curl_easy_setopt(g_handle, CURLOPT_NOSIGNAL, 1L);
    // URLs from the service must not reach local files or other schemes.
    curl_easy_setopt(g_handle, CURLOPT_PROTOCOLS_STR, "https");
}

// libcurl's code becomes our result here and nowhere else.
int perform() {
    g_lastResult = curl_easy_perform(g_handle);
    return g_lastResult == CURLE_OK ? kHttpCompleted : kHttpFailed;
}

size_t body_append_callback(char* bytes, size_t size, size_t count, void* buffer) {
    return http_body_append(bytes, size, count, static_cast<ResponseBuffer*>(buffer));
}

size_t file_write_callback(char* bytes, size_t size, size_t count, void* file) {
    return std::fwrite(bytes, size, count, static_cast<FILE*>(file)) * size;
}

// Header list of an upload or download; false when it cannot be built.
bool build_headers(json_object* headers, size_t lineMax, HeaderList& list) {
    if (headers == nullptr) return true;
    if (!http_headers_valid(headers)) return false;
    size_t count = json_object_array_length(headers);
    for (size_t i = 0; i < count; ++i) {
        json_object* entry = json_object_array_get_idx(headers, i);
        std::string line = std::string(header_field(entry, "name")) + ": " + header_field(entry, "value");
        if (!append_line(list, line, lineMax)) return false;
    }
    return true;
}

// Uploads and downloads start alike; kHttpCompleted when the handle is ready.
int begin_file_transfer(const char* url, const char* method, json_object* headers, bool sendsBody,
                        size_t lineMax, long timeout, HeaderList& list) {
    if (g_handle == nullptr) return kHttpNoHandle;
    if (!build_headers(headers, lineMax, list)) return kHttpNotPrepared;
    if (sendsBody && !append_line(list, kNoExpect, lineMax)) return kHttpNotPrepared;
    set_common_options(url, timeout);
    curl_easy_setopt(g_handle, CURLOPT_CUSTOMREQUEST, method);
    if (list) curl_easy_setopt(g_handle, CURLOPT_HTTPHEADER, list.get());
    return kHttpCompleted;
}

int transfer_json(JsonPtr* answer) {
    ResponseBuffer body;
    curl_easy_setopt(g_handle, CURLOPT_WRITEFUNCTION, body_append_callback);
    curl_easy_setopt(g_handle, CURLOPT_WRITEDATA, answer ? &body : nullptr);
    int result = perform();
    if (result == kHttpCompleted && answer) *answer = json_parse(body.data.c_str());
    return result;
}

}  // namespace

int http_init() {
    curl_global_init(CURL_GLOBAL_ALL);
    if (g_handle == nullptr) g_handle = curl_easy_init();
    return g_handle ? 1 : 0;
}

void http_cleanup() {
    if (g_handle) curl_easy_cleanup(g_handle);
    g_handle = nullptr;
    curl_global_cleanup();
}

int http_get_json(const char* url, JsonPtr* answer) {
    if (g_handle == nullptr) return kHttpNoHandle;
    set_common_options(url, kJsonTimeout);
    return transfer_json(answer);
}

int http_put_json(const char* url, JsonPtr* answer, json_object* document, const char* token) {
    if (g_handle == nullptr) return kHttpNoHandle;
    set_common_options(url, kJsonTimeout);
    HeaderList headers;
    if (!append_line(headers, std::string("Authorization: Bearer ") + token, kBearerLineMax) ||
        !append_line(headers, "Content-Type: application/json", kBearerLineMax) ||
        !append_line(headers, kNoExpect, kBearerLineMax))
        return kHttpNotPrepared;
    curl_easy_setopt(g_handle, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(g_handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(g_handle, CURLOPT_POSTFIELDS, json_object_to_json_string(document));
    return transfer_json(answer);
}

int http_upload_file(const char* url, const char* method, FILE* file, int64_t length,
                     json_object* headers) {
    HeaderList list;
    int ready = begin_file_transfer(url, method, headers, true, kUploadHeaderMax, kUploadTimeout, list);
    if (ready != kHttpCompleted) return ready;
    curl_easy_setopt(g_handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(g_handle, CURLOPT_READDATA, file);
    curl_easy_setopt(g_handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(length));
    // The storage's answer is not used; libcurl would otherwise print it on our stdout.
    curl_easy_setopt(g_handle, CURLOPT_WRITEFUNCTION, body_append_callback);
    curl_easy_setopt(g_handle, CURLOPT_WRITEDATA, nullptr);
    return perform();
}

int http_download_file(const char* url, const char* method, FILE* file, json_object* headers) {
    HeaderList list;
    int ready = begin_file_transfer(url, method, headers, false, kDownloadHeaderMax, kDownloadTimeout, list);
    if (ready != kHttpCompleted) return ready;
    curl_easy_setopt(g_handle, CURLOPT_WRITEFUNCTION, file_write_callback);
    curl_easy_setopt(g_handle, CURLOPT_WRITEDATA, file);
    return perform();
}

const char* http_last_error_text() { return curl_easy_strerror(g_lastResult); }

long http_last_status() {
    long status = 0;
    if (g_handle) curl_easy_getinfo(g_handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

bool http_last_accepted() {
    long status = http_last_status();
    return g_lastResult == CURLE_OK && status >= 200 && status <= 299;
}

const char* http_last_failure_text() {
    static char text[32];
    if (g_lastResult != CURLE_OK) return http_last_error_text();
    std::snprintf(text, sizeof text, "HTTP status %ld", http_last_status());
    return text;
}

bool http_headers_valid(json_object* headers) {
    if (headers == nullptr) return true;
    if (!json_object_is_type(headers, json_type_array)) return false;
    size_t count = json_object_array_length(headers);
    for (size_t i = 0; i < count; ++i) {
        json_object* entry = json_object_array_get_idx(headers, i);
        const char* name = header_field(entry, "name");
        const char* value = header_field(entry, "value");
        if (name == nullptr || value == nullptr || has_line_break(name) || has_line_break(value))
            return false;
    }
    return true;
}

size_t http_body_append(const char* bytes, size_t size, size_t count, ResponseBuffer* buffer) {
    if (count != 0 && size > SIZE_MAX / count) return 0;
    size_t n = size * count;
    if (buffer == nullptr) return n;
    if (n > kHttpAnswerLimit - buffer->data.size()) return 0;
    try {
        buffer->data.append(bytes, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return n;
}
