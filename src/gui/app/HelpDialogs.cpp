#include "gui/app/HelpDialogs.h"

#include "gui/common/Prompts.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#ifndef QUARLON_VERSION
#define QUARLON_VERSION "0.0.0"
#endif

namespace {

const char* const kWebSite = "https://tarvole.example/quarlon";
const char* const kMail = "support@tarvole.example";
const char* const kFeedback = "https://tarvole.example/quarlon/feedback";

const char* const kVtkLicense =
    "Visualization Toolkit (VTK)\n"
    "Copyright (c) 1993-2008 Ken Martin, Will Schroeder, Bill Lorensen\n"
    "All rights reserved.\n\n"
    "Redistribution and use in source and binary forms, with or without modification, are permitted "
    "provided that the following conditions are met:\n\n"
    " * Redistributions of source code must retain the above copyright notice, this list of conditions "
    "and the following disclaimer.\n\n"
    " * Redistributions in binary form must reproduce the above copyright notice, this list of conditions "
    "and the following disclaimer in the documentation and/or other materials provided with the "
    "distribution.\n\n"
    " * Neither name of Ken Martin, Will Schroeder, or Bill Lorensen nor the names of any contributors may "
    "be used to endorse or promote products derived from this software without specific prior written "
    "permission.\n\n"
    "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS ``AS IS'' AND ANY EXPRESS OR "
    "IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES OF MERCHANTABILITY AND "
    "FITNESS FOR A PARTICULAR PURPOSE ARE DISCLAIMED. IN NO EVENT SHALL THE AUTHORS OR CONTRIBUTORS BE "
    "LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, EXEMPLARY, OR CONSEQUENTIAL DAMAGES (INCLUDING, "
    "BUT NOT LIMITED TO, PROCUREMENT OF SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, DATA, OR PROFITS; OR "
    "BUSINESS INTERRUPTION) HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY, WHETHER IN CONTRACT, STRICT "
    "LIABILITY, OR TORT (INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF THE USE OF THIS "
    "SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.\n";

QLabel* Link(const QString& url, const QString& text, QWidget* parent, const char* name)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text.toHtmlEscaped()), parent);
    label->setObjectName(QLatin1String(name));
    label->setOpenExternalLinks(true);
    return label;
}

} // namespace

QString ProgramVersion()
{
    // Four numbers, as a file version has them.
    QStringList parts = QString::fromLatin1(QUARLON_VERSION).split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts << QStringLiteral("0");
    QString text = QStringLiteral("%1,%2,%3,%4").arg(parts[0].toUInt()).arg(parts[1].toUInt()).arg(parts[2].toUInt()).arg(parts[3].toUInt());
    return text.replace(QLatin1Char(','), QLatin1Char('.'));
}

CAboutDlg::CAboutDlg(const QString& version, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Quarlon"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Quarlon\nVersion %1").arg(version), this);
    title->setObjectName(QStringLiteral("versionText"));
    layout->addWidget(title);
    layout->addWidget(new QLabel(QStringLiteral("Tarvole Software"), this));
    layout->addWidget(Link(QLatin1String(kWebSite), QLatin1String(kWebSite), this, "webLink"));
    layout->addWidget(Link(QStringLiteral("mailto:%1").arg(QLatin1String(kMail)), QLatin1String(kMail), this, "mailLink"));
    layout->addWidget(Link(QLatin1String(kFeedback), QStringLiteral("Feedback"), this, "feedbackLink"));
    auto* vtk = new QPushButton(QStringLiteral("Quarlon uses the Visualization Toolkit (VTK) which is open source"), this);
    vtk->setObjectName(QStringLiteral("vtkLicenseButton"));
    // Room around the long text, as a button's label has elsewhere.
    vtk->setMinimumWidth(vtk->fontMetrics().horizontalAdvance(vtk->text()) + 4 * vtk->fontMetrics().averageCharWidth() + 16);
    vtk->setMinimumHeight(vtk->sizeHint().height() + 6);
    layout->addWidget(vtk);
    connect(vtk, &QPushButton::clicked, this, [this] {
        CVtkLicenseDlg dlg(this);
        dlg.exec();
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

CVtkLicenseDlg::CVtkLicenseDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CVtkLicenseDlg"));
    setWindowTitle(QStringLiteral("VTK License"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QPlainTextEdit(QString::fromLatin1(kVtkLicense), this);
    text->setObjectName(QStringLiteral("licenseText"));
    text->setReadOnly(true);
    text->setMinimumSize(520, 360);
    layout->addWidget(text);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

CTutorialDlg::CTutorialDlg(const QString& helpFolder, QWidget* parent)
    : QDialog(parent), m_strFolder(helpFolder), m_pLanguage(new QComboBox(this))
{
    setObjectName(QStringLiteral("CTutorialDlg"));
    setWindowTitle(QStringLiteral("Select Tutorial Language"));
    m_pLanguage->setObjectName(QStringLiteral("languageCombo"));
    m_pLanguage->addItems({QStringLiteral("Italiano"), QStringLiteral("English")});
    m_pLanguage->setCurrentIndex(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pLanguage);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTutorialDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Wide enough for the whole title beside the title bar's buttons.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
}

QString CTutorialDlg::ChosenFile() const
{
    const QString name = m_pLanguage->currentIndex() == 0 ? QStringLiteral("Quarlon_ITA.chm") : QStringLiteral("Quarlon_ENG.chm");
    return m_strFolder + QLatin1Char('/') + name;
}

void CTutorialDlg::accept()
{
    const QString file = ChosenFile();
    if (!QFileInfo(file).isFile()) {
        Prompt().Message(this,
                         QStringLiteral("Unable to find tutorial file into default directory. Please contact Tarvole "
                                        "Software in order to download a new tutorial file"),
                         IPrompt::Icon::Information);
        return; // the dialog stays open
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    QDialog::accept();
}

CMouseInteractionDlg::CMouseInteractionDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMouseInteractionDlg"));
    setWindowTitle(QStringLiteral("Mouse Interaction"));
    static const char* const kRows[][3] = {
        {"Left", "---", "Hold & Drag to rotate XY"},
        {"Left", "CTRL", "Hold & Drag to rotate Z"},
        {"Left", "CTRL + SHIFT", "Click on model to change the rotation center"},
        {"Left", "SHIFT", "Click to pick measure point"},
        {"Middle", "---", "Hold & Drag to pan"},
        {"Right", "---", "Hold & Drag to zoom"},
    };
    auto* grid = new QGridLayout(this);
    const char* const kHeads[] = {"Button", "Key", "Action"};
    for (int c = 0; c < 3; ++c) {
        auto* head = new QLabel(QStringLiteral("<b>%1</b>").arg(QLatin1String(kHeads[c])), this);
        grid->addWidget(head, 0, c);
    }
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 3; ++c) {
            auto* label = new QLabel(QLatin1String(kRows[r][c]), this);
            label->setObjectName(QStringLiteral("cell_%1_%2").arg(r).arg(c));
            grid->addWidget(label, r + 1, c);
        }
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    grid->addWidget(close, 7, 2, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}
