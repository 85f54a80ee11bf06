#include "gui/tools/CChooseMeasureDlg.h"

#include "gui/common/Prompts.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

CChooseMeasureDlg::CChooseMeasureDlg(const measure::MeasureMap* measures, Mode mode, QWidget* parent)
    : QDialog(parent), m_pMeasures(measures), m_nMode(mode), m_listMeasures(new QTableWidget(0, 2, this)),
      m_editName(new QLineEdit(this))
{
    setObjectName(QStringLiteral("CChooseMeasureDlg"));
    setWindowTitle(mode == Save ? QStringLiteral("Choose a name for the Measure to save")
                                : QStringLiteral("Choose the Measure to load"));
    setModal(true);
    m_listMeasures->setObjectName(QStringLiteral("m_listMeasures"));
    m_editName->setObjectName(QStringLiteral("m_editName"));
    m_editName->setReadOnly(mode == Load);
    m_listMeasures->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Number of Points")});
    m_listMeasures->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listMeasures->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listMeasures->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listMeasures->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listMeasures->verticalHeader()->setVisible(false);
    m_listMeasures->horizontalHeader()->setStretchLastSection(true);
    if (m_pMeasures)
        for (const auto& [name, text] : *m_pMeasures) {
            m_listMeasures->insertRow(0);
            m_listMeasures->setItem(0, 0, new QTableWidgetItem(QString::fromStdString(name)));
            m_listMeasures->setItem(0, 1, new QTableWidgetItem(QString::number(measure::PointCount(text))));
        }
    m_listMeasures->setColumnWidth(0, static_cast<int>(0.7 * (320 - 1)));

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("Name:"), this));
    nameRow->addWidget(m_editName);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_listMeasures);
    layout->addLayout(nameRow);
    layout->addWidget(buttons);
    resize(360, 300);

    connect(buttons, &QDialogButtonBox::accepted, this, &CChooseMeasureDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_listMeasures, &QTableWidget::itemSelectionChanged, this, &CChooseMeasureDlg::OnListClicked);
    // Saving starts with typing the name.
    if (mode == Save) {
        m_editName->setFocus();
        setFocusProxy(m_editName);
    }
    connect(m_listMeasures, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (QTableWidgetItem* item = m_listMeasures->item(row, 0)) {
            m_editName->setText(item->text());
            accept();
        }
    });
}

void CChooseMeasureDlg::OnListClicked()
{
    const QList<QTableWidgetItem*> selected = m_listMeasures->selectedItems();
    QString name;
    for (QTableWidgetItem* item : selected)
        if (item->column() == 0)
            name = item->text();
    m_editName->setText(name);
}

void CChooseMeasureDlg::accept()
{
    if (m_nMode == Save) {
        m_strName = m_editName->text();
        if (m_strName.isEmpty()) {
            Prompt().Message(this, QStringLiteral("Insert a name!"), IPrompt::Icon::Warning);
            return;
        }
        if (!measure::IsStorableName(m_strName.toStdString())) {
            Prompt().Message(this, QStringLiteral("Warning! A line break is not allowed in a name!"),
                             IPrompt::Icon::Warning);
            return;
        }
        if (m_strName.contains(QLatin1Char(';'))) {
            Prompt().Message(this, QStringLiteral("Warning! The character \";\" is not allowed!"), IPrompt::Icon::Warning);
            return;
        }
        if (m_pMeasures && m_pMeasures->count(m_strName.toStdString()) &&
            !Prompt().AskYesNo(this, QStringLiteral("The measure already exists: overwrite it?")))
            return;
    } else {
        if (m_listMeasures->selectionModel()->selectedRows().size() != 1) {
            Prompt().Message(this, QStringLiteral("Select the measure to load!"), IPrompt::Icon::Warning);
            return;
        }
        m_strName = m_editName->text();
    }
    QDialog::accept();
}
