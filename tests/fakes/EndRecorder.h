#pragma once

#include "ui/Lifecycle.h"

#include <QList>

// While it lives, End records its exit code and returns instead of ending the test.
struct EndRecorder
{
    QList<int> codes;
    EndRecorder()
    {
        quillora::ui::setEndHandler([this](int code) { codes << code; });
    }
    ~EndRecorder() { quillora::ui::setEndHandler({}); }
    EndRecorder(const EndRecorder&) = delete;
    EndRecorder& operator=(const EndRecorder&) = delete;
};
