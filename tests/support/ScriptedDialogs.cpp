#include "ScriptedDialogs.h"

#include <QTest>

MsgResult ScriptedDialogs::message(const OperatorMessage& message)
{
    const Shown entry{message};
    shown << entry;
    if (onMessage) {
        if (const std::optional<MsgResult> result = onMessage(entry))
            return *result;
    }
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return message.firstButton();
}

bool ScriptedDialogs::choosePrinter(QPrinter& printer)
{
    return onChoosePrinter ? onChoosePrinter(printer) : false;
}

bool ScriptedDialogs::answerWaiting(MsgResult button)
{
    if (!m_waiting || m_pressed)
        return false;
    m_pressed = button;
    return true;
}

std::optional<MsgResult> ScriptedDialogs::awaitAnswer()
{
    const bool outer = std::exchange(m_waiting, true);
    (void)QTest::qWaitFor([this] { return m_pressed.has_value(); }, 30000);
    m_waiting = outer;
    return std::exchange(m_pressed, std::nullopt);
}

QString ScriptedDialogs::Shown::line() const
{
    static const char* const icons[] = {"none", "critical", "exclamation", "information",
                                        "question"};
    static const char* const choices[] = {"Ok", "OkCancel", "YesNo", "YesNoCancel"};
    return QStringLiteral("%1 %2 %3: %4")
        .arg(QLatin1String(icons[int(icon)]), QLatin1String(choices[int(buttons)]), title,
             QString(text).replace(u'\n', QLatin1String("\\n")));
}

QString ScriptedDialogs::lines() const
{
    QStringList all;
    for (const Shown& s : shown)
        all << s.line();
    return all.join(u'\n');
}

QStringList ScriptedDialogs::titles() const
{
    QStringList list;
    for (const Shown& s : shown)
        list << s.title;
    return list;
}
