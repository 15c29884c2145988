// The buffer bookkeeping every wave device shares, so that each device is
// left with moving sound: which headers may be prepared, queued or
// unprepared (the rules of wave_device.h), the queue of borrowed headers in
// the caller's order, and how a finished header goes back.
//
// A capture queue hands finished buffers to the caller's callback through a
// mailbox that outlives the device for as long as a completion is on its
// way, so a callback may close or destroy the device. Completions are posted
// to the event loop of the thread that opened the device; a device that is
// itself called from that event loop may hold them and hand them back at
// once; the test double hands them back only when the test says so.
//
// A playback queue hands the caller's blocks to the sound device in whole
// frames and marks each done once the device has taken all of it.
#pragma once

#include "platform/wave_device.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

class QObject;

namespace velnar {

class CaptureQueue {
public:
    enum class Dispatch {
        Posted,  // each completion is posted to the event loop
        Manual,  // completions wait for DispatchNow
    };

    explicit CaptureQueue(Dispatch dispatch = Dispatch::Posted);
    ~CaptureQueue();
    CaptureQueue(const CaptureQueue&) = delete;
    CaptureQueue& operator=(const CaptureQueue&) = delete;

    // Opens the mailbox for `onDone`; on an open queue only the callback
    // changes.
    void Open(WaveIn::DoneFn onDone);
    bool IsOpen() const { return m_mailbox != nullptr; }

    // The interface's calls on headers: WaveErrNotOpen while closed, else
    // the header rules.
    int Prepare(WaveHeader* header) const;
    int Unprepare(WaveHeader* header) const;
    int Add(WaveHeader* header);

    bool IsEmpty() const { return m_queue.empty(); }
    size_t Count() const { return m_queue.size(); }
    // The buffer being filled; null when none is queued.
    WaveHeader* Head() const { return m_queue.empty() ? nullptr : m_queue.front(); }

    // Fills the oldest buffers in order with whole frames, completing each
    // once it has no room for another frame; what no buffer has room for is
    // dropped.
    void Deliver(std::span<const uint8_t> bytes);
    // Finishes the oldest buffer as it stands and sends it back.
    void CompleteHead();
    // Sends back the buffer being filled if it holds anything.
    void Stop();
    // Sends back every queued buffer, oldest first.
    void Reset();
    // Lets go of every queued buffer without calling back and cancels the
    // completions on their way; the queue is closed.
    void Close();

    // Completions from here on wait in the mailbox until DispatchNow.
    void HoldCompletions() { m_holding = true; }
    // Ends a hold and hands every waiting completion to the callback,
    // oldest first, including those the callbacks themselves cause. The
    // callback may destroy the device: nothing of the queue may be used
    // after this returns. Returns how many went back.
    size_t DispatchNow();
    // Completions sent back but not yet handed to the callback.
    size_t WaitingCount() const;
    void SetDispatch(Dispatch dispatch);

private:
    struct Mailbox;

    void Send(WaveHeader* header);
    void Schedule();

    Dispatch m_dispatch;
    bool m_holding = false;
    std::deque<WaveHeader*> m_queue;
    std::shared_ptr<Mailbox> m_mailbox;  // null while closed
    // The event loop's target for posted completions; they die with it.
    std::unique_ptr<QObject> m_context;
};

class BlockQueue {
public:
    void Open() { m_open = true; }
    bool IsOpen() const { return m_open; }
    // Marks every block done and closes the queue.
    void Close();

    // As CaptureQueue's.
    int Prepare(WaveHeader* header) const;
    int Unprepare(WaveHeader* header) const;
    int Add(WaveHeader* header);

    bool IsEmpty() const { return m_blocks.empty(); }
    size_t Count() const { return m_blocks.size(); }

    // Copies the whole frames not yet handed over, oldest first, into
    // `staging` as far as it holds them; returns the bytes copied.
    size_t Gather(std::span<uint8_t> staging) const;
    // Books what the device took against the oldest blocks; a block is done
    // once all its whole frames are handed over.
    void TakeHanded(size_t handedBytes);
    // Marks up to `count` of the oldest blocks done; returns how many.
    size_t FinishOldest(size_t count);
    void MarkAllDone();

private:
    struct Block {
        WaveHeader* header;
        uint32_t handedBytes;  // already given to the device
    };

    static size_t LeftBytes(const Block& block);

    bool m_open = false;
    std::deque<Block> m_blocks;
};

}  // namespace velnar
