// Frames written out as hex in the tests ("0a 1b ..."; spaces ignored).
#pragma once

#include <cstdint>
#include <string>

#include "iax2/wire.h"

namespace iax2 {

inline Bytes Hex(const char* text)
{
    Bytes bytes;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

}  // namespace iax2
