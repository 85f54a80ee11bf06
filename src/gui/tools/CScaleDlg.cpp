#include "gui/tools/CScaleDlg.h"
#include "gui/tools/CSnapChoice.h"

#include "core/measure/ScaleFactor.h"
#include "core/model/CQuarlonDoc.h"
#include "gui/common/IModelView.h"
#include "gui/common/Prompts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CScaleDlg::CScaleDlg(IModelView* view, QWidget* parent)
    : CToolWindow(parent), m_pView(view), m_editPoint1(MakeField("m_editPoint1")),
      m_editPoint2(MakeField("m_editPoint2")), m_editCurrentLength(MakeField("m_editCurrentLength")),
      m_editNewLength(MakeField("m_editNewLength", false))
{
    setObjectName(QStringLiteral("CScaleDlg"));
    setWindowTitle(QStringLiteral("Scale "));

    auto* reference = new QGroupBox(QStringLiteral("Reference Points"), this);
    auto* refGrid = new QGridLayout(reference);
    refGrid->addWidget(new QLabel(QStringLiteral("First point  (SHIFT + Left Click):"), reference), 0, 0);
    refGrid->addWidget(m_editPoint1, 1, 0);
    refGrid->addWidget(new QLabel(QStringLiteral("Second point  (SHIFT + Right Click):"), reference), 2, 0);
    refGrid->addWidget(m_editPoint2, 3, 0);
    refGrid->addWidget(new CSnapChoice(reference), 4, 0);

    auto* scale = new QGroupBox(QStringLiteral("Scale"), this);
    auto* scaleGrid = new QGridLayout(scale);
    scaleGrid->addWidget(new QLabel(QStringLiteral("Current Length:"), scale), 0, 0);
    scaleGrid->addWidget(m_editCurrentLength, 0, 1);
    scaleGrid->addWidget(new QLabel(QStringLiteral("New length:"), scale), 1, 0);
    scaleGrid->addWidget(m_editNewLength, 1, 1);
    auto* update = new QPushButton(QStringLiteral("Update"), scale);
    update->setObjectName(QStringLiteral("updateButton"));
    update->setAutoDefault(false);
    scaleGrid->addWidget(update, 1, 2);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(reference);
    layout->addWidget(scale);
    layout->addLayout(bottom);

    connect(update, &QPushButton::clicked, this, &CScaleDlg::OnApplyScale);
    connect(close, &QPushButton::clicked, this, &CScaleDlg::accept);
}

void CScaleDlg::SetPoint(int which, const double p[3], double length)
{
    (which == 1 ? m_editPoint1 : m_editPoint2)->setText(QString::asprintf("%.3f, %.3f, %.3f", p[0], p[1], p[2]));
    if (length >= 0) {
        const QString text = QString::asprintf("%.3f", length);
        m_editCurrentLength->setText(text);
        m_editNewLength->setText(text);
    }
}

bool CScaleDlg::HasPoint(int which) const { return !(which == 1 ? m_editPoint1 : m_editPoint2)->text().isEmpty(); }

void CScaleDlg::OnApplyScale()
{
    double factor = 1.0;
    switch (measure::CheckScale(m_editCurrentLength->text().toStdString(), m_editNewLength->text().toStdString(), &factor)) {
    case measure::ScaleCheck::BadNewLength:
        Prompt().Message(this, QStringLiteral("Please verify New Length value."), IPrompt::Icon::None);
        return;
    case measure::ScaleCheck::SameLength:
        Prompt().Message(this, QStringLiteral("No Scale is needed. Please insert a different length value"),
                         IPrompt::Icon::None);
        return;
    case measure::ScaleCheck::NoCurrentLength:
        // Two distinct reference points are needed for any factor.
        Prompt().Message(this, QStringLiteral("Please pick two different reference points first."),
                         IPrompt::Icon::None);
        return;
    case measure::ScaleCheck::Ok: break;
    }
    CQuarlonDoc* doc = m_pView ? m_pView->GetDocument() : nullptr;
    if (!doc || !Prompt().AskYesNo(this, QStringLiteral("Confirm scale changes?")))
        return;
    CQuarlonDoc::Position pos = doc->GetFirstModelPosition();
    CScanPos* model = pos ? doc->GetNextModel(pos) : nullptr;
    if (!model || !measure::ScaleModel(model, factor))
        return;
    m_pView->OnModelScaled(model, factor);
    m_pView->Render();
}

void CScaleDlg::accept()
{
    emit captionsHidden();
    hide();
}

void CScaleDlg::reject() { accept(); }

