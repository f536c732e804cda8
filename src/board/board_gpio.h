#pragma once

// The board's own lines: SD card busy, the two SIM-control lines and the four
// board revision straps.

// Sets up the seven lines; a line that fails is logged and the rest go on.
void board_gpio_init();
// 1 to 16 from the REV ID lines; a line that cannot be read counts as 0.
int board_revision();
// Slot 0 drives both SIM-control lines to 0, any other slot to 1.
void sim_gpio_select(int slot);
