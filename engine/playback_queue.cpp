#include "engine/playback_queue.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace velnar {

namespace {

constexpr int kPrefillBlocks = 3;  // playing resumes at the fourth block
constexpr std::chrono::seconds kPlaybackRetryInterval{1};
// Unplayed blocks ahead of an arriving one that the hold keeps at the
// shallowest point of its watch: one block besides what the device itself
// takes ahead (the sound server keeps 20 to 50 ms), as the shallowest point
// already allows for the jitter seen. Deeper only adds delay.
constexpr int kHeldBlocks = 1;

}  // namespace

PlaybackQueue::PlaybackQueue(WaveOut* device, DelayHold::Clock clock)
    : m_device(device), m_hold(std::move(clock), kHeldBlocks)
{}

PlaybackQueue::~PlaybackQueue()
{
    Release();
}

bool PlaybackQueue::Queue(const uint8_t* pcm, int pendingBlocks)
{
    return Queue(PlayoutBlock::Of(pcm), pendingBlocks);
}

// Only a playing queue is held: one that pre-fills or has run dry is short,
// not long, and what was watched before no longer holds.
//
// Every block marked played is no run-dry while the device still plays out
// what it took ahead of them (a sound server takes up to 50 ms): the next
// block is in time, and pausing there would cut a gap into the sound and add
// a pre-fill to the delay of a stream that never stopped.
bool PlaybackQueue::Queue(const PlayoutBlock& playout, int pendingBlocks)
{
    const bool ranDry = pendingBlocks == 0 && !(m_device && m_device->IsPlayingOut());
    if (m_device && !m_paused && !ranDry && m_hold.TakeBack(pendingBlocks, playout.level))
        return true;
    if (ranDry)
        m_hold.RanDry();
    PlaybackBuffer* block = new (std::nothrow) PlaybackBuffer;
    if (!block)
        std::exit(255);
    std::memcpy(block->samples, playout.pcm, kPlayoutBlockBytes);
    block->header.data = block->samples;
    block->header.bufferLength = kPlayoutBlockBytes;
    if (!m_device || m_device->Prepare(&block->header) != WaveOk) {
        delete block;
        return false;
    }
    if (ranDry && !m_paused) {
        m_device->Pause();
        m_paused = true;
    }
    if (m_device->Write(&block->header) != WaveOk) {
        m_device->Unprepare(&block->header);
        delete block;
        return false;
    }
    // A paused device plays nothing, so a block it marks done at once was
    // swallowed by a device that failed mid-call (the sound server went
    // away). Looked at before the fourth block restarts the device.
    const bool swallowed = m_paused && (block->header.flags & WaveDone);
    if (pendingBlocks >= kPrefillBlocks && m_paused) {
        m_device->Restart();
        m_paused = false;
    }
    PlaybackBuffer** tail = &m_pHead;
    while (*tail)
        tail = &(*tail)->next;
    *tail = block;
    if (swallowed)
        RetryFailed();
    return true;
}

int PlaybackQueue::Pending() const
{
    int pending = 0;
    for (const PlaybackBuffer* block = m_pHead; block; block = block->next)
        if (!(block->header.flags & WaveDone))
            ++pending;
    return pending;
}

size_t PlaybackQueue::Size() const
{
    size_t size = 0;
    for (const PlaybackBuffer* block = m_pHead; block; block = block->next)
        ++size;
    return size;
}

void PlaybackQueue::Reclaim()
{
    PlaybackBuffer** link = &m_pHead;
    while (PlaybackBuffer* block = *link) {
        if (block->header.flags & WaveDone) {
            m_device->Unprepare(&block->header);
            *link = block->next;
            delete block;
        } else {
            link = &block->next;
        }
    }
}

void PlaybackQueue::Release()
{
    while (PlaybackBuffer* block = m_pHead) {
        m_pHead = block->next;
        delete block;
    }
}

// Restarting also opens a device again that failed since.
void PlaybackQueue::Restart()
{
    m_device->Reset();
    Reclaim();
    m_device->Restart();
    m_paused = false;
    m_hold.Forget();
}

// Tried at most once a second, so that a sound server that stays away
// cannot make the engine spin.
void PlaybackQueue::RetryFailed()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_lastRetry && now - *m_lastRetry < kPlaybackRetryInterval)
        return;
    m_lastRetry = now;
    m_device->Reset();
    m_device->Restart();
    m_paused = false;
}

}  // namespace velnar
