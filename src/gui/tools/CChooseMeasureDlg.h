#pragma once
// Asks for the name of a measure to store, or lets the user pick a stored
// measure to load; lists the stored measures with their point counts.
#include "core/measure/MeasureFile.h"

#include <QDialog>

class QLineEdit;
class QTableWidget;

class CChooseMeasureDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { Save = 0, Load = 1 };
    CChooseMeasureDlg(const measure::MeasureMap* measures, Mode mode, QWidget* parent);
    QString GetName() const { return m_strName; }

public slots:
    void accept() override;

private:
    void OnListClicked();

    const measure::MeasureMap* m_pMeasures;
    QString m_strName;
    Mode m_nMode;
    QTableWidget* m_listMeasures;
    QLineEdit* m_editName;
};
