/*
 * A minimal SCADA host for QORHT.DLL: loads the driver with LoadLibrary, finds
 * QorMain with GetProcAddress and drives one instance through its whole life
 * against a controller simulator on the serial port, checking what comes back.
 *
 *   test_host.exe [PORT [ALTPORT]]      (defaults COM7 and COM12)
 *
 * PORT and ALTPORT must reach the same simulator, which serves station A as
 * loop 01 unit 02 and station B as loop 01 unit 03 office 04, and must NOT
 * serve station C (loop 02 unit 09): C is how a silent line is produced. The
 * host writes the instance's INT file (QORHT07.INT) into the working
 * directory. Exit status 0 when every check passed, 1 otherwise.
 */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "host/records.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t(__cdecl *QorMainFunction)(DriverRequest *request);

enum { kInstance = 7, kTimeout = 100 /* x 10 ms */, kShortTimeout = 5 };

static QorMainFunction qorMain;
static DriverContext *context;
static int failures;
static int checks;
/* Set once an exchange that had to succeed failed: with the line down every
 * further exchange would only sit through 12 time-outs, so they fail at once. */
static int lineDown;

static void Check(int ok, const char *format, ...) {
    va_list args;
    ++checks;
    if (!ok) {
        ++failures;
    }
    printf("%s - ", ok ? "ok" : "FAIL");
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

static int32_t Call(int32_t command, void *params) {
    DriverRequest request;
    memset(&request, 0, sizeof request);
    request.context = context;
    request.command = command;
    request.instance = kInstance;
    request.params = params;
    return qorMain(&request);
}

/* Wine maps serial ports onto host devices without enforcing share mode 0,
 * so what depends on the exclusive open can only be shown on Windows. */
static int RunningUnderWine(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

/* The line configuration and time-outs as the device holds them, read back
 * through the driver's own handle (same process). Wine keeps only part of a
 * DCB on a pseudo-terminal (no data bits, parity or XON/XOFF limits, no
 * time-outs to read back), so under Wine only what it keeps is compared. */
static void CheckLineConfiguration(DWORD timeoutMs) {
    HANDLE port = (HANDLE)context->portHandle;
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        Check(0, "GetCommState on the driver's port, error %lu", (unsigned long)GetLastError());
        return;
    }
    Check(dcb.BaudRate == 19200, "line speed 19200 (device has %lu)", (unsigned long)dcb.BaudRate);
    Check(dcb.fOutxCtsFlow == 1 && dcb.fOutX == 0 && dcb.fInX == 0,
          "CTS holds transmission, no XON/XOFF (cts %u outx %u inx %u)", dcb.fOutxCtsFlow,
          dcb.fOutX, dcb.fInX);
    if (RunningUnderWine()) {
        printf("SKIP - data bits, parity, stop bits, DTR/RTS, XON/XOFF limits and the "
               "time-outs of %s: Wine does not keep them for a pseudo-terminal\n",
               context->portSettings.portName);
        return;
    }
    Check(dcb.ByteSize == 7 && dcb.Parity == EVENPARITY && dcb.StopBits == ONESTOPBIT &&
              dcb.fParity == 1 && dcb.fBinary == 1,
          "7 data bits, even parity checked, one stop bit, binary");
    Check(dcb.fOutxDsrFlow == 0 && dcb.fDsrSensitivity == 0 && dcb.fTXContinueOnXoff == 0 &&
              dcb.fErrorChar == 0 && dcb.fNull == 0 && dcb.fAbortOnError == 0,
          "no DSR flow or sensitivity, no error char, NULs kept, no abort on error");
    Check(dcb.fDtrControl == DTR_CONTROL_ENABLE && dcb.fRtsControl == RTS_CONTROL_ENABLE,
          "DTR and RTS on");
    Check(dcb.XonLim == 3000 && dcb.XoffLim == 2000, "XON limit 3000, XOFF limit 2000");
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0xFF, sizeof timeouts);
    Check(GetCommTimeouts(port, &timeouts) && timeouts.ReadIntervalTimeout == 0 &&
              timeouts.ReadTotalTimeoutMultiplier == 0 &&
              timeouts.ReadTotalTimeoutConstant == timeoutMs &&
              timeouts.WriteTotalTimeoutMultiplier == 0 &&
              timeouts.WriteTotalTimeoutConstant == timeoutMs,
          "total read and write time-outs of %lu ms only (read %lu, write %lu)",
          (unsigned long)timeoutMs, (unsigned long)timeouts.ReadTotalTimeoutConstant,
          (unsigned long)timeouts.WriteTotalTimeoutConstant);
}

