#pragma once
// The engine's diagnostic lines (a failed read or write, a refused entry). They go to standard
// output, as unzip's own tools print them, unless a program routes them elsewhere.
namespace narvo {

using DiagnosticSink = void (*)(const char* line);

// Routes every later line to sink (null: back to standard output). Not synchronised: set it once
// at start-up.
void SetDiagnosticSink(DiagnosticSink sink);

// Formats one line (printf style, without the line end) and hands it to the sink.
[[gnu::format(printf, 1, 2)]] void Diagnose(const char* format, ...);

} // namespace narvo
