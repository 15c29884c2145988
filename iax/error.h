// The library's failure message (IaxLastError). Bottom layer.
#pragma once

// Formats the message into IaxLastError, cut to 255 characters.
void IaxSetError(const char* format, ...) __attribute__((format(printf, 1, 2)));
