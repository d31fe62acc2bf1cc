#include "app/TerminalDialogs.h"

#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <poll.h>
#include <unistd.h>

namespace {

enum class Read { Line, End, Interrupted };

// One line of standard input, unless the interruption comes first. Byte by byte: nothing
// beyond the line may be taken from a terminal that answers the next question too.
Read readLine(int interruptFd, QByteArray* line)
{
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptFd, POLLIN, 0}};
        if (poll(fds, interruptFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return Read::End;
        }
        if (fds[1].revents & POLLIN)
            return Read::Interrupted;
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return line->isEmpty() ? Read::End : Read::Line;
        if (c == '\n')
            return Read::Line;
        line->append(c);
    }
}

void write(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

struct Choice {
    const char* name;
    MsgResult result;
};

QVector<Choice> choices(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok:
        return {{"OK", MsgResult::Ok}};
    case MsgButtons::OkCancel:
        return {{"OK", MsgResult::Ok}, {"Cancel", MsgResult::Cancel}};
    case MsgButtons::YesNo:
        return {{"Yes", MsgResult::Yes}, {"No", MsgResult::No}};
    case MsgButtons::YesNoCancel:
        break;
    }
    return {{"Yes", MsgResult::Yes}, {"No", MsgResult::No}, {"Cancel", MsgResult::Cancel}};
}

bool isBusError(MsgKind kind)
{
    return kind == MsgKind::BusError || kind == MsgKind::ReadTimeout ||
           kind == MsgKind::AdapterLost;
}

} // namespace

TerminalDialogs::TerminalDialogs(bool interactive, int interruptFd)
    : m_interactive(interactive), m_interruptFd(interruptFd)
{}

bool TerminalDialogs::interrupted() const
{
    pollfd fd{m_interruptFd, POLLIN, 0};
    return m_interruptFd >= 0 && poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

MsgResult TerminalDialogs::message(const OperatorMessage& message)
{
    const MsgResult first = message.firstButton();
    const MsgButtons buttons = message.buttons;
    const QString title = message.title.trimmed();
    const QString& text = message.text;
    const bool ending = message.kind == MsgKind::Fatal || message.kind == MsgKind::RefusedValue;
    if (m_ended)
        return message.backOut();
    // After a bus error the run is over: what the sequence says on its way out (the Stop
    // message, the same error again) would only bury the reason.
    if (m_busFailed && !ending)
        return first;
    if (beforeWriting)
        beforeWriting();
    if (isBusError(message.kind)) {
        // Its text's last line offers OK and Cancel, which nobody is asked here.
        write(QStringLiteral("\n%1\n%2\n").arg(title, text.section(u'\n', 0, 0)));
        m_busFailed = true;
        if (busError)
            busError();
        return first;
    }
    write(QStringLiteral("\n%1\n%2\n").arg(title, text));
    if (ending) {
        // The sequence returns quietly from here and the batch run ends with status 2.
        m_ended = true;
        return first;
    }
    if (buttons == MsgButtons::Ok)
        return first;
    if (interrupted()) {
        write(QStringLiteral("> %1\n").arg(
            QLatin1String(message.backOut() == MsgResult::No ? "No" : "Cancel")));
        return message.backOut();
    }
    if (m_interactive)
        return ask(message);
    write(QStringLiteral("> %1\n").arg(QLatin1String(choices(buttons).first().name)));
    return first;
}

MsgResult TerminalDialogs::ask(const OperatorMessage& message)
{
    const QVector<Choice> offered = choices(message.buttons);
    QStringList names;
    for (const Choice& c : offered)
        names << QLatin1String(c.name);
    for (;;) {
        write(QStringLiteral("%1 [%2]: ").arg(names.join(u'/'), names.first()));
        QByteArray line;
        switch (readLine(m_interruptFd, &line)) {
        case Read::Interrupted:
            write(QStringLiteral("\n"));
            return message.backOut();
        case Read::End:
            // Nobody left at the terminal: the rest of the run takes the defaults.
            write(QStringLiteral("\n"));
            m_interactive = false;
            return offered.first().result;
        case Read::Line:
            break;
        }
        const QString answer = QString::fromLocal8Bit(line).trimmed();
        if (answer.isEmpty())
            return offered.first().result;
        // A button's name or its start: "c" is Cancel, "y" Yes.
        for (const Choice& c : offered) {
            if (QLatin1String(c.name).startsWith(answer, Qt::CaseInsensitive))
                return c.result;
        }
    }
}
