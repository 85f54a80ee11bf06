#include "CQuarlonFrame.h"

#include "CQuarlonView.h"
#include "common/AppSettings.h"
#include "controls/CVTKListenerDlg.h"
#include "model/CQuarlonDoc.h"

#include <QFileInfo>
#include <QVBoxLayout>

CQuarlonFrame::CQuarlonFrame(QWidget* parent)
    : QWidget(parent), m_pDocument(std::make_unique<CQuarlonDoc>()), m_pView(new CQuarlonView(this))
{
    setObjectName(QStringLiteral("CQuarlonFrame"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pView);
    m_pView->SetDocument(m_pDocument.get());
    m_pView->SetTools(this);
    m_pDocument->SetView(m_pView);
    m_pDocument->SetProgressFactory([] { return std::make_unique<CVTKListenerDlg>(); });
}

CQuarlonFrame::~CQuarlonFrame()
{
    // The next view starts with the projection of the last one closed.
    appsettings::WriteSetting("Quarlon", "PerspectiveView", std::to_string(m_pView->GetProjectionMode()));
    // Models leave the renderer before the view goes.
    m_pDocument->OnCloseDocument();
    m_pDocument.reset();
}

bool CQuarlonFrame::OpenDocument(const QString& path)
{
    return m_pDocument->OnOpenDocument(path.toStdString());
}

bool CQuarlonFrame::OpenInsideFile(const QString& path)
{
    // Exactly these extensions, case included.
    const QString suffix = QFileInfo(path).suffix();
    if (suffix != QLatin1String("vtp") && suffix != QLatin1String("pvtp") && suffix != QLatin1String("vtk"))
        return false;
    return m_pDocument->AddModel(path.toStdString()) != nullptr;
}

QString CQuarlonFrame::Title() const
{
    const std::string& path = m_pDocument->GetPathName();
    return path.empty() ? QStringLiteral("Quarlon") : QFileInfo(QString::fromStdString(path)).fileName();
}
