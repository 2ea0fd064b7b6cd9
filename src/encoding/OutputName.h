#pragma once

#include <QString>

namespace quillora::encoding {

// The output file name proposed for a chosen source: the name up to its last dot followed by
// ".flv", or ".flv" appended to a name that has no extension.
QString proposeOutputName(const QString& sourceFileName);

} // namespace quillora::encoding
