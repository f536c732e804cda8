#pragma once

struct json_object;

// The service's requests in a camera record answer, carried out in this
// order: "update" (packages downloaded to the SD card, then installed),
// "updateModem" (a modem firmware package, then a restart into recovery),
// "updateSim" (a wait of some minutes), "log" (the event log uploaded) and
// "pictures" (HD copies uploaded). Each file or wait carried out flips the
// kind's acknowledgement bit in requestUpdateReset; the HD outcomes are PUT
// as a results document to the camera URL with the exchange's token.
void requests_carry_out(json_object* requests, const char* cameraUrl, const char* token);

// Removes the temporary files that downloads cut short by a power cut left in
// every folder the requests download into. Start-up calls it.
void requests_remove_stale_downloads();
