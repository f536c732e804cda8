#pragma once
/* The modem vendor's management client library (data calls and APN
 * profiles) as the daemon calls it. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called from the library's own thread for every event of the server. */
typedef void (*ql_mgmt_client_event_cb)(uint32_t event_id, void* data, uint32_t length);

/* 0: opened and *handle written. */
int ql_mgmt_client_open(uint32_t* handle, ql_mgmt_client_event_cb dispatcher);
/* One exchange with the server; request and response share the record. 0: done. */
int ql_mgmt_client_set(uint32_t handle, uint32_t msg_id, void* record, uint32_t length);
int ql_mgmt_client_get(uint32_t handle, uint32_t msg_id, void* record, uint32_t length);
void ql_mgmt_client_close(uint32_t handle);

#ifdef __cplusplus
}
#endif
