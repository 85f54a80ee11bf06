#include "gui/exchange/CModelListDlg.h"

#include "gui/common/Icons.h"
#include "gui/common/Prompts.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/common/IModelView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <QFileInfo>

namespace {

const QColor kDocumentRow(210, 240, 250);

QString BaseName(const std::string& path) { return QFileInfo(QString::fromStdString(path)).completeBaseName(); }

// Rows are drawn from their model: the bulb in column 0, the base name in
// column 1, light blue for the model named like the document.
class RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(CModelListCtrl* list) : QStyledItemDelegate(list), m_pList(list) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        CScanPos* model = m_pList->GetModelAt(index.row());
        if (!model)
            return;
        const bool selected = option.state & QStyle::State_Selected;
        QColor background = Qt::white;
        QColor text = Qt::black;
        if (selected) {
            background = option.palette.color(QPalette::Highlight);
            text = option.palette.color(QPalette::HighlightedText);
        } else {
            CQuarlonDoc* doc = m_pList->Owner() ? m_pList->Owner()->GetDocument() : nullptr;
            if (doc && BaseName(model->GetPath()) == BaseName(doc->GetPathName()))
                background = kDocumentRow;
        }
        p->fillRect(option.rect, background);
        if (index.column() == 0) {
            p->drawPixmap(option.rect.left() + 2, option.rect.top(), BulbPixmap(model->IsVisible()));
        } else {
            p->setPen(text);
            p->drawText(option.rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(model->GetName()));
        }
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(16, 18); }

private:
    CModelListCtrl* m_pList;
};

} // namespace

CModelListCtrl::CModelListCtrl(QWidget* parent) : QTableWidget(parent)
{
    setObjectName(QStringLiteral("modelList"));
    setItemDelegate(new RowDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setStretchLastSection(false);
    // The two columns fill the width; the bulbs never scroll out of sight.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAutoScroll(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

void CModelListCtrl::InitList(IModelView* owner)
{
    m_pOwner = owner;
    setColumnCount(2);
    setHorizontalHeaderLabels({QString(), QStringLiteral("Name")});
    setColumnWidth(0, 16);
    setColumnWidth(1, std::max(16, viewport()->width() - 17));
}

void CModelListCtrl::resizeEvent(QResizeEvent* event)
{
    QTableWidget::resizeEvent(event);
    setColumnWidth(1, std::max(16, viewport()->width() - 17));
}

CScanPos* CModelListCtrl::GetModelAt(int row) const
{
    const QTableWidgetItem* it = item(row, 0);
    CQuarlonDoc* doc = m_pOwner ? m_pOwner->GetDocument() : nullptr;
    if (!it || !doc)
        return nullptr;
    return doc->FindModel(it->data(Qt::UserRole).toString().toStdString());
}

QList<int> CModelListCtrl::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CModelListCtrl::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (event->button() == Qt::RightButton) {
        if (index.isValid() && index.column() == 0 && GetModelAt(index.row()))
            emit bulbRightClicked(index.row());
        return;
    }
    QTableWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid() && index.column() == 0 && GetModelAt(index.row()))
        emit bulbClicked(index.row());
    if (event->button() == Qt::LeftButton && index.isValid() && GetModelAt(index.row()))
        emit rowClicked(index.row());
}

