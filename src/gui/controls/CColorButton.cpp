#include "gui/controls/CColorButton.h"

#include "gui/common/Prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QToolTip>
#include <qdrawutil.h>

namespace {

struct NamedColour {
    const char* name;
    unsigned char r, g, b;
};

const NamedColour kTable[CColourPopup::kColours] = {
    {"Nero", 0, 0, 0},
    {"Marrone", 165, 42, 0},
    {"Verde Oliva Scuro", 0, 64, 64},
    {"Verde Scuro", 0, 85, 0},
    {"Dark Teal", 0, 0, 94},
    {"Blu Scuro", 0, 0, 139},
    {"Indaco", 75, 0, 130},
    {"Grigio Scuro", 40, 40, 40},
    {"Rosso Scuro", 139, 0, 0},
    {"Arancione", 255, 104, 32},
    {"Giallo Scuro", 139, 139, 0},
    {"Verde", 0, 147, 0},
    {"Teal", 56, 142, 142},
    {"Blu", 0, 0, 255},
    {"Grigio-Blu", 123, 123, 192},
    {"Grigio - 40", 102, 102, 102},
    {"Rosso", 255, 0, 0},
    {"Arancione Chiaro", 255, 173, 91},
    {"Lime", 50, 205, 50},
    {"Verde Mare", 60, 179, 113},
    {"Acqua", 127, 255, 212},
    {"Blu Chiaro", 125, 158, 192},
    {"Violetto", 128, 0, 128},
    {"Grigio - 50", 127, 127, 127},
    {"Rosa", 255, 192, 203},
    {"Oro", 255, 215, 0},
    {"Giallo", 255, 255, 0},
    {"Verde Luminoso", 0, 255, 0},
    {"Turchese", 64, 224, 208},
    {"Celeste", 192, 255, 255},
    {"Prugna", 72, 0, 72},
    {"Grigio Chiaro", 192, 192, 192},
    {"Rosa", 255, 228, 225},
    {"Tan", 210, 180, 140},
    {"Giallo Chiaro", 255, 255, 224},
    {"Verde Pallido", 152, 251, 152},
    {"Turchese Pallido", 175, 238, 238},
    {"Blu Pallido", 104, 131, 139},
    {"Lavanda", 230, 230, 250},
    {"Bianco", 255, 255, 255},
};

QColor ToQColor(unsigned int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
unsigned int FromQColor(const QColor& c)
{
    return static_cast<unsigned int>(c.red()) | (static_cast<unsigned int>(c.green()) << 8) |
           (static_cast<unsigned int>(c.blue()) << 16);
}

} // namespace

// ---------------------------------------------------------------- button

CColorButton::CColorButton(QWidget* parent)
    : QPushButton(parent), m_defaultColour(FromQColor(QApplication::palette().color(QPalette::Mid)))
{
    setMinimumSize(48, 22);
    connect(this, &QPushButton::clicked, this, &CColorButton::OnClicked);
}

CColorButton::~CColorButton()
{
    if (m_pPopup)
        m_pPopup->deleteLater();
}

CColourPopup* CColorButton::Popup() const { return m_pPopup; }

void CColorButton::SetColor(unsigned int colour)
{
    m_colour = colour;
    update();
}

void CColorButton::SetDefaultColor(unsigned int colour)
{
    m_defaultColour = colour;
    update();
}

void CColorButton::OnClicked()
{
    if (m_pPopup)
        return;
    m_bPopupActive = true;
    update();
    m_pPopup = new CColourPopup(mapToGlobal(rect().bottomLeft() + QPoint(0, 1)), m_colour, this, m_strDefaultText,
                                m_strCustomText);
    connect(m_pPopup, &CColourPopup::selectionChanged, this, &CColorButton::OnPopupChanged);
    connect(m_pPopup, &CColourPopup::accepted, this, &CColorButton::OnPopupAccepted);
    connect(m_pPopup, &CColourPopup::cancelled, this, &CColorButton::OnPopupCancelled);
    connect(m_pPopup, &QObject::destroyed, this, [this] { m_pPopup = nullptr; });
    emit dropDown(m_colour);
}

void CColorButton::OnPopupChanged(unsigned int colour)
{
    if (m_bTrackSelection)
        SetColor(colour);
    emit selectionChanged(colour);
}

void CColorButton::OnPopupAccepted(unsigned int colour)
{
    m_bPopupActive = false;
    const unsigned int old = m_colour;
    SetColor(colour);
    emit closedUp(colour);
    emit selectionAccepted(colour);
    if (old != colour)
        emit selectionChanged(colour);
}

void CColorButton::OnPopupCancelled(unsigned int colour)
{
    m_bPopupActive = false;
    SetColor(colour);
    emit closedUp(colour);
    emit selectionCancelled(colour);
}

void CColorButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    if (m_bPopupActive)
        option.state |= QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
    const int edge = 2;
    QRect content = rect().adjusted(edge + 2, edge + 2, -edge - 2, -edge - 2);
    if (isDown() || m_bPopupActive)
        content.translate(1, 1);
    // The arrow at the right, then an etched edge, then the swatch.
    const int arrowLeft = content.right() - 4 - edge / 2 - 4;
    const int middle = content.center().y();
    const QColor ink = isEnabled() ? Qt::black : palette().color(QPalette::Disabled, QPalette::Text);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(QPolygon({QPoint(arrowLeft, middle - 1), QPoint(arrowLeft + 4, middle - 1),
                            QPoint(arrowLeft + 2, middle + 1)}));
    const int etch = arrowLeft - 4;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(etch, content.top(), etch, content.bottom());
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(etch + 1, content.top(), etch + 1, content.bottom());
    if (!isEnabled())
        return; // a disabled button shows no swatch
    const QRect swatch(content.left(), content.top(), etch - 2 - content.left(), content.height());
    p.setPen(Qt::black);
    p.setBrush(ToQColor(m_colour == kAutomaticColor ? m_defaultColour : m_colour));
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
}

