#pragma once
// The recorder: builds a WAVE writer from the first app-audio buffer of a
// broadcast, appends every app-audio buffer, and at the end completes the
// file, hands it to the containing app and posts the end signal. It is never
// instantiated; its state is the two process-wide references below.

#include <memory>

#include "platform/buffers/CMSampleBuffer.h"
#include "platform/media/AVAssetWriter.h"
#include "platform/media/AVAssetWriterInput.h"

class BManager final {
public:
    BManager() = delete;

    // Drops the current writer and input, unfinished if still writing.
    static void startBroadcast();
    // Finishes the file, replaces the shared recording with it, posts the end signal.
    static void endBroadcast();
    // Builds the writer and its input from `buffer`'s format and starts writing.
    static void creaw(CMSampleBufferRef buffer);
    // Sets up when no input exists, then appends `buffer`.
    static void pushAudioSampleBuffer(CMSampleBufferRef buffer);
    // Ends a broadcast that finished with an error: keeps what was recorded
    // by handing it over exactly as endBroadcast does.
    static void endBroadcastError();
};

// The current media writer and its audio input; none at process start.
extern std::shared_ptr<AVAssetWriter> writer;
extern std::shared_ptr<AVAssetWriterInput> writerInput;
