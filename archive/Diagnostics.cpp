#include "archive/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace narvo {

namespace {
DiagnosticSink g_sink = nullptr;
}

void SetDiagnosticSink(DiagnosticSink sink) {
    g_sink = sink;
}

void Diagnose(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (g_sink)
        g_sink(line);
    else
        std::printf("%s\n", line);
}

} // namespace narvo
