// Layer: bottom. The failure message and the diagnostic stream.
#include <cstdarg>
#include <cstdio>

#include "iax/error.h"
#include "iax/iax.h"

char IaxLastError[256] = "";

namespace {
FILE* diagnosticStream = nullptr;  // null: standard output
}

void IaxSetDiagnosticStream(FILE* stream)
{
    diagnosticStream = stream;
}

FILE* IaxDiagnosticStream(void)
{
    return diagnosticStream ? diagnosticStream : stdout;
}

void IaxSetError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(IaxLastError, sizeof IaxLastError, format, arguments);
    va_end(arguments);
}
