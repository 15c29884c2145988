// Waveform capture and playback devices: the small interface the phone
// engine's audio path relies on, with an ALSA implementation
// (alsa_wave_device.*), one on the sound server's own streams
// (pulse_wave_device.*) and an in-memory double for tests (fake_wave_device.*).
//
// The format is fixed: PCM, 8000 samples per second, 16-bit, mono
// (16000 bytes per second). Buffers are described by WaveHeader records that
// the caller owns; a device only borrows a header between AddBuffer/Write and
// the moment it sets WaveDone on it.
//
// Every call returns 0 on success and a non-zero WaveError on failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velnar {

enum WaveHeaderFlag : uint32_t {
    WaveDone = 0x01,      // the device has finished with the buffer
    WavePrepared = 0x02,  // Prepare succeeded, Unprepare not yet called
    WaveInQueue = 0x10,   // queued in the device
};

enum WaveError : int {
    WaveOk = 0,
    WaveErrNoDevice = 1,      // the device could not be opened
    WaveErrNotOpen = 2,       // the device is not open
    WaveErrUnprepared = 3,    // the header was not prepared
    WaveErrStillPlaying = 4,  // unprepare of a header the device still holds
    WaveErrInvalid = 5,       // a null header, a null data pointer or a zero length
    WaveErrDevice = 6,        // the device failed (vanished, I/O error)
};

struct WaveHeader {
    uint8_t* data = nullptr;     // the caller's buffer
    uint32_t bufferLength = 0;   // bytes in data
    uint32_t bytesRecorded = 0;  // capture: bytes filled by the device
    uintptr_t user = 0;          // free for the caller
    uint32_t flags = 0;          // WaveHeaderFlag bits
};

// Capture. Filled buffers come back one by one through the callback given to
// Open, always from the event loop of the thread that opened the device and
// never from inside a call of this interface (what completes in one is
// posted), in the order in which they were added.
class WaveIn {
public:
    using DoneFn = std::function<void(WaveHeader*)>;
    virtual ~WaveIn() = default;

    virtual int Open(DoneFn onDone) = 0;
    // The device to record from at the next Open (device_catalog.h gives
    // the identifiers); empty for the backend's default. Devices with
    // nothing to choose from ignore it.
    virtual void SelectDevice(const std::string& id) { (void)id; }
    // Why the last Open failed, as "<device>: <reason>"; empty when the
    // device cannot tell.
    virtual std::string OpenFailure() const { return {}; }
    virtual int Prepare(WaveHeader* header) = 0;
    virtual int Unprepare(WaveHeader* header) = 0;
    virtual int AddBuffer(WaveHeader* header) = 0;
    virtual int Start() = 0;
    // Stops recording; the buffer being filled is returned with what it
    // holds (one that holds nothing yet stays queued).
    virtual int Stop() = 0;
    // Stops and returns every queued buffer (WaveDone set, bytesRecorded as
    // far as it was filled) through the callback.
    virtual int Reset() = 0;
    // Lets go of any buffer still queued (WaveDone set, not called back).
    // From here on the callback is never called, not even for buffers whose
    // completion was already posted, so the caller may free its buffers.
    virtual int Close() = 0;
};

// Playback. Written blocks play in order; the device sets WaveDone on a block
// once it has been played (or dropped by Reset or Close). Nothing is posted:
// the caller polls the flags. "Played" means taken by the sound device, which
// may still hold a few tens of milliseconds of it; while paused the device
// takes nothing, so every block written meanwhile stays pending until Restart.
class WaveOut {
public:
    virtual ~WaveOut() = default;

    virtual int Open() = 0;
    // The device to play to at the next Open; empty for the default.
    virtual void SelectDevice(const std::string& id) { (void)id; }
    // Why the last Open failed, as "<device>: <reason>"; empty when the
    // device cannot tell.
    virtual std::string OpenFailure() const { return {}; }
    virtual int Prepare(WaveHeader* header) = 0;
    virtual int Unprepare(WaveHeader* header) = 0;
    virtual int Write(WaveHeader* header) = 0;
    virtual int Pause() = 0;
    virtual int Restart() = 0;
    // Whether sound of blocks already marked played is still to be heard: a
    // device that takes sound ahead (a sound server) plays it out after the
    // last block was marked. False for a device that cannot tell.
    virtual bool IsPlayingOut() const { return false; }
    // Stops playback and marks every written block done; a paused device
    // stays paused.
    virtual int Reset() = 0;
    virtual int Close() = 0;
};

}  // namespace velnar
