// A host as the SCADA runtime is one: it loads the driver, asks GetQorInfo
// for the context size, allocates the context and speaks to the driver only
// through QorMain and the records of host/records.h.
#pragma once

#include "host/records.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace integration {

class DriverHost {
public:
    DriverHost() {
        DriverInfo info{};
        Call(QOR_GET_INFO, &info);
        const size_t size = info.contextSize > 0 ? static_cast<size_t>(info.contextSize) : 0;
        storage_.assign((size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t), {});
        contextSize_ = size;
    }
    ~DriverHost() { Call(QOR_CLOSE_COM, nullptr); }
    DriverHost(const DriverHost &) = delete;
    DriverHost &operator=(const DriverHost &) = delete;

    size_t contextSize() const { return contextSize_; }
    DriverContext *context() { return reinterpret_cast<DriverContext *>(storage_.data()); }

    int32_t Call(int32_t command, void *params) {
        DriverRequest request{};
        request.context = storage_.empty() ? nullptr : context();
        request.command = command;
        request.instance = 0;
        request.params = params;
        return QorMain(&request);
    }

    int32_t ColdStart(const std::string &port, int32_t timeout, uint16_t baud = 19200) {
        ColdStartParams params{};
        std::strncpy(params.portName, port.c_str(), sizeof params.portName - 1);
        params.openPort = 1;
        params.timeout = timeout;
        params.baudRate = baud;
        params.dataBits = 7;
        params.stopBits = 0;
        params.parity = 2;
        return Call(QOR_COLD_START, &params);
    }

    // A parsed gate as the host keeps it.
    struct Gate {
        GateAddress address{};
        int32_t gateType = 0;
        int32_t count = 1;
    };

    // Single gate (count 1) or block; false when the driver refuses it.
    bool Parse(const std::string &text, int32_t gateType, int32_t blockSize, Gate &gate) {
        ParseRequest request{};
        request.addressText = text.c_str();
        request.gateType = gateType;
        request.blockSize = blockSize;
        const int32_t command =
            blockSize == 0 ? QOR_SINGLE_ADDRESS_PARSER : QOR_BLOCK_ADDRESS_PARSER;
        if (Call(command, &request) != 0) {
            return false;
        }
        gate.address = request.gateAddress;
        gate.gateType = gateType;
        gate.count = blockSize == 0 ? 1 : blockSize;
        return true;
    }

    int32_t Io(int32_t command, const Gate &gate, void *data) {
        IoRequest request{};
        request.gateAddress = gate.address;
        request.gateType = gate.gateType;
        request.count = gate.count;
        request.data = data;
        return Call(command, &request);
    }

    int32_t WarmStart(int32_t station) {
        WarmStartParams params{station};
        return Call(QOR_WARM_START, &params);
    }

private:
    std::vector<std::max_align_t> storage_;
    size_t contextSize_ = 0;
};

} // namespace integration
