#pragma once
// The scale tool of a document window: two reference points picked in the
// view, their distance, and the length it should have; "Update" scales the
// document's first model by the ratio.
#include "gui/common/CToolWindow.h"

class IModelView;
class QLineEdit;

class CScaleDlg : public CToolWindow {
    Q_OBJECT
public:
    CScaleDlg(IModelView* view, QWidget* parent);

    // Reference point 1 or 2 picked (document coordinates); `length` is
    // their distance once both exist, negative before.
    void SetPoint(int which, const double point[3], double length);
    bool HasPoint(int which) const;

public slots:
    void OnApplyScale();
    void accept() override; // Close
    void reject() override; // Escape: as Close

signals:
    // The captions "Pt 1" and "Pt 2" are to hide (the dialog closed).
    void captionsHidden();

private:
    IModelView* m_pView;
    QLineEdit* m_editPoint1;
    QLineEdit* m_editPoint2;
    QLineEdit* m_editCurrentLength;
    QLineEdit* m_editNewLength;
};
