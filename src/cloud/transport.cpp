#include "cloud/transport.h"

#include <curl/curl.h>
#include <json-c/json.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "core/device_root.h"
#include "cloud/sync_bounds.h"
#include "mcu/uart.h"

namespace {

constexpr const char* kCaBundle = "/usrdata/cacert.pem";
constexpr long kJsonTimeout = 90;
constexpr long kUploadTimeout = 60;
constexpr long kDownloadTimeout = 540;
// A token of 2,048 characters and its prefix.
constexpr size_t kBearerLineMax = 2100;
constexpr size_t kUploadHeaderMax = 4095;
constexpr size_t kDownloadHeaderMax = 1023;
// Deeper than any answer of the service.
constexpr int kAnswerDepth = 16;
// An empty "Expect:" keeps libcurl from waiting a round trip for "100 Continue"
// before each body, which costs most on a slow cellular link.
constexpr const char* kNoExpect = "Expect:";
// Headers that say how the request is framed or carried: libcurl would send
// them as given, beside what it sends itself.
constexpr const char* kFramingHeaders[] = {"Content-Length", "Transfer-Encoding", "Host",
                                           "Connection",     "Expect",            "TE",
                                           "Trailer",        "Upgrade",           "Keep-Alive"};
constexpr const char* kProxyHeaders = "Proxy-";

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

// Only the MCU reader thread makes transfers.
CURL* g_handle = nullptr;
CURLcode g_lastResult = CURLE_OK;
long g_lastStatus = 0;
bool g_answerTooLarge = false;

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

bool token_character(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool name_refused(const char* name) {
    if (name[0] == '\0' || !std::all_of(name, name + std::strlen(name), token_character)) return true;
    if (strncasecmp(name, kProxyHeaders, std::strlen(kProxyHeaders)) == 0) return true;
    return std::any_of(std::begin(kFramingHeaders), std::end(kFramingHeaders),
                       [name](const char* framing) { return strcasecmp(name, framing) == 0; });
}

int keep_alive_callback(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    mcu_keep_alive();
    return 0;
}

// Every transfer starts from a clean handle with the options all four share,
// its time-out cut to what is left of the sync; false when nothing is left.
bool set_common_options(const char* url, long timeoutSeconds) {
    g_lastStatus = 0;
    g_answerTooLarge = false;
    const uint64_t leftMs = sync_time_left_us() / 1000;
    if (leftMs == 0) {
        g_lastResult = CURLE_OPERATION_TIMEDOUT;
        return false;
    }
    curl_easy_reset(g_handle);
    curl_easy_setopt(g_handle, CURLOPT_URL, url);
    curl_easy_setopt(g_handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(g_handle, CURLOPT_CAINFO, device_path(kCaBundle).c_str());
    curl_easy_setopt(g_handle, CURLOPT_VERBOSE, 0L);
    const uint64_t timeoutMs = std::min<uint64_t>(static_cast<uint64_t>(timeoutSeconds) * 1000, leftMs);
    curl_easy_setopt(g_handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(g_handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(g_handle, CURLOPT_XFERINFOFUNCTION, keep_alive_callback);
    // Several threads run in the daemon: a resolver time-out must not raise SIGALRM.
    curl_easy_setopt(g_handle, CURLOPT_NOSIGNAL, 1L);
    // URLs from the service must not reach local files or other schemes.
    curl_easy_setopt(g_handle, CURLOPT_PROTOCOLS_STR, "https");
    return true;
}

// The sync hears of every answer: 2xx is progress, Retry-After may end it.
void tell_the_sync() {
    curl_off_t retryAfter = -1;
    curl_easy_getinfo(g_handle, CURLINFO_RETRY_AFTER, &retryAfter);
    curl_header* header = nullptr;
    const bool named = curl_easy_header(g_handle, "Retry-After", 0, CURLH_HEADER, -1, &header) == CURLHE_OK;
    sync_note_answer(g_lastStatus, static_cast<int64_t>(retryAfter), named ? header->value : "");
}

// libcurl's code becomes our result here and nowhere else.
int perform() {
    g_lastResult = curl_easy_perform(g_handle);
    curl_easy_getinfo(g_handle, CURLINFO_RESPONSE_CODE, &g_lastStatus);
    if (g_lastResult != CURLE_OK) return kHttpFailed;
    tell_the_sync();
    return kHttpCompleted;
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
    if (!set_common_options(url, timeout)) return kHttpFailed;
    curl_easy_setopt(g_handle, CURLOPT_CUSTOMREQUEST, method);
    if (list) curl_easy_setopt(g_handle, CURLOPT_HTTPHEADER, list.get());
    return kHttpCompleted;
}

// An answer over its limit fails the transfer as a write error would, and says so.
int refuse_answer() {
    g_answerTooLarge = true;
    g_lastResult = CURLE_WRITE_ERROR;
    return kHttpFailed;
}

int transfer_json(JsonPtr* answer, size_t limit) {
    ResponseBuffer body;
    body.limit = limit;
    curl_easy_setopt(g_handle, CURLOPT_WRITEFUNCTION, body_append_callback);
    curl_easy_setopt(g_handle, CURLOPT_WRITEDATA, answer ? &body : nullptr);
    int result = perform();
    if (body.overLimit) return refuse_answer();
    if (result == kHttpCompleted && answer && !json_parse_bounded(body.data, kHttpAnswerValues, kAnswerDepth, *answer)) {
        if (http_last_accepted()) sync_answer_unusable();
        return refuse_answer();
    }
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
    if (!set_common_options(url, kJsonTimeout)) return kHttpFailed;
    return transfer_json(answer, kHttpAnswerLimit);
}

int http_put_json(const char* url, JsonPtr* answer, json_object* document, const char* token,
                  size_t answerLimit) {
    if (g_handle == nullptr) return kHttpNoHandle;
    HeaderList headers;
    if (!append_line(headers, std::string("Authorization: Bearer ") + token, kBearerLineMax) ||
        !append_line(headers, "Content-Type: application/json", kBearerLineMax) ||
        !append_line(headers, kNoExpect, kBearerLineMax))
        return kHttpNotPrepared;
    if (!set_common_options(url, kJsonTimeout)) return kHttpFailed;
    curl_easy_setopt(g_handle, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(g_handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(g_handle, CURLOPT_POSTFIELDS, json_object_to_json_string(document));
    return transfer_json(answer, answerLimit);
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

long http_last_status() { return g_lastStatus; }

bool http_last_accepted() { return g_lastResult == CURLE_OK && g_lastStatus >= 200 && g_lastStatus <= 299; }

bool http_last_answer_too_large() { return g_answerTooLarge; }

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
    return http_header_refused(headers) == nullptr;
}

const char* http_header_refused(json_object* headers) {
    size_t count = json_object_is_type(headers, json_type_array) ? json_object_array_length(headers) : 0;
    for (size_t i = 0; i < count; ++i) {
        const char* name = json_member_raw_string(json_object_array_get_idx(headers, i), "name");
        if (name != nullptr && name_refused(name)) return name;
    }
    return nullptr;
}

size_t http_body_append(const char* bytes, size_t size, size_t count, ResponseBuffer* buffer) {
    if (count != 0 && size > SIZE_MAX / count) return 0;
    size_t n = size * count;
    if (buffer == nullptr) return n;
    if (n > buffer->limit - buffer->data.size()) {
        buffer->overLimit = true;
        return 0;
    }
    try {
        buffer->data.append(bytes, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return n;
}
