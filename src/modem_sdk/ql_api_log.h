#pragma once
#include <cstdarg>

// Writes "[function_line] text" to the vendor's system log with tag "ql_api".
// Levels 2 to 7 are passed on; any other level is dropped (-1). The whole
// line, prefix included, is cut to 511 characters.
int ql_api_log(const char* function, int line, int level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int ql_api_vlog(const char* function, int line, int level, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

#define QL_LOG(level, ...) ql_api_log(__func__, __LINE__, (level), __VA_ARGS__)

constexpr int kQlLogTrace = 2;    // "enter" and "exit"
constexpr int kQlLogInfo = 3;
constexpr int kQlLogWarning = 4;
constexpr int kQlLogError = 6;

// One wrapper call: "enter" when made, "exit, ret=%d" through exit(), and
// every line in between under the wrapper's name.
class ApiCall {
public:
    ApiCall(const char* function, int line);
    void log(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    int exit(int ret) const;
    const char* function() const { return function_; }

private:
    const char* function_;
    int line_;
};

#define QL_API_CALL(name) const ApiCall name(__func__, __LINE__)
