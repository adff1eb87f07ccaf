#pragma once
// The peak level of one delivered audio buffer, in dBFS, for the progress
// line (worked out only when the line is redrawn, never per buffer).

#include "platform/buffers/CMSampleBuffer.h"

namespace host {

// -infinity for silence and for buffers whose format cannot be read.
double peakDbfs(CMSampleBufferRef buffer);

}  // namespace host
