#pragma once

#include <QString>

namespace quillora::process {

enum class Icon { Critical, Question, Information };
enum class Buttons { Ok, YesNo };

// Answer codes as the message box reports them.
enum Answer : int { AnswerOk = 1, AnswerYes = 6, AnswerNo = 7 };

// A modal message box. The window shows real ones; tests record texts and give answers.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual int show(const QString& text, Icon icon, Buttons buttons, const QString& title) = 0;
};

// The answer code of the latest message box, as decimal text.
extern QString MsgAnswer;

// Shows a message box and keeps its answer in MsgAnswer.
int notify(Notifier& notifier, const QString& text, Icon icon, Buttons buttons,
           const QString& title);

// The two single-button kinds every outcome uses.
int notifyError(Notifier& notifier, const QString& text);
int notifyMessage(Notifier& notifier, const QString& text);

} // namespace quillora::process