/* Ends a run that hangs (a read without time-out, a lost simulator) with a
 * clear failure instead of leaving it to the outer time limit. */
static DWORD WINAPI Watchdog(LPVOID limit) {
    Sleep((DWORD)(uintptr_t)limit);
    printf("FAIL - the run did not finish within %lu ms\n", (unsigned long)(uintptr_t)limit);
    fflush(stdout);
    ExitProcess(3);
    return 0;
}

static int WriteIntFile(void) {
    /* Station C is configured but not served by the simulator: its requests
     * meet a silent line. The small IFG keeps the run short. */
    static const char text[] = "* two stations on loop 1, one that never answers\n"
                               "OCCUPATION = YES\n"
                               "IFG = 2\n"
                               "A : 01 02\n"
                               "B : 01 03 04\n"
                               "C : 02 09\n";
    FILE *file = fopen("QORHT07.INT", "w");
    if (file == NULL) {
        return 0;
    }
    int ok = fputs(text, file) >= 0;
    return fclose(file) == 0 && ok;
}

static void CheckInfo(void) {
    DriverInfo info;
    DriverRequest request;
    memset(&info, 0x5A, sizeof info);
    memset(&request, 0, sizeof request); /* no context yet, as before allocation */
    request.command = QOR_GET_INFO;
    request.params = &info;
    Check(qorMain(&request) == 0, "GetQorInfo without a context returns 0");
    Check(info.leadingCode == 70 && info.middleCode == 4 && info.trailingCode == 3,
          "GetQorInfo codes 70/4/3 (got %d/%d/%d)", (int)info.leadingCode, (int)info.middleCode,
          (int)info.trailingCode);
    Check(info.contextSize == (int32_t)sizeof(DriverContext), "contextSize %d is sizeof %u",
          (int)info.contextSize, (unsigned)sizeof(DriverContext));
    if (sizeof(void *) == 4) {
        Check(info.contextSize == 2088, "32-bit contextSize is 2088");
    }
    Check(info.defaultBaudRate == 19200 && info.defaultDataBits == 7 && info.defaultStopBits == 0 &&
              info.defaultParity == 2,
          "default line 19200 7 data bits, one stop bit, even parity");
    Check(info.driverName != NULL && strcmp(info.driverName, "Hitachi H series") == 0 &&
              strncmp(info.driverName + 17, "Hitachi H series PLC's, connected", 33) == 0,
          "name block: name, NUL, description");
    Check(info.banner != NULL && strlen(info.banner) == 180 &&
              (unsigned char)info.banner[0] == 0x08 && (unsigned char)info.banner[179] == 0xBC,
          "banner is 180 bytes from 0x08 to 0xBC");
}

static int32_t Parse(int32_t command, const char *text, int32_t gateType, int32_t blockSize,
                     GateAddress *gate) {
    ParseRequest parse;
    memset(&parse, 0, sizeof parse);
    parse.addressText = text;
    parse.gateType = gateType;
    parse.blockSize = blockSize;
    int32_t result = Call(command, &parse);
    if (gate != NULL) {
        *gate = parse.gateAddress;
    }
    return result;
}

static GateAddress SingleGate(const char *text, int32_t gateType) {
    GateAddress gate;
    int32_t result = Parse(QOR_SINGLE_ADDRESS_PARSER, text, gateType, 0, &gate);
    Check(result == 0, "single gate %s (type %d) accepted", text, (int)gateType);
    return gate;
}

static GateAddress BlockGate(const char *text, int32_t blockSize) {
    GateAddress gate;
    int32_t result = Parse(QOR_BLOCK_ADDRESS_PARSER, text, 0, blockSize, &gate);
    Check(result == 0, "block gate %s of %d accepted", text, (int)blockSize);
    return gate;
}

static void CheckParsing(void) {
    GateAddress gate;
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "awr00010", 0, 0, &gate) == 0 && gate.station == 'A' &&
              gate.memoryType == 10 && gate.address == 0x10 && gate.bit == -1 && gate.width == 16,
          "awr00010 parses as station A, WR, address 0x10, word");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "ABX00105", 6, 0, &gate) == 0 && gate.memoryType == 8 &&
              gate.address == 0x10 && gate.bit == 5 && gate.width == 16,
          "ABX00105 parses as bit 5 of WX 0x10");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "ALR00020", 4, 0, &gate) == 0 && gate.memoryType == 18 &&
              gate.address == 0x10 && gate.width == 32,
          "ALR00020 parses as double word 0x10");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "AWR0001", 0, 0, NULL) == 1, "7 characters refused");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "ZWR00010", 0, 0, NULL) == 1,
          "station Z (not in the INT file) refused");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "AWR00010", 6, 0, NULL) == 1,
          "word gate with the digital type refused");
    Check(Parse(QOR_SINGLE_ADDRESS_PARSER, "ALR00021", 4, 0, NULL) == 1,
          "odd double-word address refused");
    Check(Parse(QOR_BLOCK_ADDRESS_PARSER, "ABX00115", 0, 4, NULL) == 1,
          "block of bit-in-word gates refused");
    Check(Parse(QOR_BLOCK_ADDRESS_PARSER, "AWM00000", 0, 121, NULL) == 1,
          "word block of 121 refused");
}

