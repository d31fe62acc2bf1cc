#pragma once

#include "base/OperatorDialogs.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Answers operator messages from a script and keeps what was shown, so tests can check the
// exact icon, title, text and buttons a person would have seen.
class ScriptedDialogs : public OperatorDialogs {
public:
    struct Shown : OperatorMessage {
        // In one line: icon, buttons, title, then the text with its line ends written "\n",
        // last so that a test may compare its beginning.
        QString line() const;
    };

    MsgResult message(const OperatorMessage& message) override;
    void show(const OperatorMessage& message, std::function<void(MsgResult)> answered) override;
    bool choosePrinter(QPrinter& printer) override;
    // Presses a button of the message held by hold(); false when none is held.
    bool answerWaiting(MsgResult button) override;

    // Answers in order; once they run out, every message gets its first button.
    void answer(std::initializer_list<MsgResult> answers) { m_answers.append(answers); }
    // Decides per message instead; return std::nullopt to fall back to the script.
    std::function<std::optional<MsgResult>(const Shown&)> onMessage;
    std::function<bool(QPrinter&)> onChoosePrinter;
    // For onMessage, of a run's message: it stays up, the run waiting, until answerWaiting()
    // presses a button.
    std::optional<MsgResult> hold()
    {
        m_holding = true;
        return std::nullopt;
    }

    QList<Shown> shown;
    QStringList titles() const;
    // Every message shown so far, a line each.
    QString lines() const;
    void clear() { shown.clear(); }

private:
    // What the script answers, the message noted.
    MsgResult scripted(const OperatorMessage& message);

    QList<MsgResult> m_answers;
    bool m_holding = false;
    std::function<void(MsgResult)> m_held;
};
