/* An err for LD_PRELOAD: takes precedence over the host runtime library's,
 * and marks its lines so the test can tell whose err received them. */
#include <stdarg.h>
#include <stdio.h>

void err(int level, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "preload err %d: %s\n", level, text);
}