static void ExchangeMustWork(int32_t result) {
    if (result != 0 && !lineDown) {
        lineDown = 1;
        printf("the controller did not serve an exchange: the remaining ones fail at once\n");
    }
}

static int32_t Io(int32_t command, GateAddress gate, int32_t gateType, int32_t count, void *data) {
    if (lineDown) {
        return -1;
    }
    IoRequest io;
    memset(&io, 0, sizeof io);
    io.gateAddress = gate;
    io.gateType = gateType;
    io.count = count;
    io.data = data;
    return Call(command, &io);
}

/* A single digital or word value travels in the second 16-bit unit of the
 * host's 32-bit cell; the first unit belongs to the host. */
static void CheckSingleValue(const char *text, int32_t gateType, uint16_t value) {
    GateAddress gate = SingleGate(text, gateType);
    uint16_t cell[2] = {0xBEEF, value};
    int32_t result = Io(QOR_SINGLE_WRITE, gate, gateType, 1, cell);
    ExchangeMustWork(result);
    Check(result == 0, "write %s = 0x%04X (result %d)", text, value, (int)result);
    cell[0] = 0xBEEF;
    cell[1] = (uint16_t)~value;
    result = Io(QOR_SINGLE_READ, gate, gateType, 1, cell);
    Check(result == 0 && cell[1] == value && cell[0] == 0xBEEF,
          "read %s back: 0x%04X (result %d, host unit 0x%04X)", text, cell[1], (int)result,
          cell[0]);
}

static void CheckDoubleWord(const char *text, uint32_t value) {
    GateAddress gate = SingleGate(text, 4);
    uint32_t cell = value;
    int32_t result = Io(QOR_SINGLE_WRITE, gate, 4, 1, &cell);
    ExchangeMustWork(result);
    Check(result == 0, "write %s = 0x%08lX (result %d)", text, (unsigned long)value, (int)result);
    cell = ~value;
    result = Io(QOR_SINGLE_READ, gate, 4, 1, &cell);
    Check(result == 0 && cell == value, "read %s back: 0x%08lX (result %d)", text,
          (unsigned long)cell, (int)result);
}

static void CheckWordBlock(const char *text) {
    enum { kCount = 8 };
    GateAddress gate = BlockGate(text, kCount);
    uint16_t values[kCount], back[kCount];
    for (int i = 0; i < kCount; ++i) {
        values[i] = (uint16_t)(0x1111 * (i + 1) + 0x0A0B);
        back[i] = 0;
    }
    int32_t result = Io(QOR_BLOCK_WRITE, gate, 0, kCount, values);
    ExchangeMustWork(result);
    Check(result == 0, "write block %s of %d words (result %d)", text, kCount, (int)result);
    result = Io(QOR_BLOCK_READ, gate, 0, kCount, back);
    Check(result == 0 && memcmp(values, back, sizeof values) == 0,
          "read block %s back (result %d, first 0x%04X last 0x%04X)", text, (int)result, back[0],
          back[kCount - 1]);
}

static void CheckDoubleWordBlock(const char *text) {
    enum { kCount = 3 };
    GateAddress gate = BlockGate(text, kCount);
    uint32_t values[kCount] = {0x12345678u, 0x00000001u, 0xFEDCBA98u};
    uint32_t back[kCount] = {0, 0, 0};
    int32_t result = Io(QOR_BLOCK_WRITE, gate, 4, kCount, values);
    ExchangeMustWork(result);
    Check(result == 0, "write block %s of %d double words (result %d)", text, kCount, (int)result);
    result = Io(QOR_BLOCK_READ, gate, 4, kCount, back);
    Check(result == 0 && memcmp(values, back, sizeof values) == 0,
          "read block %s back (result %d, 0x%08lX 0x%08lX 0x%08lX)", text, (int)result,
          (unsigned long)back[0], (unsigned long)back[1], (unsigned long)back[2]);
}

