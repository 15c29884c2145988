// Running the Qt event loop from tests and measuring programs.
#pragma once

#include <functional>

namespace velnar::test {

// Runs the event loop until the condition holds; false after maxWaitMs (a
// safety net for events that never come, not a timing assertion).
bool PumpUntil(const std::function<bool()>& done, int maxWaitMs = 3000);
// Runs the event loop for whatever is ready now.
void PumpBriefly();
// Runs the event loop idle for that long, without spinning: measurements
// must not count the waiting as the program's work.
void RunFor(int ms);

}  // namespace velnar::test
