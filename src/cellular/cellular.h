#pragma once

// The cellular thread: SIM choice, bring-up, data-call supervision and the
// time zone. Started by the MCU's "cell"; runs for the life of the process.

// Starts the thread unless one already runs.
void cellular_start();

// The thread's phases, in order; tests run them on their own clock.
// Scans both slots, chooses one and checks its card: 0, or -1 when the
// thread has to give up.
int cellular_sim_setup();
// One pass of the bring-up loop; returns when the loop has to start again.
void cellular_bring_up_once();
// Sets TZ from the registered network (once per thread) and raises timeKnown.
void time_zone_set();