static void CheckBitBlock(const char *text) {
    /* Ten one-bit elements in two packed bytes; the six bits of the second
     * byte beyond the block are the controller's, so only ten are compared. */
    enum { kCount = 10 };
    GateAddress gate = BlockGate(text, kCount);
    uint8_t bits[2] = {0xA5, 0x02};
    uint8_t back[2] = {0x00, 0x00};
    int32_t result = Io(QOR_BLOCK_WRITE, gate, 6, kCount, bits);
    ExchangeMustWork(result);
    Check(result == 0, "write block %s of %d bits (result %d)", text, kCount, (int)result);
    result = Io(QOR_BLOCK_READ, gate, 6, kCount, back);
    Check(result == 0 && back[0] == bits[0] && (back[1] & 0x03) == (bits[1] & 0x03),
          "read block %s back (result %d, bytes 0x%02X 0x%02X)", text, (int)result, back[0],
          back[1]);
}

static int32_t ChangePort(const char *name, int32_t timeout) {
    ChangeParams change;
    memset(&change, 0, sizeof change);
    strncpy(change.portName, name, sizeof change.portName - 1);
    change.timeout = timeout;
    change.baudRate = 0; /* keep the line settings */
    return Call(QOR_CHANGE_PARAMS, &change);
}

static void CheckPortCommands(const char *port, const char *altPort) {
    /* A silent station on a short time-out: the read must give up within
     * bounded time, which shows the Win32 read time-out at work. Moving to
     * the second name of the same line (COM12 by default) goes through the
     * \\.\COMn form that Windows needs above COM9. */
    int32_t result = ChangePort(altPort, kShortTimeout);
    Check(result == 0 && context->portHandle != QOR_NO_PORT,
          "ChangeQorParams to %s with %d0 ms time-out (result %d)", altPort, kShortTimeout,
          (int)result);
    Check(strcmp(context->portSettings.portName, altPort) == 0, "context keeps the name %s",
          altPort);
    CheckLineConfiguration(kShortTimeout * 10);
    GateAddress silent = SingleGate("CWR00010", 0);
    uint16_t cell[2] = {0, 0x7777};
    DWORD started = GetTickCount();
    result = Io(QOR_SINGLE_READ, silent, 0, 1, cell);
    DWORD elapsed = GetTickCount() - started;
    /* 12 attempts of at least one read time-out each; generous upper bound. */
    Check(result != 0 && cell[1] == 0x7777, "read from a silent station fails (result %d)",
          (int)result);
    Check(elapsed >= 12 * kShortTimeout * 10 * 9 / 10 && elapsed < 20000,
          "silent station gave up after %lu ms (12 read time-outs of %d ms)",
          (unsigned long)elapsed, kShortTimeout * 10);

    result = ChangePort("COM99", kTimeout);
    Check(result == 2 && context->portHandle == QOR_NO_PORT,
          "ChangeQorParams to a missing COM99 gives 2 and no port (result %d)", (int)result);
    result = ChangePort(port, kTimeout);
    Check(result == 0 && context->portHandle != QOR_NO_PORT, "ChangeQorParams back to %s (%d)",
          port, (int)result);
    Check(context->timeout == kTimeout, "timeout is %d again", kTimeout);

    if (RunningUnderWine()) {
        printf("SKIP - exclusive open of %s: Wine does not enforce share mode 0 on serial "
               "ports; ReOpenCom on an open port is checked on Windows only\n",
               port);
    } else {
        uintptr_t open = context->portHandle;
        result = Call(QOR_REOPEN_COM, NULL);
        Check(result == 2 && context->portHandle == open,
              "ReOpenCom on the open port gives 2 and keeps it (result %d)", (int)result);
    }

    Check(Call(QOR_CLOSE_COM, NULL) == 0 && context->portHandle == QOR_NO_PORT,
          "CloseCom closes the port");
    Check(Call(QOR_CLOSE_COM, NULL) == 0, "second CloseCom also returns 0");
    result = Call(QOR_REOPEN_COM, NULL);
    Check(result == 0 && context->portHandle != QOR_NO_PORT, "ReOpenCom opens %s again (%d)", port,
          (int)result);
    CheckLineConfiguration(kTimeout * 10);
}

