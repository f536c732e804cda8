#include "cloud/cloud_api.h"

#include <cstring>

#include "core/config.h"
#include "core/daemon_state.h"
#include "core/event_log.h"
#include "core/json_util.h"
#include "cloud/sync_bounds.h"
#include "cloud/transport.h"

static_assert(sizeof(DaemonConfig::s3token) == kTokenSize, "the stored token fits the working copy");

std::string cloud_api_url(const char* resource) {
    char host[255];
    config_getHost(host, sizeof host);
    return std::string("https://") + host + "/camapi/v3/" + resource + "/" + g_state.imei;
}

int cloud_get_token(char* token) {
    const std::string url = cloud_api_url("token");
    JsonPtr answer;
    int result = http_get_json(url.c_str(), &answer);
    if (result < 0) {
        log_event("token", 2, "Get token failed: Fatal CURL error");
        return -1;
    }
    if (http_last_answer_too_large()) {
        log_event("token", 2, "Answer too large: %s", url.c_str());
        return -1;
    }
    // Only an accepted answer carries a token worth keeping.
    if (!http_last_accepted()) {
        log_event("token", 2, "Get token failed: %s", http_last_failure_text());
        return -1;
    }
    // The token goes into a header line; a text with a line break (any control
    // character) counts as missing, so it cannot add lines of its own.
    const char* received = json_member_string(answer.get(), "token");
    if (received == nullptr) {
        sync_answer_unusable();
        log_event("token", 2, "Get token failed: -1");
        return -1;
    }
    // A cut token would be refused by every request that carries it.
    const size_t length = std::strlen(received);
    if (length >= kTokenSize) {
        sync_answer_unusable();
        log_event("token", 2, "Get token failed: token of %d characters", static_cast<int>(length));
        return -1;
    }
    copy_text(token, kTokenSize, received);
    log_event("token", 0, "Get token success");
    config_setToken(token);
    return 0;
}

void cloud_token_reset(char* token) {
    std::memset(token, 0, kTokenSize);
    log_event("camapi", 0, "Reset token");
    config_setToken("");
    if (sync_token_save_due()) config_save();
}
