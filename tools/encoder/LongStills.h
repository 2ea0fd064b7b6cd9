#pragma once

#include "LibAv.h"

#include <cstdint>
#include <deque>

namespace quillora::encoder {

// A picture that stays on screen longer than `maxFilledSeconds` is held by the timestamp of the
// next one, not filled with copies at the output frame rate. Screen recordings that send no
// frame while nothing moves, and slideshows, then cost what they show, and a damaged time base
// (a frame every few days) cannot turn a small file into weeks of copies. The frame after such
// a still starts a new group of pictures, so that a seek lands on it.
//
// Frames are taken out of the gap on their way into the frame-rate filter, which is fed in
// microseconds (a stream's own time base may be too coarse to place a frame 1/25 s after
// another), and put back at their time on the way out.
class LongStills
{
public:
    static constexpr AVRational filterTimeBase{1, AV_TIME_BASE};

    LongStills(AVRational streamTimeBase, AVRational outputTimeBase, double maxFilledSeconds);

    struct Span
    {
        int64_t pts; // in filterTimeBase, with the long stills taken out
        int64_t end;
    };
    // A decoded frame (pts and end in the stream's time base, from the source's start), in
    // presentation order.
    Span take(int64_t pts, int64_t end);

    struct Placed
    {
        int64_t pts; // in the output time base, at the picture's real time
        bool startsScene;
    };
    // A frame out of the frame-rate filter (pts in the output time base), in order.
    Placed place(int64_t filteredPts);

private:
    struct Cut
    {
        int64_t from;  // the first filtered pts after the still, in the output time base
        int64_t shift; // all that was taken out until then, in the output time base
    };
    AVRational m_streamTimeBase, m_outputTimeBase;
    int64_t m_maxFilled; // in filterTimeBase
    int64_t m_removed = 0;
    int64_t m_lastPts = AV_NOPTS_VALUE;
    std::deque<Cut> m_cuts;
    int64_t m_shift = 0;
};

} // namespace quillora::encoder
