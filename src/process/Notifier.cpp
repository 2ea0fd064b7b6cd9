#include "process/Notifier.h"

namespace quillora::process {

QString MsgAnswer;

int notify(Notifier& notifier, const QString& text, Icon icon, Buttons buttons,
           const QString& title)
{
    const int answer = notifier.show(text, icon, buttons, title);
    MsgAnswer = QString::number(answer);
    return answer;
}

int notifyError(Notifier& notifier, const QString& text)
{
    return notify(notifier, text, Icon::Critical, Buttons::Ok, "Error");
}

int notifyMessage(Notifier& notifier, const QString& text)
{
    return notify(notifier, text, Icon::Information, Buttons::Ok, "Message");
}

} // namespace quillora::process
