/* A host in C that loads the driver the way the SCADA runtime does: it knows
 * only host/records.h, dlopen()s the library and calls QorMain for GetQorInfo
 * and ColdStart (without opening a port).
 *
 * Built twice: plain, leaving err to the host runtime library, and with
 * HOST_EXPORTS_ERR, exporting an err of its own that must receive every line.
 * Prints "host finished" last, so a process ended from inside err is seen. */
#include "host/records.h"

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t (*QorMainFunction)(DriverRequest *);

#ifdef HOST_EXPORTS_ERR
static int linesReceived;

void err(int level, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    linesReceived++;
    printf("host err %d: %s\n", level, text);
}
#endif

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    QorMainFunction qorMain;
    *(void **)&qorMain = dlsym(library, "QorMain");
    if (qorMain == NULL) {
        fprintf(stderr, "no QorMain\n");
        return 2;
    }

    DriverInfo info;
    memset(&info, 0, sizeof info);
    DriverRequest request;
    memset(&request, 0, sizeof request);
    request.command = QOR_GET_INFO;
    request.params = &info;
    int32_t result = qorMain(&request);
    if (result != 0 || info.contextSize < (int32_t)sizeof(DriverContext)) {
        fprintf(stderr, "GetQorInfo: result %d, context size %d\n", (int)result,
                (int)info.contextSize);
        return 3;
    }
    printf("driver %s\n", info.driverName);

    DriverContext *context = malloc((size_t)info.contextSize);
    if (context == NULL) {
        return 2;
    }
    ColdStartParams params;
    memset(&params, 0, sizeof params);
    strcpy(params.portName, "ttyQOR9");
    params.openPort = 0;
    params.timeout = 100;
    params.baudRate = info.defaultBaudRate;
    params.dataBits = info.defaultDataBits;
    params.stopBits = info.defaultStopBits;
    params.parity = info.defaultParity;
    request.context = context;
    request.command = QOR_COLD_START;
    request.params = &params;
    result = qorMain(&request);
    free(context);
    if (result != 0) {
        fprintf(stderr, "ColdStart: result %d\n", (int)result);
        return 3;
    }
#ifdef HOST_EXPORTS_ERR
    printf("host err lines %d\n", linesReceived);
#endif
    printf("host finished\n");
    return 0;
}
