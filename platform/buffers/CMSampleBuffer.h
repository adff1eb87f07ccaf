#pragma once
// Sample buffers as the host delivers them. A buffer has a format description
// (audio buffers carry an audio stream description, video buffers none), its
// audio data (one buffer when interleaved, one per channel when not), a frame
// count and a presentation time. Buffers belong to the host: the data they
// point at is the host's and must outlive every call that receives them.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "AudioStreamBasicDescription.h"
#include "CMTime.h"

using CMItemCount = int64_t;

enum class CMMediaType : uint32_t {
    Audio = 0x736F756E,  // 'soun'
    Video = 0x76696465,  // 'vide'
};

struct CMFormatDescription {
    CMMediaType mediaType = CMMediaType::Audio;
    std::optional<AudioStreamBasicDescription> streamDescription;  // audio only
};

// One block of audio bytes, not owned.
struct AudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    const void* mData = nullptr;
};

struct CMSampleBuffer {
    std::optional<CMFormatDescription> formatDescription;
    std::vector<AudioBuffer> audioBuffers;  // empty for video
    CMItemCount numSamples = 0;             // frames
    CMTime presentationTimeStamp = kCMTimeInvalid;
};

using CMSampleBufferRef = const CMSampleBuffer*;
using CMFormatDescriptionRef = const CMFormatDescription*;

// The buffer's format description, or none for a null buffer or one without.
CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef buffer);
// The audio stream description of an audio format, or none.
const AudioStreamBasicDescription* CMAudioFormatDescriptionGetStreamBasicDescription(
    CMFormatDescriptionRef description);
// Frame count; 0 for a null buffer.
CMItemCount CMSampleBufferGetNumSamples(CMSampleBufferRef buffer);
CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef buffer);
// The audio blocks; empty for a null buffer.
std::span<const AudioBuffer> CMSampleBufferGetAudioBuffers(CMSampleBufferRef buffer);
