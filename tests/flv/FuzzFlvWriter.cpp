// libFuzzer target for the FLV writer: every value it writes reads back as itself, every value
// the format has no room for is refused, and the file written for any FLV reads back with the
// same tags, keyframes and cue points.
#include "FuzzFile.h"
#include "SameAmf.h"

#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "flv/MetadataInjector.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <system_error>

using namespace quillora::flv;

namespace {

// Builds a value from the fuzzer's bytes as from a program, so that values no file could give
// (names past 65,535 bytes, long strings of any length) reach the writer.
class Builder
{
public:
    Builder(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool sawLongName() const { return m_longName; }

    AmfValue value(int depth)
    {
        const int op = byte() % 10;
        // Containers only where the reader still accepts their children.
        if (op >= 6 && depth >= maxAmfDepth)
            return AmfValue::makeNull();
        switch (op) {
        case 0:
            return AmfValue::makeNumber(std::bit_cast<double>(word()));
        case 1:
            return AmfValue::makeBoolean(byte() & 1);
        case 2:
            return AmfValue::makeString(text());
        case 3: {
            const double ms = std::bit_cast<double>(word());
            return AmfValue::makeDate(ms, static_cast<std::int16_t>(byte() << 8 | byte()));
        }
        case 4:
            return AmfValue::makeNull();
        case 5:
            return AmfValue::makeUndefined();
        case 6:
            return AmfValue::makeObject(properties(depth));
        case 7:
            return AmfValue::makeEcmaArray(properties(depth));
        default: {
            std::vector<AmfValue> elements;
            for (int n = byte() % 8; n > 0 && m_at < m_size; --n)
                elements.push_back(value(depth + 1));
            return AmfValue::makeStrictArray(std::move(elements));
        }
        }
    }

private:
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    std::uint64_t word()
    {
        std::uint64_t w = 0;
        for (int i = 0; i < 8; ++i)
            w = w << 8 | byte();
        return w;
    }

    // Short texts from the input; a length byte of 255 asks for a long one around 65,535 bytes.
    std::string text()
    {
        const std::size_t length = byte();
        if (length == 255 && m_longTexts < 4) {
            ++m_longTexts;
            const std::size_t around = 65530 + byte() / 16;
            return std::string(around + (byte() & 1 ? 70000 : 0), 'k');
        }
        std::string t;
        for (std::size_t i = 0; i < length && m_at < m_size; ++i)
            t += static_cast<char>(byte());
        return t;
    }

    AmfProperties properties(int depth)
    {
        AmfProperties p;
        for (int n = byte() % 8; n > 0 && m_at < m_size; --n) {
            std::string key = text();
            m_longName = m_longName || key.size() > 0xffff;
            AmfValue v = value(depth + 1);
            p.emplace_back(std::move(key), std::move(v));
        }
        return p;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    int m_longTexts = 0;
    bool m_longName = false;
};

// What is written reads back as what was written.
void roundTrip(const AmfValue& value, bool refuse)
{
    std::string rendered;
    try {
        renderAmf(value, rendered);
    } catch (const RenderError&) {
        if (!refuse)
            fuzzFinding();
        return;
    }
    if (refuse)
        fuzzFinding();
    std::size_t at = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(rendered.data());
    try {
        if (!sameAmf(parseAmf({bytes, rendered.size()}, at), value) || at != rendered.size())
            fuzzFinding();
    } catch (const FormatError&) {
        fuzzFinding();
    }
}

// A folder of the fuzzer's own for the file it writes, in memory where it can be; gone when the
// fuzzer ends.
class OutputFolder
{
public:
    OutputFolder()
    {
        char shm[] = "/dev/shm/fuzz-flv-writer-XXXXXX";
        char tmp[] = "/tmp/fuzz-flv-writer-XXXXXX";
        const char* folder = mkdtemp(shm);
        if (!folder)
            folder = mkdtemp(tmp);
        m_folder = folder ? folder : "/tmp";
        m_file = m_folder + "/out.flv";
    }
    ~OutputFolder()
    {
        ::unlink(m_file.c_str());
        if (m_folder != "/tmp")
            ::rmdir(m_folder.c_str());
    }
    const std::string& file() const { return m_file; }

private:
    std::string m_folder;
    std::string m_file;
};

// The file written for an FLV reads back with the same tags, keyframes and cue points.
void rewrite(const std::uint8_t* data, std::size_t size)
{
    const int fd = fuzzFile(data, size);
    if (fd < 0)
        return;
    FlvScan before;
    try {
        before = scanFlv(quillora::platform::InputFile(fuzzFilePath(fd)));
    } catch (const FormatError&) {
        return;
    }
    static const OutputFolder folder;
    const std::string& output = folder.file();
    try {
        injectMetadata(fuzzFilePath(fd), output, 0, "fuzz");
    } catch (const RenderError&) {
        return;
    } catch (const FormatError&) {
        fuzzFinding(); // the same bytes scanned once already
    } catch (const std::system_error&) {
        return;
    }
    const int out = ::open(output.c_str(), O_RDONLY | O_CLOEXEC);
    if (out < 0)
        fuzzFinding();
    const auto written = static_cast<std::size_t>(::lseek(out, 0, SEEK_END));
    std::string file(written, '\0');
    if (::pread(out, file.data(), written, 0) != static_cast<ssize_t>(written))
        fuzzFinding();
    FlvScan after;
    try {
        after = scanFlv(quillora::platform::InputFile(output));
    } catch (const FormatError&) {
        fuzzFinding(); // we cannot read what we wrote
    }
    ::close(out);
    // The kept tags follow the new onMetaData as one run; a file of metadata alone has none.
    const std::size_t keptRuns = before.kept.empty() ? 0 : 1;
    if (!after.oldMetadata || after.kept.size() != keptRuns ||
        after.keptBytes != before.keptBytes ||
        after.cuePoints.count() != before.cuePoints.count() ||
        after.cuePoints.size() != before.cuePoints.size() ||
        after.keyframes.size() != before.keyframes.size())
        fuzzFinding();
    // Every tag but the metadata is kept byte for byte and in order.
    std::size_t at = keptRuns ? after.kept[0].begin : 0;
    for (const ByteRange& range : before.kept) {
        if (std::memcmp(file.data() + at, data + range.begin, range.end - range.begin) != 0)
            fuzzFinding();
        at += range.end - range.begin;
    }
    for (std::size_t i = 0; i < before.keyframes.size(); ++i)
        if (after.keyframes[i].keptOffset != before.keyframes[i].keptOffset ||
            after.keyframes[i].seconds != before.keyframes[i].seconds)
            fuzzFinding();
    // The metadata tells the truth about the file: its size, and where its key frames are.
    std::size_t offset = after.oldMetadata->begin;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    const AmfValue metadata = parseAmf({bytes, after.oldMetadata->end}, offset);
    const AmfValue* fileSize = metadata.find("filesize");
    if (!fileSize || fileSize->number() != double(written))
        fuzzFinding();
    const AmfValue* keyframes = metadata.find("keyframes");
    const AmfValue* positions = keyframes ? keyframes->find("filepositions") : nullptr;
    if (keyframes && !positions)
        fuzzFinding();
    if (positions)
        for (const AmfValue& position : positions->elements())
            if (position.number() >= double(written) ||
                (bytes[std::size_t(position.number())] & 0x1f) != VideoTag)
                fuzzFinding();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Values the reader gives.
    try {
        std::size_t at = 0;
        while (at < size)
            roundTrip(parseAmf({data, size}, at), false);
    } catch (const FormatError&) {
    }

    // Values a program builds.
    Builder builder(data, size);
    const AmfValue built = builder.value(0);
    roundTrip(built, builder.sawLongName());

    if (size >= 3 && std::memcmp(data, "FLV", 3) == 0)
        rewrite(data, size);
    return 0;
}
