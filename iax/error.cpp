// Layer: bottom. The failure message.
#include <cstdarg>
#include <cstdio>

#include "iax/error.h"
#include "iax/iax.h"

char IaxLastError[256] = "";

void IaxSetError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(IaxLastError, sizeof IaxLastError, format, arguments);
    va_end(arguments);
}
