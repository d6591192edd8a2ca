/* Stand-in for the host runtime library TARVEX: the driver's log lines go to
 * standard error as "level: text". A host that exports err of its own takes
 * precedence over this one. */
#include <stdarg.h>
#include <stdio.h>

void err(int level, const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "%d: %s\n", level, text);
}