// ----------------------------------------------------------------- popup

unsigned int CColourPopup::TableColour(int index)
{
    const NamedColour& c = kTable[index];
    return c.r | (c.g << 8) | (c.b << 16);
}

QString CColourPopup::TableName(int index) { return QString::fromLatin1(kTable[index].name); }

CColourPopup::CColourPopup(const QPoint& topLeft, unsigned int colour, CColorButton* button, const QString& defaultText,
                           const QString& customText)
    : QWidget(button, Qt::Popup | Qt::FramelessWindowHint), m_initialColour(colour), m_colour(colour),
      m_strDefaultText(defaultText), m_strCustomText(customText)
{
    setObjectName(QStringLiteral("CColourPopup"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    if (m_nBoxSize - 2 * m_nMargin - 2 < 5)
        m_nBoxSize = 2 * m_nMargin + 7;
    Layout(topLeft, button ? button->height() : 0);
    // The entry that holds the opening colour.
    if (colour == kAutomaticColor && !m_strDefaultText.isEmpty()) {
        m_nChosenColourSel = kDefaultEntry;
    } else {
        for (int i = 0; i < kColours && m_nChosenColourSel == kNone; ++i)
            if (TableColour(i) == colour)
                m_nChosenColourSel = i;
        if (m_nChosenColourSel == kNone && !m_strCustomText.isEmpty())
            m_nChosenColourSel = kCustomEntry;
    }
    m_nCurrentSel = m_nChosenColourSel;
    show();
    setFocus(Qt::PopupFocusReason);
}

void CColourPopup::Layout(const QPoint& topLeft, int buttonHeight)
{
    int textWidth = 0, textHeight = 0;
    if (!m_strDefaultText.isEmpty() || !m_strCustomText.isEmpty()) {
        const QFontMetrics metrics(font());
        textWidth = std::max(metrics.horizontalAdvance(m_strDefaultText), metrics.horizontalAdvance(m_strCustomText));
        textHeight = metrics.height();
        textWidth += 2 * m_nMargin;
        textHeight += 4 * m_nMargin + 2;
    }
    int w = kColumns * m_nBoxSize + 2 * m_nMargin;
    int h = Rows() * m_nBoxSize + 2 * m_nMargin;
    if (!m_strDefaultText.isEmpty()) {
        w = std::max(w, textWidth);
        m_rectDefaultText = QRect(QPoint(m_nMargin, m_nMargin),
                                  QPoint(m_nMargin + w - 2 * m_nMargin, textHeight + 2 * m_nMargin) - QPoint(1, 1));
        h += m_rectDefaultText.height() + 2 * m_nMargin;
    }
    if (!m_strCustomText.isEmpty()) {
        w = std::max(w, textWidth);
        m_rectCustomText = QRect(QPoint(m_nMargin, h),
                                 QPoint(m_nMargin + w - 2 * m_nMargin, h + m_nMargin + textHeight) - QPoint(1, 1));
        h += m_rectCustomText.height() + 2 * m_nMargin;
    }
    // Keep it on the screen; near the bottom it opens above the button.
    QPoint at = topLeft;
    const QScreen* screen = QGuiApplication::screenAt(topLeft);
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
    if (at.x() + w > area.right() + 1)
        at.setX(area.right() + 1 - w);
    if (at.x() < area.left())
        at.setX(area.left());
    if (at.y() + h > area.bottom() + 1)
        at.setY(at.y() - buttonHeight - h);
    setGeometry(at.x(), at.y(), w, h);
}

QRect CColourPopup::EntryRect(int index) const
{
    if (index == kDefaultEntry)
        return m_rectDefaultText;
    if (index == kCustomEntry)
        return m_rectCustomText;
    if (index < 0 || index >= kColours)
        return QRect();
    const int top = (index / kColumns) * m_nBoxSize + m_nMargin +
                    (m_strDefaultText.isEmpty() ? 0 : m_nMargin + m_rectDefaultText.height());
    return QRect((index % kColumns) * m_nBoxSize + m_nMargin, top, m_nBoxSize, m_nBoxSize);
}

int CColourPopup::EntryAt(const QPoint& at) const
{
    if (!m_strCustomText.isEmpty() && m_rectCustomText.contains(at))
        return kCustomEntry;
    if (!m_strDefaultText.isEmpty() && m_rectDefaultText.contains(at))
        return kDefaultEntry;
    QPoint p = at - QPoint(m_nMargin, m_nMargin);
    if (!m_strDefaultText.isEmpty())
        p.ry() -= m_rectDefaultText.height() + m_nMargin;
    if (p.x() < 0 || p.y() < 0)
        return kNone;
    const int row = p.y() / m_nBoxSize, column = p.x() / m_nBoxSize;
    const int index = row * kColumns + column;
    return column < kColumns && index < kColours ? index : kNone;
}

void CColourPopup::ChangeSelection(int index)
{
    if (index > kColours)
        index = kCustomEntry;
    if (index == m_nCurrentSel)
        return;
    m_nCurrentSel = index;
    update();
    if (index >= 0 && index < kColours) {
        m_colour = TableColour(index);
        emit selectionChanged(m_colour);
    } else if (index == kDefaultEntry) {
        m_colour = kAutomaticColor;
        emit selectionChanged(kAutomaticColor);
    } else if (index == kCustomEntry) {
        emit selectionChanged(m_initialColour);
    }
}

void CColourPopup::mouseMoveEvent(QMouseEvent* event)
{
    const int index = EntryAt(event->pos());
    if (index != kNone)
        ChangeSelection(index);
}

void CColourPopup::mousePressEvent(QMouseEvent* event)
{
    // A press outside the palette ends it without a choice.
    if (!rect().contains(event->pos()))
        End(false);
}

void CColourPopup::mouseReleaseEvent(QMouseEvent* event) { End(rect().contains(event->pos())); }

void CColourPopup::keyPressEvent(QKeyEvent* event)
{
    const bool hasDefault = !m_strDefaultText.isEmpty(), hasCustom = !m_strCustomText.isEmpty();
    const int last = kColours - 1;
    const int sel = m_nCurrentSel;
    auto orDefault = [&](int otherwise) { return hasDefault ? kDefaultEntry : otherwise; };
    auto orCustom = [&](int otherwise) { return hasCustom ? kCustomEntry : otherwise; };
    int next = sel;
    switch (event->key()) {
    case Qt::Key_Down:
        if (sel == kDefaultEntry)
            next = 0;
        else if (sel == kCustomEntry)
            next = orDefault(0);
        else if (sel >= 0 && sel + kColumns < kColours)
            next = sel + kColumns;
        else
            next = orCustom(orDefault(0));
        break;
    case Qt::Key_Up:
        if (sel == kDefaultEntry)
            next = orCustom(last);
        else if (sel == kCustomEntry)
            next = last;
        else if (sel >= kColumns)
            next = sel - kColumns;
        else
            next = orDefault(orCustom(last));
        break;
    case Qt::Key_Right:
        if (sel == kDefaultEntry)
            next = 0;
        else if (sel == kCustomEntry)
            next = orDefault(0);
        else if (sel >= 0 && sel + 1 < kColours)
            next = sel + 1; // the next column, or the first of the next row
        else
            next = orCustom(orDefault(0));
        break;
    case Qt::Key_Left:
        if (sel == kDefaultEntry)
            next = orCustom(last);
        else if (sel == kCustomEntry)
            next = last;
        else if (sel > 0)
            next = sel - 1; // the previous column, or the last of the row above
        else
            next = orDefault(orCustom(last));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        End(true);
        return;
    case Qt::Key_Escape:
        m_colour = m_initialColour;
        End(false);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    ChangeSelection(next);
}

void CColourPopup::End(bool accept)
{
    if (m_bEnded || m_bChildDialog)
        return;
    if (accept && m_nCurrentSel == kCustomEntry) {
        m_bChildDialog = true;
        hide(); // the chooser is a window of its own
        bool chosen = false;
        const QColor colour = Chooser().ChooseColor(parentWidget(), ToQColor(m_initialColour), &chosen);
        m_bChildDialog = false;
        if (chosen && colour.isValid())
            m_colour = FromQColor(colour);
        else
            accept = false;
    }
    m_bEnded = true;
    const unsigned int reported = accept ? m_colour : m_initialColour;
    if (accept)
        emit accepted(reported);
    else
        emit cancelled(reported);
    close();
}

void CColourPopup::closeEvent(QCloseEvent* event)
{
    // Closed by the desktop (another application activated): a cancel.
    if (!m_bEnded && !m_bChildDialog) {
        m_bEnded = true;
        emit cancelled(m_initialColour);
    }
    QWidget::closeEvent(event);
}

bool CColourPopup::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = EntryAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), TableName(index), this, EntryRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void CColourPopup::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    auto entry = [&](int index, const QRect& r, const QColor& chosenFill) {
        const bool current = index == m_nCurrentSel, chosen = index == m_nChosenColourSel;
        p.fillRect(r, chosen && !current ? chosenFill : pal.color(QPalette::Button));
        if (current)
            qDrawShadePanel(&p, r, pal, false, 1);
        else if (chosen)
            qDrawShadePanel(&p, r, pal, true, 1);
    };
    if (!m_strDefaultText.isEmpty()) {
        entry(kDefaultEntry, m_rectDefaultText, pal.color(QPalette::Light));
        const QRect text = m_rectDefaultText.adjusted(m_nMargin + 1, m_nMargin + 1, -m_nMargin - 1, -m_nMargin - 1);
        p.setPen(pal.color(QPalette::Shadow));
        p.drawRect(text.adjusted(0, 0, -1, -1));
        p.setPen(pal.color(QPalette::ButtonText));
        p.drawText(m_rectDefaultText, Qt::AlignCenter | Qt::TextSingleLine, m_strDefaultText);
    }
    for (int i = 0; i < kColours; ++i) {
        const QRect r = EntryRect(i);
        entry(i, r, pal.color(QPalette::Highlight));
        const QRect swatch = r.adjusted(m_nMargin + 1, m_nMargin + 1, -m_nMargin - 1, -m_nMargin - 1);
        p.setPen(pal.color(QPalette::Shadow));
        p.setBrush(ToQColor(TableColour(i)));
        p.drawRect(swatch.adjusted(0, 0, -1, -1));
    }
    if (!m_strCustomText.isEmpty()) {
        entry(kCustomEntry, m_rectCustomText, pal.color(QPalette::Light));
        const int y = m_rectCustomText.top() - 1;
        p.setPen(pal.color(QPalette::Shadow));
        p.drawLine(2 * m_nMargin, y - 1, width() - 2 * m_nMargin, y - 1);
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(2 * m_nMargin, y, width() - 2 * m_nMargin, y);
        p.setPen(pal.color(QPalette::ButtonText));
        p.drawText(m_rectCustomText, Qt::AlignCenter | Qt::TextSingleLine, m_strCustomText);
    }
    qDrawShadePanel(&p, rect(), pal, false, 1);
}
