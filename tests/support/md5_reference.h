// A small, slow, obviously-written MD5 (RFC 1321) used by tests to compute
// the digest they expect from the library, so that a test of an
// authentication answer never trusts the code it is checking.
#pragma once

#include <string>

namespace iaxpeer {

// The digest of the bytes of text as 32 lowercase hexadecimal digits.
std::string Md5Hex(const std::string& text);

}  // namespace iaxpeer