static void CheckEnd(void) {
    int32_t result = Call(QOR_END, NULL);
    Check(result == 0 && context->portHandle == QOR_NO_PORT, "EndQor returns 0, port closed");
    DriverInfo info, untouched;
    memset(&info, 0x5A, sizeof info);
    untouched = info;
    Check(Call(QOR_GET_INFO, &info) == 0 && memcmp(&info, &untouched, sizeof info) == 0,
          "after EndQor GetQorInfo returns 0 and writes nothing");
    Check(Call(99, NULL) == 0, "after EndQor command 99 returns 0");
}

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "COM7";
    const char *altPort = argc > 2 ? argv[2] : "COM12";
    setvbuf(stdout, NULL, _IONBF, 0);
    /* The whole run takes seconds; a minute and a half means it hangs. */
    HANDLE watchdog = CreateThread(NULL, 0, Watchdog, (LPVOID)(uintptr_t)90000, 0, NULL);
    if (watchdog != NULL) {
        CloseHandle(watchdog);
    }

    HMODULE driver = LoadLibraryA("QORHT.DLL");
    if (driver == NULL) {
        printf("FAIL - LoadLibrary(QORHT.DLL), error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    qorMain = (QorMainFunction)(void (*)(void))GetProcAddress(driver, "QorMain");
    Check(qorMain != NULL, "QorMain found by its plain name");
    Check(GetProcAddress(driver, "_QorMain") == NULL && GetProcAddress(driver, "QorMain@4") == NULL,
          "no decorated QorMain export");
    if (qorMain == NULL) {
        return 1;
    }

    CheckInfo();
    {
        DriverRequest request;
        memset(&request, 0, sizeof request);
        request.command = 8;
        Check(qorMain(&request) == 2, "command 8 has no handler");
        request.command = 17;
        Check(qorMain(&request) == 2, "command 17 is out of range");
    }

    Check(WriteIntFile(), "INT file QORHT07.INT written");
    /* The host hands over uninitialised memory of contextSize bytes. */
    context = (DriverContext *)malloc(sizeof(DriverContext));
    if (context == NULL) {
        return 1;
    }
    memset(context, 0xCD, sizeof *context);

    ColdStartParams start;
    memset(&start, 0, sizeof start);
    strncpy(start.portName, port, sizeof start.portName - 1);
    start.openPort = 1;
    start.timeout = kTimeout;
    start.baudRate = 19200;
    start.dataBits = 7;
    start.stopBits = 0;
    start.parity = 2;
    int32_t result = Call(QOR_COLD_START, &start);
    Check(result == 0, "ColdStart on %s returns 0 (got %d)", port, (int)result);
    if (result != 0) {
        printf("%d of %d checks failed\n", failures, checks);
        return 1;
    }
    Check(context->portHandle != QOR_NO_PORT, "port handle stored");
    Check(context->startMark == 787 && context->timeout == kTimeout, "startMark and timeout");
    Check(context->interFrameGap == 2 && context->occupationEnabled == 1,
          "IFG 2 and occupation from the INT file");
    Check(context->stations['A'].loop == 1 && context->stations['A'].unit == 2 &&
              context->stations['A'].office == 0xFF,
          "station A: loop 01 unit 02, no office");
    Check(context->stations['B'].loop == 1 && context->stations['B'].unit == 3 &&
              context->stations['B'].office == 4,
          "station B: loop 01 unit 03 office 04");

    CheckLineConfiguration(kTimeout * 10);
    CheckParsing();

    CheckSingleValue("AWR00010", 0, 0x1234);  /* word */
    CheckSingleValue("ABR00010", 6, 1);       /* one-bit */
    CheckSingleValue("ABR00010", 6, 0);       /* ... and back */
    CheckSingleValue("ABX00105", 6, 1);       /* bit in a word */
    CheckDoubleWord("ALR00020", 0x12345678u); /* double word */
    CheckWordBlock("AWM00000");               /* word block */
    CheckDoubleWordBlock("ALR00040");         /* double-word block */
    CheckBitBlock("ABR00100");                /* bit block */
    CheckSingleValue("BWR00020", 0, 0xA5C3);  /* station with an office */
    Check(context->stations['A'].occupied == 1 && context->stations['B'].occupied == 1,
          "stations A and B occupied by their first exchange");

    WarmStartParams warm;
    warm.station = 'A';
    result = lineDown ? -1 : Call(QOR_WARM_START, &warm);
    Check(result == 0 && context->stations['A'].occupied == 1, "WarmStart A (result %d)",
          (int)result);
    CheckSingleValue("AWR00010", 1, 0x4321);

    CheckPortCommands(port, altPort);
    CheckSingleValue("BWR00020", 2, 0x0F0F);

    CheckEnd();
    free(context);
    FreeLibrary(driver);

    printf("%d of %d checks failed\n", failures, checks);
    return failures == 0 ? 0 : 1;
}
