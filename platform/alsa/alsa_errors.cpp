#include "platform/alsa/alsa_errors.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace velnar {

namespace {

thread_local std::string t_firstMessage;

void CatchMessage(const char*, int, const char*, int, const char* format, ...)
{
    if (!t_firstMessage.empty())
        return;
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    t_firstMessage = text;
}

}  // namespace

void CatchAlsaErrors()
{
    static std::once_flag installed;
    std::call_once(installed, [] { snd_lib_error_set_handler(&CatchMessage); });
    t_firstMessage.clear();
}

void ReportAlsaOpenFailure(const std::string& name, int error)
{
    static std::mutex printing;
    static std::string lastLine;
    std::string line = "velnar: cannot open ALSA device \"" + name + "\": " + snd_strerror(error);
    if (!t_firstMessage.empty())
        line += " (" + t_firstMessage + ")";
    std::lock_guard lock(printing);
    if (line == lastLine)
        return;
    lastLine = line;
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace velnar
