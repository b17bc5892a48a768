#pragma once

// Waits ms of monotonic time (a clock change does not shorten or stretch
// it) while the calling thread's events keep running.
namespace EventWait {
void sleep(int ms);
}
