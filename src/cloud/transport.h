#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/json_util.h"

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

// Largest JSON answer kept unless a caller allows more; a longer one, or one
// of more than kHttpAnswerValues values, makes its transfer fail ("too large").
constexpr size_t kHttpAnswerLimit = 64 * 1024;
constexpr size_t kHttpAnswerValues = 8192;

// 1 when the shared handle exists, else 0.
int http_init();
void http_cleanup();

// Every transfer's time-out is cut to what is left of the sync (an exhausted
// sync fails it at once, as timed out), the MCU hears keep-alive bytes while
// it runs, and the sync is told of its answer.

// On completion *answer holds the parsed body (null when it is not JSON).
int http_get_json(const char* url, JsonPtr* answer);
// answer may be null: the body is then dropped.
int http_put_json(const char* url, JsonPtr* answer, json_object* document, const char* token,
                  size_t answerLimit = kHttpAnswerLimit);
// headers: a JSON array of {"name", "value"} objects, or null.
int http_upload_file(const char* url, const char* method, FILE* file, int64_t length,
                     json_object* headers);
int http_download_file(const char* url, const char* method, FILE* file, json_object* headers);

const char* http_last_error_text();
// The last transfer's HTTP status, 0 when none was received.
long http_last_status();
// The last transfer completed with a 2xx status.
bool http_last_accepted();
// The last transfer's answer was over its limit (and was not kept).
bool http_last_answer_too_large();
// Why the last transfer does not count: libcurl's text, or "HTTP status 403".
const char* http_last_failure_text();

// Header entries are sent only when each is an object with a string "name"
// and "value", neither holds CR or LF (a peer must not add header lines) and
// no name is refused (below).
bool http_headers_valid(json_object* headers);
// The first header name that may not be sent, or null: a name that is not an
// HTTP token, or one the framing owns (Content-Length, Transfer-Encoding,
// Host, Connection, Expect, TE, Trailer, Upgrade, Keep-Alive, Proxy-*): the
// storage would keep what such a header says instead of what was sent.
const char* http_header_refused(json_object* headers);

// An answer body growing in memory up to its limit.
struct ResponseBuffer {
    std::string data;
    size_t limit = kHttpAnswerLimit;
    bool overLimit = false;
};
// libcurl write callback: appends to buffer (or drops the bytes when it is
// null); 0 aborts the transfer (out of memory or over the limit).
size_t http_body_append(const char* bytes, size_t size, size_t count, ResponseBuffer* buffer);
