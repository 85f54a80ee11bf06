#pragma once
// "Representation Properties": how one model is drawn. A "Geometry" page
// (representation, interpolation, point size, line weight) and a "Color
// mode" page (colouring attribute, solid colour, range and lookup table);
// nothing changes in the model until "Apply".
#include "gui/common/CToolWindow.h"

#include <QWidget>
#include <string>

class CColorButton;
class CQuarlonDoc;
class CRangeSlider;
class CScanPos;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

class CScanPosOptionsGeometryTabDlg : public QWidget {
    Q_OBJECT
public:
    explicit CScanPosOptionsGeometryTabDlg(QWidget* parent);
    void SetModel(CScanPos* model);
    void LoadFromModel();
    // Empty when every list has a selection, else the message to show.
    QString CheckSettings() const;
    void ApplySettings();

private:
    CScanPos* m_pModel = nullptr;
    QComboBox* m_representation;
    QComboBox* m_interpolation;
    QComboBox* m_pointSize;
    QComboBox* m_lineWeight;
};

class CScanPosOptionsColorModeTabDlg : public QWidget {
    Q_OBJECT
public:
    explicit CScanPosOptionsColorModeTabDlg(QWidget* parent);
    void SetModel(CScanPos* model);
    void LoadFromModel();
    QString CheckSettings() const;
    void ApplySettings();

    void OnAttributeChanged();
    void OnReset();
    void OnRangeChanged();
    void OnMinKillFocus();
    void OnMaxKillFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The selected attribute's own text; empty without a selection.
    QString Attribute() const;
    // The range of the selected attribute's array into the edits and slider.
    void TakeAttributeRange();
    // A range end typed into the minimum (`lower`) or maximum edit, into the slider.
    void TakeTypedEnd(bool lower);

    CScanPos* m_pModel = nullptr;
    QComboBox* m_attribute;
    CColorButton* m_color;
    QLineEdit* m_min;
    CRangeSlider* m_slider;
    QLineEdit* m_max;
    QPushButton* m_reset;
    QComboBox* m_lut;
};

class CScanPosOptionsDlg : public CToolWindow {
    Q_OBJECT
public:
    CScanPosOptionsDlg(CScanPos* model, QWidget* parent);
    ~CScanPosOptionsDlg() override;

    void SetModel(CScanPos* model);
    void RefreshFromModel();
    CScanPos* GetModel() const { return m_pModel; }
    CScanPosOptionsGeometryTabDlg* GeometryPage() const { return m_pGeometry; }
    CScanPosOptionsColorModeTabDlg* ColorPage() const { return m_pColor; }

public slots:
    void OnApply();
    void accept() override {} // Enter does nothing
    void reject() override {} // nor does Escape

private:
    // The model left its document: never use it again.
    void OnModelRemoved(const std::string& path);
    void Watch(CScanPos* model);

    CScanPos* m_pModel = nullptr;
    std::string m_strModelPath;
    CQuarlonDoc* m_pDocument = nullptr;
    int m_nRemovalListener = 0;
    QTabWidget* m_tabs;
    QLabel* m_info;
    CScanPosOptionsGeometryTabDlg* m_pGeometry;
    CScanPosOptionsColorModeTabDlg* m_pColor;
};
