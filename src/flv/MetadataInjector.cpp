#include "flv/MetadataInjector.h"

#include "flv/Bytes.h"
#include "flv/CopyPlan.h"
#include "platform/Files.h"
#include "platform/SafeOutput.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace quillora::flv {

using platform::InputFile;

void injectMetadata(const std::string& input, const std::string& output, double nowMilliseconds,
                    const std::string& creator, Layout layout)
{
    const InputFile in(input);
    const FlvScan scan = scanFlv(in);
    MetadataTag tag(scan, nowMilliseconds, creator);
    // Through any symbolic link, so that a link stays a link; a hard link to the input is a
    // name of its own, and gets the new file.
    const std::string target = platform::resolveTarget(output);
    platform::SafeOutput out(target, in.permissions());

    // Little enough padding that players never notice it, whatever a filesystem's blocks.
    constexpr std::uint64_t mostPadding = (64u << 10) + MetadataTag::minimumPadding;
    const auto plan = [&](std::uint64_t blockSize) {
        return planCopy(scan.kept, headerSize + previousTagSizeBytes + tag.size(), blockSize,
                        {MetadataTag::minimumPadding, std::min(tag.paddingRoom(), mostPadding)});
    };
    CopyPlan copy = plan(layout.blockSize ? layout.blockSize : out.blockSize());
    // The blocks are shared first: where the filesystem refuses, nothing else has been written
    // yet, and the file is laid out as if it had never been asked.
    for (CopyStep& step : copy.steps) {
        if (step.kind != CopyStep::Kind::Clone ||
            out.cloneFrom(in, step.from, step.length, step.to))
            continue;
        out.discard();
        if (layout.blockSize) {
            for (CopyStep& s : copy.steps)
                s.kind = CopyStep::Kind::Copy;
        } else {
            copy = plan(0);
        }
        break;
    }
    tag.pad(copy.padding);

    std::string header;
    FlvHeader{scan.audio.tags > 0, scan.video.tags > 0}.render(header);
    appendUInt32BE(header, 0); // PreviousTagSize0
    out.writeAt(0, header.data(), header.size());
    std::uint64_t at = header.size();
    tag.render([&](std::string_view piece) {
        out.writeAt(at, piece.data(), piece.size());
        at += piece.size();
    });
    for (const CopyStep& step : copy.steps)
        if (step.kind == CopyStep::Kind::Copy)
            out.copyFrom(in, step.from, step.length, step.to);
    if (scan.missingTrailer) {
        std::string trailer;
        appendUInt32BE(trailer, *scan.missingTrailer);
        out.writeAt(copy.size, trailer.data(), trailer.size());
    }
    // In place, the old file goes when the new one replaces it, and the process then waits
    // while its cached pages are dropped; dropping them during the flush overlaps that with the
    // wait for the disk. Where no thread can be had, they are dropped at the end as ever.
    std::optional<std::thread> drop;
    const auto existing = platform::statusOf(target);
    if (existing && existing->identity == in.identity()) {
        in.checkUnchanged();
        try {
            drop.emplace([&in] { in.dropCachedPages(); });
        } catch (const std::system_error&) {
        }
    }
    try {
        out.commit();
    } catch (...) {
        if (drop)
            drop->join();
        throw;
    }
    if (drop)
        drop->join();
}

} // namespace quillora::flv
