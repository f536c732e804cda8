#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "json_util.h"

struct json_object;

// HTTPS transfers on one shared libcurl handle, which keeps its connection
// between transfers of one sync. Every transfer verifies the server against
// /usrdata/cacert.pem.
//
// Results: 1 the transfer completed (whatever its HTTP status), 0 libcurl
// reported an error (see http_last_error_text), -1 no shared handle, -2 the
// request could not be prepared (out of memory, or header lines refused).
enum HttpResult : int {
    kHttpCompleted = 1,
    kHttpFailed = 0,
    kHttpNoHandle = -1,
    kHttpNotPrepared = -2,
};

// Largest JSON answer kept; a longer one aborts its transfer as failed.
constexpr size_t kHttpAnswerLimit = 1024 * 1024;

// 1 when the shared handle exists, else 0.
int http_init();
void http_cleanup();

// On completion *answer holds the parsed body (null when it is not JSON).
int http_get_json(const char* url, JsonPtr* answer);
// answer may be null: the body is then dropped.
int http_put_json(const char* url, JsonPtr* answer, json_object* document, const char* token);
// headers: a JSON array of {"name", "value"} objects, or null.
int http_upload_file(const char* url, const char* method, FILE* file, int64_t length,
                     json_object* headers);
int http_download_file(const char* url, const char* method, FILE* file, json_object* headers);

const char* http_last_error_text();
// The last transfer's HTTP status, 0 when none was received.
long http_last_status();
// The last transfer completed with a 2xx status.
bool http_last_accepted();
// Why the last transfer does not count: libcurl's text, or "HTTP status 403".
const char* http_last_failure_text();

// Header entries are sent only when each is an object with a string "name"
// and "value" and neither holds CR or LF (a peer must not add header lines).
bool http_headers_valid(json_object* headers);

// An answer body growing in memory, bounded by kHttpAnswerLimit.
struct ResponseBuffer {
    std::string data;
};
// libcurl write callback: appends to buffer (or drops the bytes when it is
// null); 0 aborts the transfer (out of memory or over the limit).
size_t http_body_append(const char* bytes, size_t size, size_t count, ResponseBuffer* buffer);
