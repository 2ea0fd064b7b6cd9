// libFuzzer target for the FLV reader: any bytes must give a scan or a FormatError, never a
// crash, an out-of-bounds read, undefined behaviour or a hang.
#include "FuzzFile.h"

#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "flv/MetadataInjector.h"

using namespace quillora::flv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The AMF parser on its own, as script tags feed it.
    try {
        std::size_t at = 0;
        while (at < size)
            (void)parseAmf({data, size}, at);
    } catch (const FormatError&) {
    }

    // The whole reader, straight from the input: the writer's fuzzer reads through files.
    try {
        MemorySource source({data, size});
        const FlvScan scan = scanFlv(source);
        const MetadataTag tag(scan, 0, "fuzz");
        if (tag.render().size() != tag.size())
            fuzzFinding();
    } catch (const FormatError&) {
    } catch (const RenderError&) {
    }
    return 0;
}
