// The per-instance station initialisation file (INT file).
#include "config/int_file.h"

#include "config/fixed_width.h"
#include "platform/host_log.h"

#include <cstring>

namespace qor {
namespace {

// 255 characters, the LF included, and a terminator: a longer line is handed
// on in pieces of this size, each piece a line of its own.
constexpr size_t kLineSize = 256;
// Long enough for "QOR" + identifier + ten digits of an unsigned instance.
constexpr size_t kNameSize = 32;
constexpr int kCtrlZ = 0x1A;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Text-mode reading done by hand, so that POSIX (which has no text mode) and
// Windows (whose file is opened in binary for this reason) read alike: CR LF
// reads as LF, a lone CR stays, and 0x1A, the end of the file or a read error
// ends the file for good.
class TextReader {
public:
    explicit TextReader(std::FILE *file) : file_(file) {}

    // Fills `line` with the next line or piece of a line and terminates it.
    // Returns the number of characters taken (NUL bytes included), 0 at the end.
    size_t ReadLine(char (&line)[kLineSize]) {
        size_t length = 0;
        while (length < kLineSize - 1) {
            int c = Next();
            if (c == EOF) {
                break;
            }
            line[length++] = static_cast<char>(c);
            if (c == '\n') {
                break;
            }
        }
        line[length] = '\0';
        return length;
    }

private:
    int Next() {
        if (ended_) {
            return EOF;
        }
        int c = std::getc(file_);
        if (c == EOF || c == kCtrlZ) {
            ended_ = true;
            return EOF;
        }
        if (c != '\r') {
            return c;
        }
        int following = std::getc(file_);
        if (following == '\n') {
            return '\n';
        }
        if (following == EOF) {
            ended_ = true;
        } else {
            // Seen again by the next call; a 0x1A ends the file there.
            std::ungetc(following, file_);
        }
        return '\r';
    }

