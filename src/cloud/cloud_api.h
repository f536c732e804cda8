#pragma once
#include <cstddef>
#include <string>

// The cloud service's own endpoints under https://<host>/camapi/v3/, and the
// bearer token that the camera endpoint asks for.

// "https://<host>/camapi/v3/<resource>/<imei>" with the configured host.
std::string cloud_api_url(const char* resource);

constexpr size_t kTokenSize = 2049;  // at most 2,048 characters, as a JWT may need

// Fetches a token into `token` and keeps it in the configuration (not saved).
// 0 when a token was obtained, -1 otherwise (logged); a longer token is
// refused, never cut.
int cloud_get_token(char* token);

// The service refused the token: forget it here and in the saved
// configuration, which is written for it at most once per sync.
void cloud_token_reset(char* token);
