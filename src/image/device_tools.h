#pragma once

// The device's own tools the picture pipeline runs.

// Squeezes a JPEG (a real path) to about `target_kb` kB with /usrdata/jpegoptim,
// stripping comments, IPTC, ICC and XMP. The tool runs without a shell, so a
// file name is never read as a command. Its exit status, or -1 when it did not run.
int jpeg_compress(const char* path, int target_kb);

// A swap file of `kib` KiB on the SD card (/media/sdcard/swap), made and turned on.
void swap_file_on(int kib);
// Turns the swap file off and deletes it.
void swap_file_off();
