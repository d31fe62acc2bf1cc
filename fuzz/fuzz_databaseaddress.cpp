// A lab's database address as typed on a command line or into the settings, with a password
// planted where people put one: no text the program shows of it may hold four characters of
// the password in a row, plain or percent-encoded.
#include "history/DatabaseTarget.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdlib>

namespace {

// Every run of four characters of the password, as typed and percent-encoded.
QStringList runsOf(const QString& password)
{
    QStringList runs;
    for (const QString& form :
         {password, QString::fromLatin1(QUrl::toPercentEncoding(password)),
          QString::fromLatin1(QUrl::toPercentEncoding(password, {}, "-._~")).toLower()}) {
        for (qsizetype i = 0; i + 4 <= form.size(); ++i)
            runs << form.mid(i, 4);
    }
    return runs;
}

// What messages and status lines can show of an address.
QStringList shownTexts(const QString& url)
{
    const DatabaseTarget target = DatabaseTarget::parse(url, true);
    return {DatabaseTarget::masked(url), target.shown, target.displayName(), target.error};
}

} // namespace

// Input: a byte choosing where the password goes and how it is written, then the password,
// the user, the host and path, and further options, separated by NUL bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0];
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)).split('\0');
    if (parts.size() < 4)
        return 0;
    const QString password = QString::fromUtf8(parts[0]);
    if (password.size() < 4)
        return 0;
    const QString user = QString::fromUtf8(parts[1]);
    const QString hostPath = QString::fromUtf8(parts[2]);
    const QString options = QString::fromUtf8(parts[3]);
    const QString written =
        (mode & 4) ? QString::fromLatin1(QUrl::toPercentEncoding(password)) : password;
    const QString scheme =
        (mode & 8) ? QStringLiteral("postgres://") : QStringLiteral("postgresql://");
    const auto address = [&](const QString& secret) {
        switch (mode & 3) {
        case 0:
            return scheme + user + u':' + secret + u'@' + hostPath + u'?' + options;
        case 1:
            return scheme + user + QStringLiteral("%3A") + secret + u'@' + hostPath + u'?' +
                   options;
        case 2:
            return scheme + user + u'@' + hostPath + u'?' + options + QStringLiteral("&password=") +
                   secret;
        default:
            return scheme + user + u'@' + hostPath + QStringLiteral("?PassWord=") + secret + u'&' +
                   options;
        }
    };
    // A run that the address shows without any password was not taken from it.
    QString without;
    for (const QString& text : shownTexts(address(QString())))
        without += text + u'\n';
    const QString planted = address(written);
    for (const QString& text : shownTexts(planted)) {
        for (const QString& run : runsOf(password)) {
            if (text.contains(run, Qt::CaseInsensitive) &&
                !without.contains(run, Qt::CaseInsensitive))
                std::abort();
        }
    }
    return 0;
}
