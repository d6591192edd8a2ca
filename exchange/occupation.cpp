// Station occupation on the host's request (WarmStart) and its release at the
// end of service (EndQor). Both run their tasks as read transactions of their
// own IoRequest, which they hang into the host's request for the duration of
// the call; the host's params pointer is given back on every exit.
#include "exchange/occupation.h"

#include "exchange/transactions.h"
#include "host/driver.h"
#include "link/port_commands.h"
#include "platform/host_log.h"

namespace qor {
namespace {

// Points request->params at a task request while alive, and puts the host's
// pointer back however the scope is left.
class TaskParams {
public:
    TaskParams(DriverRequest *request, IoRequest *task)
        : request_(request), saved_(request->params) {
        request_->params = task;
    }
    ~TaskParams() { request_->params = saved_; }
    TaskParams(const TaskParams &) = delete;
    TaskParams &operator=(const TaskParams &) = delete;

private:
    DriverRequest *request_;
    void *saved_;
};

IoRequest TaskRequest(int32_t station, int32_t task) {
    IoRequest io{};
    io.gateAddress.station = station;
    io.gateAddress.memoryType = task;
    return io;
}

} // namespace

int32_t WarmStart(DriverRequest *request) {
    if (request == nullptr || request->context == nullptr || request->params == nullptr) {
        err(kLogProgress, "QOR%s> WarmStart() no context or parameters", kDriverId);
        return 2;
    }
    const int32_t station = static_cast<const WarmStartParams *>(request->params)->station;
    if (station < 0 || station >= QOR_STATION_COUNT) {
        err(kLogProgress, "QOR%s> WarmStart() station %d out of range", kDriverId, station);
        return 2;
    }
    DriverContext *context = request->context;
    StationEntry &entry = context->stations[station];
    IoRequest task = TaskRequest(station, QOR_FORCED_RELEASE);
    int32_t released = 0;
    int32_t occupiedForRead = 0;
    {
        TaskParams swap(request, &task);
        // Set before the tasks run, so that their transactions skip the
        // preamble: an occupied station is occupied anew all the same.
        entry.occupied = 1;
        released = DoRead(request, QOR_SINGLE_READ);
        if (released == 0 && context->occupationEnabled != 0) {
            task.gateAddress.memoryType = QOR_READ_OCCUPATION;
            occupiedForRead = DoRead(request, QOR_SINGLE_READ);
        }
    }
    if (released != 0) {
        err(kLogProgress, "QOR%s> WarmStart() station '%c', FORCED RELEASE failed", kDriverId,
            station);
        entry.occupied = 0;
        return released;
    }
    if (occupiedForRead != 0) {
        err(kLogProgress, "QOR%s> WarmStart() station '%c', READ OCCUPATE failed", kDriverId,
            station);
        entry.occupied = 0;
        return occupiedForRead;
    }
    err(kLogProgress, "QOR%s> WarmStart() station '%c', OK", kDriverId, station);
    return 0;
}

int32_t EndQor(DriverRequest *request) {
    // Ended before anything is sent: from here on QorMain serves nothing,
    // for every instance of this library.
    driverEnded.store(1, std::memory_order_relaxed);
    // params is not read here (the host hands over nothing for this command),
    // so only a missing context is refused.
    if (request == nullptr || request->context == nullptr) {
        err(kLogProgress, "QOR%s> EndQor() no context", kDriverId);
        return 2;
    }
    DriverContext *context = request->context;
    {
        IoRequest task = TaskRequest(0, QOR_RELEASE_OCCUPATION);
        TaskParams swap(request, &task);
        if (context->occupationEnabled != 0) {
            for (int32_t station = 0; station < QOR_STATION_COUNT; ++station) {
                if (context->stations[station].occupied != 1) {
                    continue;
                }
                task.gateAddress.station = station;
                if (DoRead(request, QOR_SINGLE_READ) != 0) {
                    err(kLogProgress,
                        "QOR%s> EndQor() release of read occupation failed for station '%c'",
                        kDriverId, station);
                }
            }
        }
    }
    int32_t result = CloseCom(request);
    err(kLogProgress, "QOR%s> EndQor() exited, %d", kDriverId, result);
    return result;
}

} // namespace qor
