#pragma once

struct json_object;

// Pictures of the transmit folder reach the cloud in two steps: the camera
// record offers them as an uploads list, newest first; the service answers
// with one transfer instruction per picture it wants, and each picture sent
// is deleted. The list's length adapts to how well the last one went.

// Adds "uploads" to the document: one picture for the first sync (mode 1),
// else up to the configured count (0: all). 1 when the list has an entry,
// -1 when the folder cannot be listed or holds no file, -2 when no file qualified.
int uploads_list_add(json_object* document, int mode);

// Carries out the answer's "uploads" array (one keep-alive byte each) and
// adapts the list length; true when the exchange is finished. Only the
// pictures of `offered` (the uploads list the answer replies to, or null) are
// acted on, each once: other instructions are skipped with one log line. A
// picture counts as sent once its transmit copy is deleted; one that cannot
// be deleted ends the exchange, so that no picture is sent twice in one sync.
bool uploads_carry_out(json_object* instructions, json_object* offered, int mode);

