#include "gui/tools/CSnapChoice.h"

#include "core/common/AppSettings.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

CSnapChoice::CSnapChoice(QWidget* parent) : QWidget(parent), m_combo(new QComboBox(this))
{
    m_combo->setObjectName(QStringLiteral("m_comboSnap"));
    m_combo->addItems({QStringLiteral("Off"), QStringLiteral("Points"), QStringLiteral("Corners and edges")});
    m_combo->setToolTip(QStringLiteral("Off: the point under the cursor as drawn. Points: an actual point of a cloud, "
                                       "the exact surface of a mesh. Corners and edges: a mesh's corner within 12 "
                                       "pixels, else an edge within 8, else the surface."));
    m_combo->setCurrentIndex(Stored());
    // The tools keep their width: the choice takes what the row leaves.
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(8);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Snap:"), this));
    layout->addWidget(m_combo, 1);
    connect(m_combo, QOverload<int>::of(&QComboBox::activated), this, [](int index) {
        appsettings::WriteSetting("Measure", "Snap", std::to_string(index));
    });
}

int CSnapChoice::Stored()
{
    const int v = appsettings::ReadIntSetting("Measure", "Snap", "0");
    return v >= 0 && v <= 2 ? v : 0;
}

void CSnapChoice::showEvent(QShowEvent* event)
{
    // The other tool may have changed it.
    m_combo->setCurrentIndex(Stored());
    QWidget::showEvent(event);
}
