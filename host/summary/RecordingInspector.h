#pragma once
// Looks at what a broadcast handed over: the recording it placed, read back
// through the platform's WAVE reader from the descriptor the hand-over kept
// (never by the shared name, where another broadcast may have put its own
// file meanwhile), with its format, length, peak and RMS level.

#include <string>

#include "platform/files/HandOverRecord.h"
#include "toolkit/RecordingJson.h"

namespace media::wave {
class WaveFileReader;
}

namespace host {

// The recording at `path` as the programs' shared JSON shape describes it:
// whether it is complete and, when it is, its format, length and levels
// (peak and RMS in dBFS, none for digital silence).
toolkit::RecordingSummary inspectRecording(const std::string& path);

// The same for the file a hand-over placed. A recording whose writer stopped
// early (a full disk, a file-size limit) is incomplete with the reason, its
// format and levels given. A failed hand-over, or none (`handOver` null), is
// missing, saying whether the shared recording was removed or left as it was.
toolkit::RecordingSummary inspectHandOver(const platform::files::HandOver* handOver, bool sharedRecordingRemoved);

}  // namespace host
