// Numbers from the system's random source.
#pragma once

// A call number in 1..32767, drawn uniformly from the kernel's random source
// so that two phones started in the same second do not draw the same one.
int IaxRandomCallNumber(void);
