#pragma once
// What the handler called, recorded by stand-ins for the recorder and the
// broadcast signals.

#include <string>
#include <vector>

#include "platform/buffers/CMSampleBuffer.h"

struct RecordedCall {
    std::string operation;           // e.g. "startBroadcast", "post:com.sorvane.recordBroadcastStart"
    CMSampleBufferRef buffer = nullptr;
};

std::vector<RecordedCall>& recordedCalls();
