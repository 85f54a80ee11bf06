#include "gui/controls/CVTKListenerDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

CVTKListenerDlg::CVTKListenerDlg(QWidget* parent)
    : QDialog(parent), m_pStage(new QLabel(QStringLiteral("..."), this)),
      m_pPercent(new QLabel(QStringLiteral("..."), this)), m_pProgress(new QProgressBar(this)),
      m_pAbort(new QPushButton(QStringLiteral("Abort"), this))
{
    setObjectName(QStringLiteral("CVTKListenerDlg"));
    setWindowTitle(QStringLiteral("Quarlon - Tarvole Software"));
    // Input elsewhere waits while the work runs (Abort stays at hand): a
    // command that closed or changed the document would pull it from under
    // the load.
    setWindowModality(Qt::ApplicationModal);
    m_pStage->setObjectName(QStringLiteral("stageText"));
    m_pPercent->setObjectName(QStringLiteral("percentText"));
    m_pProgress->setObjectName(QStringLiteral("progressBar"));
    m_pAbort->setObjectName(QStringLiteral("abortButton"));
    m_pAbort->setAutoDefault(false);
    m_pProgress->setTextVisible(false);
    m_pStage->setMinimumWidth(300);
    m_pPercent->setMinimumWidth(48);
    m_pPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pStage, 0, 0);
    grid->addWidget(m_pPercent, 0, 1);
    grid->addWidget(m_pProgress, 1, 0, 1, 2);
    grid->addWidget(m_pAbort, 1, 2);
    connect(m_pAbort, &QPushButton::clicked, this, &CVTKListenerDlg::OnAbort);

    // As the window initialises: empty stage, 0%, bar at 0 of 100.
    m_pStage->clear();
    m_pPercent->setText(QStringLiteral("0%"));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    show();
    PumpMessages();
}

CVTKListenerDlg::~CVTKListenerDlg()
{
    if (m_bWaitCursor)
        QApplication::restoreOverrideCursor();
}

bool CVTKListenerDlg::SetText(const std::string& text)
{
    m_pStage->setText(QString::fromStdString(text));
    return true;
}

void CVTKListenerDlg::SetFraction(double fraction)
{
    const int percent = ProgressPercent(fraction);
    m_pProgress->setValue(percent);
    m_pPercent->setText(QStringLiteral("%1%").arg(percent));
}

void CVTKListenerDlg::OnAbortPending()
{
    // The wait cursor lasts until the operation has wound down.
    if (!m_bWaitCursor) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_bWaitCursor = true;
    }
}

void CVTKListenerDlg::PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

QString CVTKListenerDlg::StageText() const { return m_pStage->text(); }
QString CVTKListenerDlg::PercentText() const { return m_pPercent->text(); }

void CVTKListenerDlg::closeEvent(QCloseEvent* event)
{
    // Closing the window asks to abort, like the button; the operation ends it.
    m_nAbort = 1;
    event->ignore();
}