    std::FILE *file_;
    bool ended_ = false;
};

// Matches `text` against one line pattern and returns how many values it
// took before the first mismatch or the end of the text. Pattern language: a
// blank matches any run of white space, the empty run included; "%c" and
// "%1c" take the next character whatever it is; "%u" a decimal number and
// "%02x" one or two hexadecimal digits, both after white space; every other
// character matches only itself.
int MatchPattern(const char *text, const char *end, const char *pattern, uint32_t *values) {
    const char *p = text;
    int taken = 0;
    const char *f = pattern;
    while (*f != '\0') {
        if (*f == ' ') {
            while (p < end && IsSpace(*p)) {
                ++p;
            }
            ++f;
            continue;
        }
        if (*f != '%') {
            if (p >= end || *p != *f) {
                return taken;
            }
            ++p;
            ++f;
            continue;
        }
        if (std::strncmp(f, "%1c", 3) == 0 || std::strncmp(f, "%c", 2) == 0) {
            if (p >= end) {
                return taken;
            }
            values[taken++] = static_cast<unsigned char>(*p++);
            f += f[1] == '1' ? 3 : 2;
            continue;
        }
        ScanResult scanned{false, 0, p};
        if (std::strncmp(f, "%u", 2) == 0) {
            scanned = ScanDecimal(p, end, ~0u);
            f += 2;
        } else if (std::strncmp(f, "%02x", 4) == 0) {
            scanned = ScanHex(p, end, 2);
            f += 4;
        }
        if (!scanned.ok) {
            return taken;
        }
        values[taken++] = scanned.value;
        p = scanned.next;
    }
    return taken;
}

bool Is(uint32_t c, char upper) {
    return c == static_cast<unsigned char>(upper) ||
           c == static_cast<unsigned char>(upper - 'A' + 'a');
}

void ApplyOccupation(DriverContext *context, const uint32_t *c, int taken) {
    if (Is(c[0], 'N') && Is(c[1], 'O')) {
        context->occupationEnabled = 0;
    } else if (Is(c[0], 'Y') && Is(c[1], 'E') && taken == 3 && Is(c[2], 'S')) {
        context->occupationEnabled = 1;
    } else {
        context->occupationEnabled = 1;
        err(kLogFailure, "QOR%s> Illegal format of Int File:", kDriverId);
        err(kLogFailure, "QOR%s> Check for OCCUAPTION = in your int file. Assuming 'YES'",
            kDriverId);
    }
}

// values: station character, loop, unit and, when withOffice, office.
void ApplyStation(DriverContext *context, const uint32_t *values, bool withOffice,
                  uint16_t lineNumber, const char *fileName) {
    unsigned station = values[0];
    if (station == '*') {
        err(kLogFailure, "QOR%s> ReadIntFile() station '*' not allowed line %u in '%s'", kDriverId,
            static_cast<unsigned>(lineNumber), fileName);
        return;
    }
    if (station >= 'a' && station <= 'z') {
        station -= 'a' - 'A';
    }
    StationEntry &entry = context->stations[station & 0xFF];
    entry.loop = static_cast<uint8_t>(values[1]);
    entry.unit = static_cast<uint8_t>(values[2]);
    if (withOffice) {
        entry.office = static_cast<uint8_t>(values[3]);
        err(kLogProgress, "QOR%s> ReadIntFile() %c= loop %02Xh, unit %02Xh, office %02Xh",
            kDriverId, static_cast<int>(station), static_cast<unsigned>(entry.loop),
            static_cast<unsigned>(entry.unit), static_cast<unsigned>(entry.office));
    } else {
        err(kLogProgress, "QOR%s> ReadIntFile() %c= loop %02Xh, unit %02Xh", kDriverId,
            static_cast<int>(station), static_cast<unsigned>(entry.loop),
            static_cast<unsigned>(entry.unit));
    }
}

void ApplyLine(DriverContext *context, const char *line, size_t length, uint16_t lineNumber,
               const char *fileName) {
    // A NUL byte in the file ends what the patterns see of its line.
    const void *nul = std::memchr(line, '\0', length);
    const char *end = nul != nullptr ? static_cast<const char *>(nul) : line + length;
    uint32_t values[4] = {0, 0, 0, 0};

    int taken = MatchPattern(line, end, "OCCUPATION = %1c%1c%1c", values);
    if (taken == 2 || taken == 3) {
        ApplyOccupation(context, values, taken);
        return;
    }
    if (MatchPattern(line, end, "IFG= %u", values) == 1 ||
        MatchPattern(line, end, "IFG = %u", values) == 1) {
        context->interFrameGap = values[0];
        err(kLogProgress, "QOR%s> ReadIntFile() IFG = %u", kDriverId, values[0]);
        return;
    }
    if (MatchPattern(line, end, "%c : %02x %02x %02x", values) == 4) {
        ApplyStation(context, values, true, lineNumber, fileName);
        return;
    }
    if (MatchPattern(line, end, "%c : %02x %02x", values) == 3) {
        ApplyStation(context, values, false, lineNumber, fileName);
        return;
    }
    if (line[0] == '\n' || line[0] == '*') {
        return;
    }
    err(kLogFailure, "QOR%s> ReadIntFile() illegal line %u in '%s'", kDriverId,
        static_cast<unsigned>(lineNumber), fileName);
}

} // namespace

// The names are formed in capitals and carry no directory. On POSIX file
// systems they must match the file's name in exact case; Windows matches
// them regardless of case.
std::FILE *OpenIntFile(const char *driverId, char *name, size_t nameSize, uint32_t instance) {
    if (driverId == nullptr || name == nullptr || nameSize == 0) {
        return nullptr;
    }
    // Instance 12 gives the same name twice; trying it again costs nothing.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt == 0) {
            std::snprintf(name, nameSize, "QOR%s%02u.INT", driverId, instance);
        } else if (attempt == 1) {
            std::snprintf(name, nameSize, "QOR%s%01u.INT", driverId, instance);
        } else {
            std::snprintf(name, nameSize, "QOR%s.INT", driverId);
        }
        // Binary: TextReader does the text-mode translation itself.
        std::FILE *file = std::fopen(name, "rb");
        if (file != nullptr) {
            return file;
        }
    }
    return nullptr;
}

void ReadIntFile(DriverRequest *request) {
    if (request == nullptr || request->context == nullptr) {
        return;
    }
    DriverContext *context = request->context;
    for (StationEntry &entry : context->stations) {
        entry.unit = 0xFF;
        entry.loop = 0xFF;
        entry.office = 0xFF;
        entry.occupied = 0;
    }

    char fileName[kNameSize];
    std::FILE *file =
        OpenIntFile(kDriverId, fileName, sizeof fileName, static_cast<uint32_t>(request->instance));
    if (file == nullptr) {
        err(kLogProgress, "QOR%s> ColdStart() Info, no initfile found", kDriverId);
        return;
    }
    // The stream buffers in this frame's memory rather than in one that the C
    // library would allocate.
    char streamBuffer[512];
    std::setvbuf(file, streamBuffer, _IOFBF, sizeof streamBuffer);

    TextReader reader(file);
    char line[kLineSize];
    uint16_t lineNumber = 0;
    for (;;) {
        size_t length = reader.ReadLine(line);
        if (length == 0) {
            break;
        }
        ++lineNumber;
        ApplyLine(context, line, length, lineNumber, fileName);
    }
    std::fclose(file);
}

} // namespace qor
