// Layer: bottom. Parsing of dial strings; calls only the error message and
// the text helpers of the wire format.
#include "iax/dial_string.h"

#include <cstring>

#include "iax/error.h"
#include "iax/iax.h"
#include "iax/wire.h"

namespace {

// First two fields of text split at separator: runs count as one cut and
// separators at either end make no empty field. Writes NULs into text.
void SplitTwo(char* text, char separator, char** first, char** second)
{
    *first = *second = nullptr;
    char* fields[2] = {nullptr, nullptr};
    int found = 0;
    char* cursor = text;
    while (*cursor && found < 2) {
        while (*cursor == separator)
            ++cursor;
        if (!*cursor)
            break;
        fields[found++] = cursor;
        while (*cursor && *cursor != separator)
            ++cursor;
        if (*cursor)
            *cursor++ = '\0';
    }
    *first = fields[0];
    *second = fields[1];
}

// Leading decimal digits; 0 when there are none.
int LeadingDigits(const char* text)
{
    int value = 0;
    for (; *text >= '0' && *text <= '9' && value <= 65535; ++text)
        value = value * 10 + (*text - '0');
    return value;
}

int RefuseHost(const char* host)
{
    IaxSetError("Invalid hostname: %s", host);
    return -1;
}

}  // namespace

int IaxParseDialString(char* copy, IaxDialFields* fields)
{
    *fields = IaxDialFields{};
    fields->port = IaxDefaultPort;
    if (copy[0] == '/')
        return RefuseHost("");  // no address part: the number is no server
    char* address = nullptr;
    char* number = nullptr;
    SplitTwo(copy, '/', &address, &number);
    if (!address)
        return RefuseHost("");
    char* hostPart = address;
    if (strchr(address, '@')) {
        char* userPart = nullptr;
        SplitTwo(address, '@', &userPart, &hostPart);
        if (userPart && strchr(userPart, ':'))
            SplitTwo(userPart, ':', &fields->username, &fields->secret);
        else
            fields->username = userPart;
    }
    if (!hostPart)
        return RefuseHost("");
    if (strchr(hostPart, ':')) {
        char original[IaxTextFieldBytes];
        IaxCopyText(original, sizeof original, hostPart);
        char* portText = nullptr;
        SplitTwo(hostPart, ':', &fields->host, &portText);
        if (!fields->host || !portText)
            return RefuseHost(original);  // "host:" or ":port": nowhere to send
        fields->port = LeadingDigits(portText) & 0xFFFF;
    } else {
        fields->host = hostPart;
    }
    if (number)
        SplitTwo(number, '@', &fields->exten, &fields->context);
    return 0;
}
