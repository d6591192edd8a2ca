// The ports this library holds open, recorded as (context address, handle).
//
// A context's contents are undefined before its first ColdStart, so a
// portHandle on its own proves nothing: a port is closed only when this
// table says this library opened it for that very context.
#include "link/port_registry.h"

#include <atomic>
#include <cstring>

namespace qor {
namespace {

// Guards the table. A spin lock on an atomic flag rather than std::mutex:
// the same code goes into the Windows build, whose MinGW runtime (win32
// thread model) has no std::mutex. Every critical section is a scan of the
// table without any system call, so a waiter spins only for moments.
class TableLock {
public:
    TableLock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~TableLock() { flag_.clear(std::memory_order_release); }
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;

private:
    static std::atomic_flag flag_;
};
std::atomic_flag TableLock::flag_ = ATOMIC_FLAG_INIT;

struct Entry {
    const DriverContext *context;
    platform::PortHandle port; // 0: free
};

// Far more ports than a host runs instances. A port opened while the table is
// full stays usable but unrecorded; it is then never closed by this library,
// which is the safe side of not knowing whose handle it is.
constexpr size_t kMaxOpenPorts = 256;
Entry entries[kMaxOpenPorts];

void Record(const DriverContext *context, platform::PortHandle port) {
    TableLock lock;
    Entry *free = nullptr;
    for (Entry &entry : entries) {
        // A handle value is unique among open ports; an entry with the same
        // value can only be this port, recorded again.
        if (entry.port == port) {
            entry.context = context;
            return;
        }
        if (entry.port == 0 && free == nullptr) {
            free = &entry;
        }
    }
    if (free != nullptr) {
        *free = {context, port};
    }
}

// Removes the entry (context, port) if there is one; true when it was there.
bool Unrecord(const DriverContext *context, platform::PortHandle port) {
    if (port == 0) {
        return false;
    }
    TableLock lock;
    for (Entry &entry : entries) {
        if (entry.port == port && entry.context == context) {
            entry = {nullptr, 0};
            return true;
        }
    }
    return false;
}

} // namespace

void SetPort(DriverContext *context, platform::PortHandle port) {
    context->portHandle = port;
    if (port != 0) {
        Record(context, port);
    }
}

void CloseRegisteredPort(DriverContext *context) {
    platform::PortHandle port = context->portHandle;
    // The entry is taken out before the close, so that of two racing closes
    // only one reaches ClosePort.
    if (Unrecord(context, port)) {
        platform::ClosePort(port);
        context->portHandle = QOR_NO_PORT;
    }
}

void TerminatedPortName(const PortSettings &settings, char (&name)[QOR_PORT_NAME_SIZE + 1]) {
    std::memcpy(name, settings.portName, QOR_PORT_NAME_SIZE);
    name[QOR_PORT_NAME_SIZE] = '\0';
}

} // namespace qor
