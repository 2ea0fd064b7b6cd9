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

void LongStills::noteSound(int64_t begin, int64_t length, std::vector<int64_t>& slots)
{
    if (length <= 0 || begin < 0)
        return;
    for (int64_t slot = begin / soundStep; slot <= (begin + length - 1) / soundStep; ++slot)
        if (slots.empty() || slots.back() != slot)
            slots.push_back(slot);
}

LongStills::Span LongStills::take(int64_t pts, int64_t end, std::span<const int64_t> heard)
{
    m_sound.insert(heard.begin(), heard.end());
    if (pts == AV_NOPTS_VALUE)
        return {pts, microseconds(end, m_streamTimeBase) - m_removed};
    Span span{microseconds(pts, m_streamTimeBase) - m_removed,
              microseconds(end, m_streamTimeBase) - m_removed};
    if (m_lastPts != AV_NOPTS_VALUE && span.pts - m_lastPts > m_maxFilled) {
        // The still before this frame gets its one output frame, sent again only while the
        // sound plays; the player holds it until this frame's time.
        const int64_t oneFrame = av_rescale_q_rnd(1, m_outputTimeBase, filterTimeBase, AV_ROUND_UP);
        const int64_t gap = span.pts - (m_lastPts + oneFrame);
        std::vector<int64_t> copies = repeats(m_lastPts + m_removed, span.pts + m_removed);
        m_removed += gap;
        span.pts -= gap;
        span.end -= gap;
        m_cuts.push_back({av_rescale_q(span.pts, filterTimeBase, m_outputTimeBase),
                          av_rescale_q(m_removed, filterTimeBase, m_outputTimeBase),
                          std::move(copies)});
    }
    // The last frame's own length is filled no further than a still's.
    span.end = std::min(span.end, span.pts + m_maxFilled);
    m_lastPts = m_lastPts == AV_NOPTS_VALUE ? span.pts : std::max(m_lastPts, span.pts);
    m_sound.erase(m_sound.begin(), m_sound.lower_bound((m_lastPts + m_removed) / soundStep));
    return span;
}

std::vector<int64_t> LongStills::repeats(int64_t still, int64_t next) const
{
    std::vector<int64_t> times;
    for (auto slot = m_sound.upper_bound(still / soundStep); slot != m_sound.end(); ++slot) {
        const int64_t t = *slot * soundStep;
        if (t + soundStep / 2 >= next)
            break;
        if (t - still >= soundStep / 2)
            times.push_back(av_rescale_q(t, filterTimeBase, m_outputTimeBase));
    }
    return times;
}

LongStills::Placed LongStills::place(int64_t filteredPts)
{
    Placed placed{0, false, {}};
    while (!m_cuts.empty() && filteredPts >= m_cuts.front().from) {
        Cut& cut = m_cuts.front();
        m_shift = cut.shift;
        placed.repeats.insert(placed.repeats.end(), cut.repeats.begin(), cut.repeats.end());
        m_cuts.pop_front();
        placed.startsScene = true;
    }
    placed.pts = filteredPts + m_shift;
    // FLV gives a tag's time 31 bits of milliseconds; past that, players see time run back.
    if (av_rescale_q(placed.pts, m_outputTimeBase, {1, 1000}) > std::numeric_limits<int32_t>::max())
        throw EncodeError("the source lasts longer than the 24 days an FLV file can hold: it is "
                          "damaged");
    // Each copy between the picture before and this one, in order, once.
    std::erase_if(placed.repeats, [&](int64_t t) { return t <= m_lastPlaced || t >= placed.pts; });
    m_lastPlaced = placed.pts;
    return placed;
}

} // namespace quillora::encoder
