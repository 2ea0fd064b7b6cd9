#pragma once

#include "process/Notifier.h"

#include <QList>
#include <QString>

#include <deque>

// Records every message box and answers with queued codes (OK, or the next queued answer).
struct FakeNotifier : quillora::process::Notifier
{
    struct Shown
    {
        QString text;
        quillora::process::Icon icon;
        quillora::process::Buttons buttons;
        QString title;
    };
    QList<Shown> shown;
    std::deque<int> answers;

    int show(const QString& text, quillora::process::Icon icon, quillora::process::Buttons buttons,
             const QString& title) override
    {
        shown.append({text, icon, buttons, title});
        if (answers.empty())
            return buttons == quillora::process::Buttons::Ok ? quillora::process::AnswerOk
                                                             : quillora::process::AnswerNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    QStringList texts() const
    {
        QStringList result;
        for (const auto& s : shown)
            result << s.text;
        return result;
    }
};
