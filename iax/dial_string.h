// Parsing of "[user[:password]@]host[:port][/number[@context]]".
#pragma once

struct IaxDialFields {
    char* username;  // null when absent; all texts point into the parsed copy
    char* secret;
    char* host;
    int port;
    char* exten;  // also the dnid
    char* context;
};

// Splits the writable copy in place. Returns 0, or -1 when the address part
// is empty (the text starts with "/"), has no host or has an empty port
// field, with "Invalid hostname: %s" in IaxLastError.
int IaxParseDialString(char* copy, IaxDialFields* fields);
