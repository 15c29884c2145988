// The call statistics window (Options -> Call statistics): the figures of the
// current call, or of the last one, refreshed every second while shown.
// Modeless and without an owner, like the messages window; closing it only
// hides it.
#pragma once

#include "engine/call_stats.h"

#include <QDialog>
#include <QTimer>

#include <functional>

class QLabel;
class QPushButton;

namespace velnar {

class CCallStatsDlg : public QDialog {
    Q_OBJECT
public:
    using FiguresFn = std::function<CallFigures()>;

    explicit CCallStatsDlg(FiguresFn figures);

    // Shows and activates the window, or brings it to the front.
    void ShowAndActivate();
    // Reads the figures again (the window's timer does it every second).
    void Refresh();

    // The value labels, in the order of kRowNames.
    static constexpr int kRows = 8;
    QLabel* m_values[kRows];
    QPushButton* m_closeButton;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    FiguresFn m_figures;
    QTimer m_refreshTimer;
};

}  // namespace velnar
