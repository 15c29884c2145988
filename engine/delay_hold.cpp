#include "engine/delay_hold.h"

#include <algorithm>

namespace velnar {

DelayHold::DelayHold(Clock clock, int targetBlocks)
    : m_clock(std::move(clock)), m_targetBlocks(targetBlocks)
{}

bool DelayHold::TakeBack(int pendingBlocks, uint32_t level)
{
    const auto now = m_clock();
    Watch(pendingBlocks, now);
    const bool leaveOut = m_excessBlocks > 0 && MayLeaveOut(level, now);
    m_recentLevels.push_back(level);
    if (m_recentLevels.size() > kLevelWindowBlocks)
        m_recentLevels.pop_front();
    if (!leaveOut)
        return false;
    // The watch starts again once the whole excess is given back, so that
    // it measures the queue as it is now.
    if (--m_excessBlocks == 0)
        m_watchStart.reset();
    ++m_givenBack;
    return true;
}

// The shallowest depth since the watch began; at the end of each period,
// by how much it stayed above the target throughout. A dip to the target
// meanwhile means the excess is gone already.
void DelayHold::Watch(int pendingBlocks, std::chrono::steady_clock::time_point now)
{
    if (pendingBlocks <= m_targetBlocks)
        m_excessBlocks = 0;
    if (!m_watchStart) {
        m_watchStart = now;
        m_shallowestBlocks = pendingBlocks;
        return;
    }
    m_shallowestBlocks = std::min(m_shallowestBlocks, pendingBlocks);
    if (now - *m_watchStart < kWatchPeriod)
        return;
    if (m_excessBlocks == 0 && m_shallowestBlocks > m_targetBlocks) {
        m_excessBlocks = m_shallowestBlocks - m_targetBlocks;
        m_excessSince = now;
    }
    m_watchStart = now;
    m_shallowestBlocks = pendingBlocks;
}

// Ties count as quietest: a steady sound has no single quietest block.
bool DelayHold::MayLeaveOut(uint32_t level, std::chrono::steady_clock::time_point now) const
{
    uint32_t loudest = level;
    for (uint32_t recent : m_recentLevels) {
        if (recent < level)
            return false;
        loudest = std::max(loudest, recent);
    }
    return level <= loudest / kPauseDivisor || now - m_excessSince >= kPauseWait;
}

void DelayHold::RanDry()
{
    Forget();
}

void DelayHold::Forget()
{
    m_watchStart.reset();
    m_excessBlocks = 0;
    m_recentLevels.clear();
}

}  // namespace velnar
