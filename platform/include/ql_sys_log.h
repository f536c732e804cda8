#pragma once
/* The modem vendor's system log as the daemon calls it. */

#ifdef __cplusplus
extern "C" {
#endif

/* Levels 2 (most verbose) to 7. */
void ql_sys_log_puts(int buffer, int level, const char* tag, const char* text);

#ifdef __cplusplus
}
#endif
