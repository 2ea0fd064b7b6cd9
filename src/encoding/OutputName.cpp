#include "encoding/OutputName.h"

namespace quillora::encoding {

QString proposeOutputName(const QString& sourceFileName)
{
    // A leading dot marks a hidden file, not an extension.
    const qsizetype dot = sourceFileName.lastIndexOf(u'.');
    if (dot <= 0)
        return sourceFileName + ".flv";
    return sourceFileName.left(dot) + ".flv";
}

} // namespace quillora::encoding
