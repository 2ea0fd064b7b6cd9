#pragma once

#include "Encoder.h"
#include "FrameQueue.h"

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

namespace quillora::encoder {

using PacketStage = PipelineStage<PacketPtr>;

// The video encoded on several encoders at once. The pictures are cut into groups that each
// begin with a keyframe (2 seconds, where the single encoder puts its keyframes too); group g
// goes to worker g mod N, whose one encoder takes its groups back to back
// (Encoder::videoWorker). The groups' packets reach the muxer in the order of the groups, so
// the file is the same whichever worker finishes first. Each encoder counts on a share of
// the player's buffer; a group that would run the real one dry, after what the other workers
// took from it, is encoded again from where it really stands before it is written. What the
// written groups left of the rate unspent is handed on to the groups about to begin.
//
// Pictures in flight are bounded: each worker holds one group and has the next in its queue.
class GroupEncoder
{
public:
    GroupEncoder(const EncoderOptions& options, bool globalHeader, int workers, int streamIndex,
                 AVRational outputTimeBase, PacketStage& muxer, const std::atomic<bool>& cancel,
                 StageTimes* times);
    ~GroupEncoder();
    GroupEncoder(const GroupEncoder&) = delete;
    GroupEncoder& operator=(const GroupEncoder&) = delete;

    // The next picture, in the encoder's time base.
    void send(FramePtr frame);
    // Encodes what is left and waits for every worker; how the video's rate came out.
    VideoRate finish();

    // How many workers an encode of pictures this large gets: `asked` (0: chosen for the
    // `processors` the process may use), as long as the pictures they hold stay within a fixed
    // amount of memory. 1 means no groups: one encoder for the whole video.
    [[nodiscard]] static int workersFor(int asked, int processors, int width, int height,
                                        int frameRate);

private:
    struct Group;
    struct Shared;
    struct Worker;

    void endGroup();
    void push(int worker, FramePtr frame);

    std::shared_ptr<Shared> m_shared;
    std::vector<std::unique_ptr<PipelineStage<FramePtr>>> m_workers;
    int m_groupSize;
    int m_group = 0;
    int m_inGroup = 0;
    // The last pictures sent, while a worker has yet to begin its first group.
    std::deque<FramePtr> m_lastPictures;
};

} // namespace quillora::encoder
