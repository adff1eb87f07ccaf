#include "CMSampleBuffer.h"

AudioStreamBasicDescription makeLinearPCMDescription(double sampleRate, uint32_t channels, uint32_t bitsPerChannel,
                                                     AudioFormatFlags flags) {
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags | kAudioFormatFlagIsPacked;
    const uint32_t bytesPerSample = (bitsPerChannel + 7) / 8;
    const bool nonInterleaved = (flags & kAudioFormatFlagIsNonInterleaved) != 0;
    d.mBytesPerFrame = nonInterleaved ? bytesPerSample : bytesPerSample * channels;
    d.mBytesPerPacket = d.mBytesPerFrame;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bitsPerChannel;
    return d;
}

CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef buffer) {
    if (buffer == nullptr || !buffer->formatDescription) return nullptr;
    return &*buffer->formatDescription;
}

const AudioStreamBasicDescription* CMAudioFormatDescriptionGetStreamBasicDescription(
    CMFormatDescriptionRef description) {
    if (description == nullptr || description->mediaType != CMMediaType::Audio || !description->streamDescription)
        return nullptr;
    return &*description->streamDescription;
}

CMItemCount CMSampleBufferGetNumSamples(CMSampleBufferRef buffer) { return buffer == nullptr ? 0 : buffer->numSamples; }

CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef buffer) {
    return buffer == nullptr ? kCMTimeInvalid : buffer->presentationTimeStamp;
}

std::span<const AudioBuffer> CMSampleBufferGetAudioBuffers(CMSampleBufferRef buffer) {
    if (buffer == nullptr) return {};
    return buffer->audioBuffers;
}
