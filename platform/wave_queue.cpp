#include "platform/wave_queue.h"

#include "platform/wave_format.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstring>

namespace velnar {

namespace {

bool DescribesBuffer(const WaveHeader* header)
{
    return header && header->data && header->bufferLength > 0;
}

int PrepareHeader(WaveHeader* header)
{
    if (!DescribesBuffer(header))
        return WaveErrInvalid;
    header->flags |= WavePrepared;
    return WaveOk;
}

int UnprepareHeader(WaveHeader* header)
{
    if (!header)
        return WaveErrInvalid;
    if (header->flags & WaveInQueue)
        return WaveErrStillPlaying;
    header->flags &= ~uint32_t{WavePrepared};
    return WaveOk;
}

int QueueHeader(WaveHeader* header)
{
    if (!header)
        return WaveErrInvalid;
    if (!(header->flags & WavePrepared))
        return WaveErrUnprepared;
    if (header->flags & WaveInQueue)
        return WaveErrStillPlaying;
    // The caller may have changed the buffer since preparing it.
    if (!DescribesBuffer(header))
        return WaveErrInvalid;
    header->flags &= ~uint32_t{WaveDone};
    header->flags |= WaveInQueue;
    header->bytesRecorded = 0;
    return WaveOk;
}

void FinishHeader(WaveHeader* header)
{
    header->flags &= ~uint32_t{WaveInQueue};
    header->flags |= WaveDone;
}

}  // namespace

// ----------------------------------------------------------------- capture

// What a completion on its way needs; it keeps the mailbox alive after the
// device is gone.
struct CaptureQueue::Mailbox {
    WaveIn::DoneFn onDone;
    std::deque<WaveHeader*> waiting;
    bool open = true;

