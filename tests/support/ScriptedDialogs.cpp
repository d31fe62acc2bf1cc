#include "ScriptedDialogs.h"

MsgResult ScriptedDialogs::message(MsgIcon icon, const QString& title, const QString& text,
                                   MsgButtons buttons)
{
    const Shown entry{icon, title, text, buttons};
    shown << entry;
    if (onMessage) {
        if (const std::optional<MsgResult> result = onMessage(entry))
            return *result;
    }
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return FirstButtonDialogs::firstButton(buttons);
}

bool ScriptedDialogs::choosePrinter(QPrinter& printer)
{
    return onChoosePrinter ? onChoosePrinter(printer) : false;
}

QStringList ScriptedDialogs::titles() const
{
    QStringList list;
    for (const Shown& s : shown)
        list << s.title;
    return list;
}
