#pragma once

#include "EncoderOptions.h"

namespace quillora::encoder {

// One encode as a well-formed command line asks for it: the checks on its files, the question
// whether to replace the output, the encode in the terminal or in the progress window, and
// what a terminal is told of the rate. A request to stop (Ctrl+C, a signal, the console's
// close) cancels the encode while it runs and ends the process at any other moment.
class EncodeCommand
{
public:
    // `argc` and `argv` as main() got them, for the window's application.
    EncodeCommand(const EncoderOptions& options, int argc, char** argv);

    // Throws the errors of Errors.h.
    void run();

private:
    EncoderOptions m_options;
    int m_argc;
    char** m_argv;
};

} // namespace quillora::encoder
