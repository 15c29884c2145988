// The Settings dialog's protocol controls: the version the phone speaks,
// whether it registers with the server to receive calls, and the order in
// which it offers codecs. Registration and the codec order belong to version
// 2 and are enabled only with it (version 1 speaks GSM alone); a choice made
// there is kept while version 1 is selected, so switching back finds it.
#pragma once

#include "settings/protocol_settings.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QWidget;

namespace velnar {

class DialogUnits;

class ProtocolChoice : public QObject {
    Q_OBJECT
public:
    // Creates the controls on dialog, in a group whose top edge is at top
    // (dialog units), in tab order among themselves.
    ProtocolChoice(QWidget* dialog, const DialogUnits& units, int top);

    void Show(const ProtocolSettings& protocol);
    ProtocolSettings Chosen() const;

    // The group's height in dialog units.
    static constexpr int kHeightUnits = 79;

    QComboBox* m_versionBox;
    QCheckBox* m_registerCheck;
    QListWidget* m_codecList;  // most preferred first
    QPushButton* m_upButton;
    QPushButton* m_downButton;

private:
    void CreateCodecControls(QWidget* dialog, const DialogUnits& units, int top);
    // Every enabling of these controls goes through here.
    void UpdateEnabled();
    void MoveCodec(int rows);
};

}  // namespace velnar
