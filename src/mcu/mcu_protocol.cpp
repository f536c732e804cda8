#include "mcu_protocol.h"

#include "event_log.h"

void mcu_handle_chunk(const char* chunk, size_t length) {
    log_event("uart", 0, "rcv %zu bytes: %s", length, chunk);
}
