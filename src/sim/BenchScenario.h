#pragma once

#include <QString>
#include <QVector>

#include <optional>

enum class DutQuality { Good, Marginal, Failing };

// What the simulated bench holds: which analyser, how good the parts under test are and
// which bus faults it plays. Built from comma-separated words.
struct BenchScenario {
    enum class Ending { Eoi, CrLf, Lf, LfJunk };

    // A fault bound to a command: every time it comes, or only the nth time (from 1).
    struct Trigger {
        QString command;
        int occurrence = 0; // 0: every time
        bool operator==(const Trigger&) const = default;
    };

    QString model = QStringLiteral("2712");
    bool trackingGenerator = true;
    DutQuality quality = DutQuality::Good;
    enum class Board { Present, NoConfiguration, NoBoardDevice };
    Board board = Board::Present;
    bool instant = false; // the bench and every wait of the program on a virtual clock
    int analyserAddress = 18;
    bool noListener = false;
    int listeners = 0; // instruments wanted on the bus; 0: just the ones named
    bool twinAnalysers = false;
    bool othersFirst = false;
    QVector<Trigger> timeouts;    // queries the analyser never answers
    QVector<Trigger> writeErrors; // messages nobody takes
    bool noSrq = false;
    int staleSrqs = 0; // status bytes left pending before every SIG
    bool longAnswers = false;
    Ending ending = Ending::Eoi;
    int vanishAfter = 0; // MAMPL? queries before the analyser leaves the bus; 0: never

    // Empty text gives the default bench; an unknown word gives nothing.
    static std::optional<BenchScenario> parse(const QString& words);
    // One line per word.
    static QString help();
};
