#include "trace.h"

#include "frames.h"

#include <cstdarg>
#include <string>

namespace htsim {

void Trace::Frame(Micros at, const char *direction, std::string_view bytes) {
    if (!enabled_) {
        return;
    }
    std::fprintf(out_, "%12.3f ms %-4s %s\n", static_cast<double>(at - start_) / 1000.0, direction,
                 Visible(bytes).c_str());
    std::fflush(out_);
}

void Trace::Note(Micros at, const char *format, ...) {
    if (!enabled_) {
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(out_, "%12.3f ms ---- %s\n", static_cast<double>(at - start_) / 1000.0, text);
    std::fflush(out_);
}

} // namespace htsim
