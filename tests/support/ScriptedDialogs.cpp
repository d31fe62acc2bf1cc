#include "ScriptedDialogs.h"

#include <QTest>

MsgResult ScriptedDialogs::message(const OperatorMessage& message)
{
    const MsgResult answer = scripted(message);
    if (std::exchange(m_holding, false))
        QTest::qFail("only a run's message can be held", __FILE__, __LINE__);
    return answer;
}

void ScriptedDialogs::show(const OperatorMessage& message, std::function<void(MsgResult)> answered)
{
    const MsgResult answer = scripted(message);
    if (std::exchange(m_holding, false))
        m_held = std::move(answered);
    else
        answered(answer);
}

MsgResult ScriptedDialogs::scripted(const OperatorMessage& message)
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
    if (!m_held)
        return false;
    std::exchange(m_held, nullptr)(button);
    return true;
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
