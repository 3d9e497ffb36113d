#pragma once

#include "core/log/Logger.h"

namespace ostrel::core {

// Where records go. The logger calls write with its mutex held, so writes never overlap
// and a sink needs no lock of its own; write must not call back into the logger.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

}  // namespace ostrel::core
