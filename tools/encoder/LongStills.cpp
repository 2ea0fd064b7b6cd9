#include "LongStills.h"

#include <algorithm>
#include <limits>

namespace quillora::encoder {

namespace {
// Time in microseconds, or a clear refusal where a damaged stream gives a time past what any
// file holds (av_rescale_q answers INT64_MIN when the result does not fit).
int64_t microseconds(int64_t t, AVRational timeBase)
{
    const int64_t us = av_rescale_q(t, timeBase, LongStills::filterTimeBase);
    if (us == std::numeric_limits<int64_t>::min() || us > (int64_t(1) << 52))
        throw EncodeError("the source's timestamps are out of any range: it is damaged");
    return us;
}
} // namespace

LongStills::LongStills(AVRational streamTimeBase, AVRational outputTimeBase,
                       double maxFilledSeconds)
    : m_streamTimeBase(streamTimeBase), m_outputTimeBase(outputTimeBase),
      m_maxFilled(int64_t(maxFilledSeconds * AV_TIME_BASE))
{}

LongStills::Span LongStills::take(int64_t pts, int64_t end)
{
    if (pts == AV_NOPTS_VALUE)
        return {pts, microseconds(end, m_streamTimeBase) - m_removed};
    Span span{microseconds(pts, m_streamTimeBase) - m_removed,
              microseconds(end, m_streamTimeBase) - m_removed};
    if (m_lastPts != AV_NOPTS_VALUE && span.pts - m_lastPts > m_maxFilled) {
        // The still before this frame gets its one output frame; the player holds it until
        // this frame's time.
        const int64_t oneFrame = av_rescale_q_rnd(1, m_outputTimeBase, filterTimeBase, AV_ROUND_UP);
        const int64_t gap = span.pts - (m_lastPts + oneFrame);
        m_removed += gap;
        span.pts -= gap;
        span.end -= gap;
        m_cuts.push_back({av_rescale_q(span.pts, filterTimeBase, m_outputTimeBase),
                          av_rescale_q(m_removed, filterTimeBase, m_outputTimeBase)});
    }
    // The last frame's own length is filled no further than a still's.
    span.end = std::min(span.end, span.pts + m_maxFilled);
    m_lastPts = m_lastPts == AV_NOPTS_VALUE ? span.pts : std::max(m_lastPts, span.pts);
    return span;
}

LongStills::Placed LongStills::place(int64_t filteredPts)
{
    bool startsScene = false;
    while (!m_cuts.empty() && filteredPts >= m_cuts.front().from) {
        m_shift = m_cuts.front().shift;
        m_cuts.pop_front();
        startsScene = true;
    }
    const int64_t pts = filteredPts + m_shift;
    // FLV gives a tag's time 31 bits of milliseconds; past that, players see time run back.
    if (av_rescale_q(pts, m_outputTimeBase, {1, 1000}) > std::numeric_limits<int32_t>::max())
        throw EncodeError("the source lasts longer than the 24 days an FLV file can hold: it is "
                          "damaged");
    return {pts, startsScene};
}

} // namespace quillora::encoder
