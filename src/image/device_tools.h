#pragma once

// The device's own tools the picture pipeline runs.

// Squeezes a JPEG (a real path) to about `target_kb` kB with /usrdata/jpegoptim,
// stripping comments, IPTC, ICC and XMP. The tool runs without a shell, so a
// file name is never read as a command. Its exit status, or -1 when it did not run.
int jpeg_compress(const char* path, int target_kb);

// Makes a swap file of `kib` KiB on the SD card (/media/sdcard/swap) and turns
// it on, when the card has room for it and 1 MiB more ("No room for a swap
// file" is logged otherwise). False when there is no swap file.
bool swap_file_on(int kib);
// Turns the swap file off and deletes it.
void swap_file_off();
// Start-up: a swap file that a power cut left on the card goes.
void swap_file_remove_stale();
