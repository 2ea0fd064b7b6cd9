#pragma once

#include "LibAv.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <set>
#include <span>
#include <vector>

namespace quillora::encoder {

// A picture that stays on screen longer than `maxFilledSeconds` is held by the timestamp of the
// next one, not filled with copies at the output frame rate. Screen recordings that send no
// frame while nothing moves, and slideshows, then cost what they show, and a damaged time base
// (a frame every few days) cannot turn a small file into weeks of copies. The frame after such
// a still starts a new group of pictures, so that a seek lands on it.
//
// While the source's sound plays on, a held picture is sent again every half second: players
// and checkers take a stream of pictures that falls silent for a second beside sound that goes
// on for lost sync. The copies cost a few bytes each, and there are never more of them than
// the sound that the source really holds, so a damaged time base still cannot make weeks of
// them.
//
// Frames are taken out of the gap on their way into the frame-rate filter, which is fed in
// microseconds (a stream's own time base may be too coarse to place a frame 1/25 s after
// another), and put back at their time on the way out.
class LongStills
{
public:
    static constexpr AVRational filterTimeBase{1, AV_TIME_BASE};
    // How often a held picture is sent again while the sound plays; the source's sound is
    // noted in slots of this length.
    static constexpr int64_t soundStep = AV_TIME_BASE / 2;
    // The slots that a piece of sound from `begin` for `length` microseconds (from the
    // source's start) plays in.
    static void noteSound(int64_t begin, int64_t length, std::vector<int64_t>& slots);

    LongStills(AVRational streamTimeBase, AVRational outputTimeBase, double maxFilledSeconds);

    struct Span
    {
        int64_t pts; // in filterTimeBase, with the long stills taken out
        int64_t end;
    };
    // A decoded frame (pts and end in the stream's time base, from the source's start), in
    // presentation order, with the slots of the sound read since the frame before.
    Span take(int64_t pts, int64_t end, std::span<const int64_t> heard = {});

    struct Placed
    {
        int64_t pts; // in the output time base, at the picture's real time
        bool startsScene;
        // When the picture before this one is to be sent again first (output time base).
        std::vector<int64_t> repeats;
    };
    // A frame out of the frame-rate filter (pts in the output time base), in order.
    Placed place(int64_t filteredPts);

private:
    struct Cut
    {
        int64_t from;  // the first filtered pts after the still, in the output time base
        int64_t shift; // all that was taken out until then, in the output time base
        std::vector<int64_t> repeats;
    };
    // The times, in the output time base, at which a still shown at `still` is sent again
    // before the next picture at `next` (both real times in microseconds): one in each slot
    // in between that has sound.
    std::vector<int64_t> repeats(int64_t still, int64_t next) const;

    AVRational m_streamTimeBase, m_outputTimeBase;
    int64_t m_maxFilled; // in filterTimeBase
    int64_t m_removed = 0;
    int64_t m_lastPts = AV_NOPTS_VALUE;
    // Sound slots heard from the latest frame's on: only a gap after it can use them.
    std::set<int64_t> m_sound;
    std::deque<Cut> m_cuts;
    int64_t m_shift = 0;
    int64_t m_lastPlaced = std::numeric_limits<int64_t>::min();
};

} // namespace quillora::encoder
