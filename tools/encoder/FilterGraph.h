#pragma once

#include "LibAv.h"

#include <functional>
#include <string>

namespace quillora::encoder {

// A filter graph described as text ("yadif,scale=240:180,fps=25"), from one buffer source fed
// with a decoder's frames to one sink. Its frames come out timed in the encoder's time base.
class FilterGraph
{
public:
    using FrameSink = std::function<void(FramePtr frame)>;

    static FilterGraph forVideo(const AVCodecContext* decoder, AVRational streamTimeBase,
                                const std::string& description, AVRational outputTimeBase);
    static FilterGraph forAudio(const AVCodecContext* decoder, AVRational streamTimeBase,
                                const std::string& description, AVRational outputTimeBase);

    // A decoded frame that ends at `end` (in the stream's time base, from the source's start).
    void send(AVFrame* frame, int64_t end, const FrameSink& sink);
    // No more frames: the graph is closed at the end of the last one, which lets the frame-rate
    // filter fill its whole duration, so the output lasts as long as the source.
    void close(const FrameSink& sink);
    // Audio: frames of exactly the encoder's frame size.
    void setFrameSize(int samples);

private:
    FilterGraph(const char* source, const char* sink, const std::string& sourceArguments,
                const std::string& description, AVRational outputTimeBase);
    void configure(const std::string& sourceArguments);
    void pull(const FrameSink& sink);

    const char* m_sourceName;
    const char* m_sinkName;
    std::string m_description;
    AVRational m_outputTimeBase;
    GraphPtr m_graph;
    AVFilterContext* m_source = nullptr;
    AVFilterContext* m_sink = nullptr;
    // Video only: the picture the graph was made for, and the source's time base.
    int m_width = 0, m_height = 0, m_format = -1;
    AVRational m_sourceTimeBase{0, 1};
    int m_frameSize = 0;
    // Where the last frame sent ends, and the latest time a frame was sent for.
    int64_t m_end = 0;
    int64_t m_latestSent = 0;
    int64_t m_lastPts = AV_NOPTS_VALUE;
};

} // namespace quillora::encoder
