#pragma once
/* The modem vendor's MCM client library as the daemon calls it. The host
 * build links stand-ins with these entry points; the module links the
 * vendor's own. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called from the library's own thread. */
typedef void (*mcm_client_ind_cb)(uint32_t handle, uint32_t msg_id, void* payload,
                                  uint32_t length);
typedef void (*mcm_client_async_cb)(uint32_t handle, uint32_t msg_id, void* payload,
                                    uint32_t length, uint32_t token);

/* 0 or 1: the client exists and *handle names it; any larger value is a failure. */
uint32_t mcm_client_init(uint32_t* handle, mcm_client_ind_cb ind_cb, mcm_client_async_cb async_cb);

/* 0: the exchange took place and the response starts with resp_code and
 * error_code; anything else is a transport failure. */
int mcm_client_execute_command_sync(uint32_t handle, uint32_t msg_id, void* request,
                                    uint32_t request_length, void* response,
                                    uint32_t response_length);
int mcm_client_execute_command_sync_ex(uint32_t handle, uint32_t msg_id, void* request,
                                       uint32_t request_length, void* response,
                                       uint32_t response_length, uint32_t timeout_ms);

/* 0: released; anything else is an error code. */
int mcm_client_release(uint32_t handle);

#ifdef __cplusplus
}
#endif
