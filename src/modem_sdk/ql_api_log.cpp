#include "modem_sdk/ql_api_log.h"

#include <ql_sys_log.h>

#include <cstdio>

namespace {
constexpr int kLineSize = 512;
}

int ql_api_vlog(const char* function, int line, int level, const char* format, va_list args) {
    if (level < 2 || level > 7) return -1;
    char text[kLineSize];
    int prefix = std::snprintf(text, sizeof text, "[%s_%d] ", function, line);
    if (prefix < 0) prefix = 0;
    if (prefix < kLineSize - 1) {
        const size_t left = static_cast<size_t>(kLineSize - prefix);
        std::vsnprintf(text + prefix, left, format, args);
    }
    text[kLineSize - 1] = '\0';
    ql_sys_log_puts(0, level, "ql_api", text);
    return 0;
}

int ql_api_log(const char* function, int line, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = ql_api_vlog(function, line, level, format, args);
    va_end(args);
    return result;
}

ApiCall::ApiCall(const char* function, int line) : function_(function), line_(line) {
    ql_api_log(function_, line_, kQlLogTrace, "enter");
}

void ApiCall::log(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    ql_api_vlog(function_, line_, level, format, args);
    va_end(args);
}

int ApiCall::exit(int ret) const {
    ql_api_log(function_, line_, kQlLogTrace, "exit, ret=%d", ret);
    return ret;
}
