#include "gui/controls/CSplashScreenEx.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimerEvent>

namespace {
QColor FromColourValue(unsigned int v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }
} // namespace

CSplashScreenEx::CSplashScreenEx()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool)
{
    setObjectName(QStringLiteral("CSplashScreenEx"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_font = QGuiApplication::font();
}

bool CSplashScreenEx::Create(QWidget* parent, const QString& text1, const QString& text2, int timeout, int style)
{
    m_pParent = parent;
    m_nTimeout = timeout;
    m_nStyle = style;
    m_strText1 = text1;
    m_strText2 = text2;
    return true;
}

bool CSplashScreenEx::SetBitmap(const QString& file, int red, int green, int blue)
{
    return SetBitmap(QPixmap(file), red, green, blue);
}

bool CSplashScreenEx::SetBitmap(const QPixmap& picture, int red, int green, int blue)
{
    if (picture.isNull())
        return false;
    m_bitmap = picture;
    resize(m_bitmap.size());
    m_rect1 = m_rect2 = QRect(QPoint(0, 0), m_bitmap.size());
    if (m_nStyle & CentreScreen) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
    } else if ((m_nStyle & CentreParent) && m_pParent) {
        move(m_pParent->frameGeometry().center() - rect().center());
    }
    m_region = QRegion();
    if (red == -1 || green == -1 || blue == -1) {
        clearMask();
        return true;
    }
    // Each maximal run of non-transparent pixels in a row becomes a one
    // pixel high rectangle; the shape is their union.
    const QImage img = m_bitmap.toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb transparent = qRgb(red, green, blue);
    for (int y = img.height() - 1; y >= 0; --y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && (row[x] & 0xFFFFFF) == (transparent & 0xFFFFFF))
                ++x;
            const int start = x;
            while (x < img.width() && (row[x] & 0xFFFFFF) != (transparent & 0xFFFFFF))
                ++x;
            if (x > start)
                m_region += QRect(start, y, x - start, 1);
        }
    }
    setMask(m_region);
    return true;
}

void CSplashScreenEx::SetTextFont(const QString& family, int tenths, int style)
{
    m_font = QFont(family);
    m_font.setPointSizeF(tenths / 10.0);
    m_font.setWeight((style & 1) ? QFont::Bold : QFont::Normal);
    m_font.setItalic((style & 2) != 0);
    m_font.setUnderline((style & 4) != 0);
    Redraw();
}

void CSplashScreenEx::SetText1(const QString& t) { m_strText1 = t; Redraw(); }
void CSplashScreenEx::SetText2(const QString& t) { m_strText2 = t; Redraw(); }
void CSplashScreenEx::SetTextColor1(unsigned int c) { m_colour1 = FromColourValue(c); Redraw(); }
void CSplashScreenEx::SetTextColor2(unsigned int c) { m_colour2 = FromColourValue(c); Redraw(); }
void CSplashScreenEx::SetTextRect1(const QRect& r) { m_rect1 = r; Redraw(); }
void CSplashScreenEx::SetTextRect2(const QRect& r) { m_rect2 = r; Redraw(); }

void CSplashScreenEx::Redraw()
{
    if (isVisible())
        repaint();
}

void CSplashScreenEx::Show()
{
    if (m_nStyle & FadeIn) {
        setWindowOpacity(0.0);
        show();
        auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
        fade->setDuration(500);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        show();
    }
    if (m_nTimeout > 0)
        m_nTimer = startTimer(m_nTimeout);
}

void CSplashScreenEx::Hide()
{
    if (m_bHiding)
        return;
    m_bHiding = true;
    if (m_nTimer) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
    if ((m_nStyle & FadeOut) && isVisible()) {
        auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
        fade->setDuration(200);
        fade->setStartValue(windowOpacity());
        fade->setEndValue(0.0);
        connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        close(); // deletes the object
    }
}

int CSplashScreenEx::Alignment(const QString& text) const
{
    int align = (m_nTextFormat & 1) ? Qt::AlignHCenter : (m_nTextFormat & 2) ? Qt::AlignRight : Qt::AlignLeft;
    // Vertical centring applies to single lines only, as with the platform's text drawing.
    const bool single = !text.contains(QLatin1Char('\n'));
    align |= ((m_nTextFormat & 4) && single) ? Qt::AlignVCenter : Qt::AlignTop;
    if (m_nTextFormat & 16)
        align |= Qt::TextWordWrap;
    return align;
}

void CSplashScreenEx::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_bitmap);
    p.setFont(m_font);
    p.setPen(m_colour1);
    p.drawText(m_rect1, Alignment(m_strText1), m_strText1);
    p.setPen(m_colour2);
    p.drawText(m_rect2, Alignment(m_strText2), m_strText2);
}

void CSplashScreenEx::mousePressEvent(QMouseEvent* e)
{
    if (m_nStyle & CloseOnInput) {
        e->accept();
        Hide();
    }
}

void CSplashScreenEx::keyPressEvent(QKeyEvent* e)
{
    if (m_nStyle & CloseOnInput) {
        e->accept();
        Hide();
    }
}

void CSplashScreenEx::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_nTimer)
        Hide();
}
