// The host runtime's log function. The driver imports it by name and never
// defines it; on Linux the import is versioned TARVEX so that it can never
// bind to the C library's err(3), which would exit the process.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

void err(int level, const char *format, ...);

#ifdef __cplusplus
}
#endif

namespace qor {
constexpr int kLogFailure = 32;
constexpr int kLogProgress = 8;
constexpr int kLogDiagnostic = 0;
// The driver identifier handed to every "QOR%s> " prefix.
constexpr const char *kDriverId = "HT";
} // namespace qor
