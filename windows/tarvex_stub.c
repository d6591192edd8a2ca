/* Stand-in for the host runtime library TARVEX.DLL, for the Windows tests
 * only: the driver's log lines go to standard error as "level: text", one
 * line per call, flushed at once so that they interleave correctly with the
 * test host's own output. Exported by name through tarvex.def, the same
 * definition the driver's import library comes from. */
#include <stdarg.h>
#include <stdio.h>

void __cdecl err(int level, const char *format, ...);

void __cdecl err(int level, const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "%d: %s\n", level, text);
    fflush(stderr);
}
