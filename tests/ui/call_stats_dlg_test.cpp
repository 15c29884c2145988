// The call statistics window on its own, fed figures by the test.
#include "ui/call_stats_dlg.h"
#include "ui/call_info_line.h"

#include <QLabel>
#include <QtTest>

using namespace velnar;

class CallStatsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void rowsShowFiguresAndDashesBeforeAnyCall();
    void refreshesWhileShown();
    void infoLineShowsTimeOnlyWhileConnected();
};

namespace {

QStringList Values(const CCallStatsDlg& dialog)
{
    QStringList values;
    for (QLabel* label : dialog.m_values)
        values << label->text();
    return values;
}

}  // namespace

void CallStatsDlgTest::rowsShowFiguresAndDashesBeforeAnyCall()
{
    CallFigures figures;
    CCallStatsDlg dialog([&figures] { return figures; });
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Call statistics"));
    QCOMPARE(Values(dialog), QStringList(CCallStatsDlg::kRows, QStringLiteral("-")));
    figures = {true, true, 65000, 2, 3250, 3240, 10, 2.46, 31, 60};
    dialog.Refresh();
    QCOMPARE(Values(dialog),
             (QStringList{"1:05", "GSM", "3250", "3240", "10", "2.5 ms", "31 ms", "60 ms"}));
    figures.connected = false;
    figures.roundTripMs = -1;
    dialog.Refresh();
    QCOMPARE(dialog.m_values[0]->text(), QStringLiteral("1:05 (ended)"));
    QCOMPARE(dialog.m_values[6]->text(), QStringLiteral("-"));
}

void CallStatsDlgTest::refreshesWhileShown()
{
    int reads = 0;
    CCallStatsDlg dialog([&reads] {
        ++reads;
        return CallFigures();
    });
    dialog.show();
    const int shown = reads;
    QVERIFY(QTest::qWaitFor([&] { return reads > shown; }, 5000));
}

void CallStatsDlgTest::infoLineShowsTimeOnlyWhileConnected()
{
    CallInfoLine line;
    CallFigures figures;
    figures.started = figures.connected = true;
    figures.durationMs = 3725000;
    line.ShowCall(figures);
    QCOMPARE(line.text(), QStringLiteral("Call time 1:02:05"));
    figures.connected = false;
    line.ShowCall(figures);
    QVERIFY(line.text().isEmpty());
}

QTEST_MAIN(CallStatsDlgTest)
#include "call_stats_dlg_test.moc"