CModelListDlg::CModelListDlg(IModelView* owner, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint), m_pOwner(owner),
      m_pList(new CModelListCtrl(this))
{
    setObjectName(QStringLiteral("CModelListDlg"));
    setWindowTitle(QStringLiteral("Models List"));
    setModal(false);
    auto* add = new QPushButton(QStringLiteral("Add"), this);
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    auto* hide = new QPushButton(QStringLiteral("Hide Window"), this);
    add->setObjectName(QStringLiteral("addButton"));
    remove->setObjectName(QStringLiteral("removeButton"));
    hide->setObjectName(QStringLiteral("hideButton"));
    for (QPushButton* b : {add, remove, hide})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(hide);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_pList);
    layout->addLayout(buttons);
    resize(240, 220);
    m_pList->InitList(owner);

    connect(add, &QPushButton::clicked, this, &CModelListDlg::OnAddModels);
    connect(remove, &QPushButton::clicked, this, &CModelListDlg::OnRemoveModels);
    connect(hide, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_pList, &CModelListCtrl::bulbClicked, this, &CModelListDlg::OnClickBulb);
    connect(m_pList, &CModelListCtrl::bulbRightClicked, this, &CModelListDlg::OnRightClickBulb);
    connect(m_pList, &CModelListCtrl::rowClicked, this, [this](int row) { emit modelClicked(GetModelAt(row)); });
    if (CQuarlonDoc* doc = Document())
        m_nRemovalListener = doc->AddRemovalListener([this](const std::string& path) {
            const QString key = QString::fromStdString(path);
            for (int row = m_pList->rowCount() - 1; row >= 0; --row)
                if (m_pList->item(row, 0) && m_pList->item(row, 0)->data(Qt::UserRole).toString() == key)
                    m_pList->removeRow(row);
            emit modelsChanged();
        });
}

CModelListDlg::~CModelListDlg()
{
    if (CQuarlonDoc* doc = Document())
        doc->RemoveRemovalListener(m_nRemovalListener);
}

void CModelListDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    emit visibilityChanged();
}

void CModelListDlg::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    emit visibilityChanged();
}

CQuarlonDoc* CModelListDlg::Document() const { return m_pOwner ? m_pOwner->GetDocument() : nullptr; }

void CModelListDlg::FillFromDocument()
{
    CQuarlonDoc* doc = Document();
    if (!doc)
        return;
    m_pList->clearContents();
    m_pList->setRowCount(0);
    CQuarlonDoc::Position pos = doc->GetFirstModelPosition();
    while (pos) {
        CScanPos* model = doc->GetNextModel(pos);
        const int row = m_pList->rowCount();
        m_pList->insertRow(row);
        auto* bulb = new QTableWidgetItem;
        bulb->setData(Qt::UserRole, QString::fromStdString(model->GetPath()));
        bulb->setCheckState(model->IsVisible() ? Qt::Checked : Qt::Unchecked);
        m_pList->setItem(row, 0, bulb);
        // The name is painted by the delegate; the item carries it too.
        m_pList->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(model->GetName())));
    }
    m_pList->viewport()->update();
}

void CModelListDlg::RepaintAll()
{
    m_pList->viewport()->update();
    if (m_pOwner)
        m_pOwner->Render();
    emit modelsChanged();
}

void CModelListDlg::OnClickBulb(int row)
{
    CScanPos* model = GetModelAt(row);
    if (!model)
        return;
    model->SetVisibility(!model->IsVisible());
    m_pList->item(row, 0)->setCheckState(model->IsVisible() ? Qt::Checked : Qt::Unchecked);
    RepaintAll();
}

void CModelListDlg::OnRightClickBulb(int row)
{
    CScanPos* clicked = GetModelAt(row);
    if (!clicked)
        return;
    const bool target = !clicked->IsVisible();
    for (int r = 0; r < m_pList->rowCount(); ++r) {
        CScanPos* model = GetModelAt(r);
        if (model && model->IsVisible() != target) {
            model->SetVisibility(target);
            m_pList->item(r, 0)->setCheckState(target ? Qt::Checked : Qt::Unchecked);
        }
    }
    RepaintAll();
}

void CModelListDlg::OnAddModels()
{
    emit addRequested();
    FillFromDocument();
}

void CModelListDlg::OnRemoveModels()
{
    CQuarlonDoc* doc = Document();
    if (!doc)
        return;
    const QList<int> rows = m_pList->SelectedRows();
    if (rows.isEmpty()) {
        Prompt().Message(this, QStringLiteral("Select the model(s) to remove!"), IPrompt::Icon::Warning);
        return;
    }
    if (!Prompt().AskYesNo(this, QStringLiteral("Remove selected model(s)?")))
        return;
    QList<CScanPos*> models;
    for (int row : rows)
        if (CScanPos* model = GetModelAt(row))
            models << model;
    for (CScanPos* model : models)
        doc->RemoveModel(model);
    FillFromDocument();
    RepaintAll();
}
