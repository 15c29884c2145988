// Reading a small file that someone else named: a FIFO, a device or a huge
// file must never stall the program or fill its memory.
#pragma once

#include <string>

namespace velnar {

inline constexpr size_t kMaxReadBytes = 64 * 1024;

enum class ReadOutcome {
    Read,       // text holds the whole file
    NotOpened,  // missing or not permitted; why holds the system's reason
    Refused,    // opened but not a regular file, or longer than kMaxReadBytes
};

// Opens without blocking, insists on a regular file and reads at most
// kMaxReadBytes. why is "not a regular file", "too large" or the system's
// reason.
ReadOutcome ReadBoundedFile(const std::string& path, std::string& text, std::string& why);

}  // namespace velnar