    // Touches nothing but the mailbox: a callback may close or destroy the
    // device, or open it again (with a mailbox of its own).
    static size_t Drain(const std::shared_ptr<Mailbox>& mailbox)
    {
        size_t count = 0;
        while (mailbox->open && !mailbox->waiting.empty()) {
            WaveHeader* header = mailbox->waiting.front();
            mailbox->waiting.pop_front();
            ++count;
            // A copy: the callback may replace the one it runs in.
            if (WaveIn::DoneFn onDone = mailbox->onDone)
                onDone(header);
        }
        return count;
    }
};

CaptureQueue::CaptureQueue(Dispatch dispatch) : m_dispatch(dispatch) {}

CaptureQueue::~CaptureQueue()
{
    // A callback that destroys the device ends the delivery in progress.
    if (m_mailbox)
        m_mailbox->open = false;
}

void CaptureQueue::Open(WaveIn::DoneFn onDone)
{
    if (!m_mailbox)
        m_mailbox = std::make_shared<Mailbox>();
    m_mailbox->onDone = std::move(onDone);
    // Posted completions go to the event loop of the thread that opens.
    if (!m_context)
        m_context = std::make_unique<QObject>();
}

int CaptureQueue::Prepare(WaveHeader* header) const
{
    return IsOpen() ? PrepareHeader(header) : WaveErrNotOpen;
}

int CaptureQueue::Unprepare(WaveHeader* header) const
{
    return IsOpen() ? UnprepareHeader(header) : WaveErrNotOpen;
}

int CaptureQueue::Add(WaveHeader* header)
{
    if (!IsOpen())
        return WaveErrNotOpen;
    const int rc = QueueHeader(header);
    if (rc == WaveOk)
        m_queue.push_back(header);
    return rc;
}

void CaptureQueue::Deliver(std::span<const uint8_t> bytes)
{
    while (!bytes.empty() && !m_queue.empty()) {
        WaveHeader* header = m_queue.front();
        const size_t roomBytes = WholeFrameBytes(header->bufferLength - header->bytesRecorded);
        const size_t takenBytes = std::min(roomBytes, bytes.size());
        std::memcpy(header->data + header->bytesRecorded, bytes.data(), takenBytes);
        header->bytesRecorded += static_cast<uint32_t>(takenBytes);
        bytes = bytes.subspan(takenBytes);
        if (header->bufferLength - header->bytesRecorded < kWaveBytesPerFrame)
            CompleteHead();
    }
}

void CaptureQueue::CompleteHead()
{
    WaveHeader* header = m_queue.front();
    m_queue.pop_front();
    Send(header);
}

void CaptureQueue::Stop()
{
    if (!m_queue.empty() && m_queue.front()->bytesRecorded > 0)
        CompleteHead();
}

void CaptureQueue::Reset()
{
    while (!m_queue.empty())
        CompleteHead();
}

void CaptureQueue::Close()
{
    for (WaveHeader* header : m_queue)
        FinishHeader(header);
    m_queue.clear();
    m_holding = false;
    if (!m_mailbox)
        return;
    m_mailbox->open = false;
    m_mailbox->waiting.clear();
    m_mailbox.reset();
}

size_t CaptureQueue::DispatchNow()
{
    m_holding = false;
    if (!m_mailbox)
        return 0;
    const std::shared_ptr<Mailbox> mailbox = m_mailbox;
    return Mailbox::Drain(mailbox);
}

size_t CaptureQueue::WaitingCount() const
{
    return m_mailbox ? m_mailbox->waiting.size() : 0;
}

void CaptureQueue::SetDispatch(Dispatch dispatch)
{
    m_dispatch = dispatch;
    if (WaitingCount() > 0 && !m_holding)
        Schedule();
}

void CaptureQueue::Send(WaveHeader* header)
{
    FinishHeader(header);
    if (!m_mailbox)
        return;
    m_mailbox->waiting.push_back(header);
    if (!m_holding)
        Schedule();
}

// Every completion posts one delivery; the first to run hands back all that
// wait, the others find nothing.
void CaptureQueue::Schedule()
{
    if (m_dispatch != Dispatch::Posted)
        return;
    if (!m_context)
        m_context = std::make_unique<QObject>();
    QMetaObject::invokeMethod(
        m_context.get(), [mailbox = m_mailbox] { Mailbox::Drain(mailbox); }, Qt::QueuedConnection);
}

// ----------------------------------------------------------------- playback

void BlockQueue::Close()
{
    MarkAllDone();
    m_open = false;
}

int BlockQueue::Prepare(WaveHeader* header) const
{
    return m_open ? PrepareHeader(header) : WaveErrNotOpen;
}

int BlockQueue::Unprepare(WaveHeader* header) const
{
    return m_open ? UnprepareHeader(header) : WaveErrNotOpen;
}

int BlockQueue::Add(WaveHeader* header)
{
    if (!m_open)
        return WaveErrNotOpen;
    const int rc = QueueHeader(header);
    if (rc == WaveOk)
        m_blocks.push_back({header, 0});
    return rc;
}

size_t BlockQueue::LeftBytes(const Block& block)
{
    return WholeFrameBytes(block.header->bufferLength - block.handedBytes);
}

size_t BlockQueue::Gather(std::span<uint8_t> staging) const
{
    size_t gatheredBytes = 0;
    for (const Block& block : m_blocks) {
        const size_t copiedBytes = std::min(LeftBytes(block), staging.size() - gatheredBytes);
        std::memcpy(staging.data() + gatheredBytes, block.header->data + block.handedBytes,
                    copiedBytes);
        gatheredBytes += copiedBytes;
        if (gatheredBytes == staging.size())
            break;
    }
    return gatheredBytes;
}

void BlockQueue::TakeHanded(size_t handedBytes)
{
    while (!m_blocks.empty()) {
        Block& block = m_blocks.front();
        const size_t leftBytes = LeftBytes(block);
        if (leftBytes > handedBytes) {
            block.handedBytes += static_cast<uint32_t>(handedBytes);
            return;
        }
        handedBytes -= leftBytes;
        FinishHeader(block.header);
        m_blocks.pop_front();
    }
}

size_t BlockQueue::FinishOldest(size_t count)
{
    size_t finished = 0;
    for (; finished < count && !m_blocks.empty(); ++finished) {
        FinishHeader(m_blocks.front().header);
        m_blocks.pop_front();
    }
    return finished;
}

void BlockQueue::MarkAllDone()
{
    FinishOldest(m_blocks.size());
}

}  // namespace velnar
