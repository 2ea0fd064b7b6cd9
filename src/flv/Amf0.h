#pragma once

// AMF0, the encoding of FLV script data (AMF0 specification): the value type, reading and
// writing.
#include "flv/AmfReader.h"
#include "flv/AmfValue.h"
#include "flv/AmfWriter.h"
