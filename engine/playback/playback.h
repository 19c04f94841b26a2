#pragma once
// Preview playback through the sound card: the job's output PCM format, the device, the
// double buffer with its queue of headers, and the clock of what is being heard.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/job/stream_info.h"
#include "platform/audio/wave_out.h"

namespace tralux {

// Sets SourceRate/SourceChannels and fills `format` (16-bit PCM at OutputRate/OutputChannels).
// With openDevice, opens the last device, falling back to the default one: JobError(109)
// without any device, JobError(0) after the device error text when both refuse the format.
bool PrepareOutputFormat(bool openDevice, const StreamInfo& info, audio::WaveFormat& format);
// The job's call: opens the device in preview mode.
void PrepareOutputFormat(const StreamInfo& info);
// The format of the current job (set by PrepareOutputFormat).
audio::WaveFormat CurrentOutputFormat();

// Job start: nothing filled, no device, the clock not started.
void ResetPlayback();
// Appends output PCM; queues the buffer once a quarter second has collected. Returns 0 while
// filling (and at once when a stop is requested), else byteCount. JobError(110) when the
// device refuses a buffer, JobError(111) when it stops playing.
std::size_t QueuePlayback(const std::uint8_t* samples, std::size_t byteCount);
// drain: plays the last partial buffer and waits (bounded) until everything was heard, then
// closes. Otherwise (stop): returns at once; the queued buffers play out and the device closes
// in the background. Safe when closed.
void ClosePlayback(bool drain);
// Waits until a device closing in the background is closed.
void WaitForPlaybackClosed();
// Silences a device that is still playing out after a stop.
void DiscardPlayback();

// Buffers queued and not yet heard.
int QueuedBufferCount();
// Bytes that make a buffer worth queueing: OutputRate x OutputChannels / 2.
std::size_t QueueThreshold();

// The tick that ClockOriginMs refers to: heard position = PlaybackTickMs() - ClockOriginMs.
std::uint32_t PlaybackTickMs();
// The position being heard now, in ms into the input (re-measured at the device).
double PlayingPositionMs();

// The text for a wave-out result code, and the box that shows it.
std::string DeviceErrorText(int code);
void ShowDeviceError(int code);

// Tests replace the system's devices; nullptr restores ALSA.
void SetWaveOutForTesting(audio::WaveOut* waveOut);
// How long the producer and the close wait for a silent device before giving up (ms; 0 = default).
void SetPlaybackStallLimitForTesting(std::uint32_t ms);

}  // namespace tralux
