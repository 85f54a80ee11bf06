#include "gui/controls/CRangeSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

#include <cmath>
#include <utility>

CRangeSlider::CRangeSlider(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    setMinimumSize(16, 16);
}

QSize CRangeSlider::sizeHint() const { return m_bHorizontal ? QSize(200, 22) : QSize(22, 200); }

bool CRangeSlider::SetMinMax(double min, double max)
{
    if (!std::isfinite(min) || !std::isfinite(max))
        return false;
    if (max < min)
        std::swap(min, max);
    Store(min, max, m_dMin, m_dMax);
    Normalize();
    update();
    return true;
}

bool CRangeSlider::SetRange(double left, double right)
{
    if (!std::isfinite(left) || !std::isfinite(right))
        return false;
    Store(left, right, m_dLeft, m_dRight);
    Normalize();
    update();
    return true;
}

bool CRangeSlider::SetVisualMinMax(double min, double max)
{
    if (!std::isfinite(min) || !std::isfinite(max))
        return false;
    Store(min, max, m_dVisualMin, m_dVisualMax);
    NormalizeVisual();
    update();
    return true;
}

void CRangeSlider::Store(double a, double b, double& first, double& second) const
{
    // Inverted, the values are kept negated so that the scale runs the other way.
    first = m_bInverted ? -b : a;
    second = m_bInverted ? -a : b;
}

void CRangeSlider::GetMinMax(double& min, double& max) const
{
    min = m_bInverted ? -m_dMax : m_dMin;
    max = m_bInverted ? -m_dMin : m_dMax;
}

void CRangeSlider::GetRange(double& left, double& right) const
{
    left = m_bInverted ? -m_dRight : m_dLeft;
    right = m_bInverted ? -m_dLeft : m_dRight;
}

void CRangeSlider::GetVisualMinMax(double& min, double& max) const
{
    min = m_bInverted ? -m_dVisualMax : m_dVisualMin;
    max = m_bInverted ? -m_dVisualMin : m_dVisualMax;
}

void CRangeSlider::SetHorizontal(bool horizontal)
{
    if (horizontal == m_bHorizontal)
        return;
    m_bHorizontal = horizontal;
    updateGeometry();
    update();
}

void CRangeSlider::SetInverted(bool inverted)
{
    if (inverted == m_bInverted)
        return;
    m_bInverted = inverted;
    auto flip = [](double& a, double& b) {
        const double t = a;
        a = -b;
        b = -t;
    };
    flip(m_dLeft, m_dRight);
    flip(m_dMin, m_dMax);
    flip(m_dVisualMin, m_dVisualMax);
    update();
}

void CRangeSlider::Normalize()
{
    // The order of the ends is repaired only after a clamp to the scale.
    if (m_dMin > m_dLeft) {
        m_dLeft = m_dMin;
        emit rangeChanged(LeftChanged);
        if (m_dLeft > m_dRight) {
            m_dRight = m_dLeft;
            emit rangeChanged(RightChanged);
        }
    }
    if (m_dRight > m_dMax) {
        m_dRight = m_dMax;
        emit rangeChanged(RightChanged);
        if (m_dRight < m_dLeft) {
            m_dLeft = m_dRight;
            emit rangeChanged(LeftChanged);
        }
    }
}

void CRangeSlider::NormalizeVisual()
{
    if (m_dVisualMax < m_dVisualMin)
        std::swap(m_dVisualMin, m_dVisualMax);
    if (m_dVisualMin < m_dMin) {
        m_dVisualMin = m_dMin;
        if (m_dVisualMax < m_dVisualMin)
            m_dVisualMax = m_dVisualMin;
    }
    if (m_dVisualMax > m_dMax) {
        m_dVisualMax = m_dMax;
        if (m_dVisualMin > m_dVisualMax)
            m_dVisualMin = m_dVisualMax;
    }
}

double CRangeSlider::Fraction(double v) const
{
    const double span = m_dMax - m_dMin;
    return span > 0.0 ? (v - m_dMin) / span : 0.0;
}

void CRangeSlider::Layout()
{
    const int across = m_bHorizontal ? height() : width();
    const int along = m_bHorizontal ? width() : height();
    m_nThumbSize = across * 3 / 4;
    m_nTrackLength = std::max(0, along - 2 * m_nThumbSize);
    const int leftEnd = m_nThumbSize + static_cast<int>(std::lround(Fraction(m_dLeft) * m_nTrackLength));
    const int rightStart = m_nThumbSize + static_cast<int>(std::lround(Fraction(m_dRight) * m_nTrackLength));
    if (m_bHorizontal) {
        m_rectLeft = QRect(leftEnd - m_nThumbSize, 0, m_nThumbSize, height());
        m_rectRight = QRect(rightStart, 0, m_nThumbSize, height());
    } else {
        m_rectLeft = QRect(0, leftEnd - m_nThumbSize, width(), m_nThumbSize);
        m_rectRight = QRect(0, rightStart, width(), m_nThumbSize);
    }
}

void CRangeSlider::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

void CRangeSlider::paintEvent(QPaintEvent*)
{
    Layout();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPalette& pal = palette();
    const bool on = isEnabled();
    const int s = m_nThumbSize, L = m_nTrackLength;
    auto along = [&](int from, int to, int across0, int across1) {
        return m_bHorizontal ? QRect(from, across0, to - from, across1 - across0)
                             : QRect(across0, from, across1 - across0, to - from);
    };
    const int across = m_bHorizontal ? height() : width();
    // The scale, its visual interval, then the band between the thumbs.
    const QRect scale = along(s, s + L, across / 2 - 2, across / 2 + 2);
    p.fillRect(scale, pal.color(QPalette::Mid));
    const int v0 = s + static_cast<int>(std::lround(Fraction(m_dVisualMin) * L));
    const int v1 = s + static_cast<int>(std::lround(Fraction(m_dVisualMax) * L));
    p.fillRect(along(v0, std::max(v0 + 1, v1), across / 2 - 2, across / 2 + 2), pal.color(QPalette::Dark));
    const int b0 = m_bHorizontal ? m_rectLeft.right() + 1 : m_rectLeft.bottom() + 1;
    const int b1 = m_bHorizontal ? m_rectRight.left() : m_rectRight.top();
    if (b1 > b0)
        p.fillRect(along(b0, b1, across / 4, across * 3 / 4),
                   on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
    // Thumbs: arrows pointing at their values.
    auto thumb = [&](const QRect& r, bool pointsForward) {
        QPainterPath path;
        const QRectF f = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
        if (m_bHorizontal) {
            const qreal tip = pointsForward ? f.right() : f.left();
            const qreal base = pointsForward ? f.left() : f.right();
            const qreal shoulder = pointsForward ? f.right() - f.width() / 3 : f.left() + f.width() / 3;
            path.moveTo(base, f.top());
            path.lineTo(shoulder, f.top());
            path.lineTo(tip, f.center().y());
            path.lineTo(shoulder, f.bottom());
            path.lineTo(base, f.bottom());
        } else {
            const qreal tip = pointsForward ? f.bottom() : f.top();
            const qreal base = pointsForward ? f.top() : f.bottom();
            const qreal shoulder = pointsForward ? f.bottom() - f.height() / 3 : f.top() + f.height() / 3;
            path.moveTo(f.left(), base);
            path.lineTo(f.left(), shoulder);
            path.lineTo(f.center().x(), tip);
            path.lineTo(f.right(), shoulder);
            path.lineTo(f.right(), base);
        }
        path.closeSubpath();
        p.setPen(QPen(on ? pal.color(QPalette::Shadow) : pal.color(QPalette::Mid), 1));
        p.setBrush(pal.color(QPalette::Button));
        p.drawPath(path);
    };
    thumb(m_rectLeft, true);
    thumb(m_rectRight, false);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

void CRangeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    update();
    if (m_bTracking)
        return;
    Layout();
    const QRect band = m_bHorizontal
                           ? QRect(QPoint(m_rectLeft.right() + 1, 0), QPoint(m_rectRight.left() - 1, height() - 1))
                           : QRect(QPoint(0, m_rectLeft.bottom() + 1), QPoint(width() - 1, m_rectRight.top() - 1));
    const QPoint at = event->pos();
    QRect grabbed;
    if (m_rectLeft.contains(at))
        m_nTrackMode = 0, grabbed = m_rectLeft;
    else if (m_rectRight.contains(at))
        m_nTrackMode = 1, grabbed = m_rectRight;
    else if (band.isValid() && band.contains(at))
        m_nTrackMode = 2, grabbed = band;
    else
        return;
    m_bTracking = true;
    m_clickOffset = at - grabbed.center();
    grabMouse();
}

void CRangeSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_bTracking || m_nTrackLength <= 0)
        return;
    const double p = Along(event->pos()) - Along(m_clickOffset);
    const int s = m_nThumbSize;
    const double L = m_nTrackLength, span = m_dMax - m_dMin;
    switch (m_nTrackMode) {
    case 0:
        m_dLeft = ((p - s / 2) / L) * span + m_dMin;
        if (m_dLeft >= m_dRight)
            m_dLeft = m_dRight;
        if (m_dLeft <= m_dMin)
            m_dLeft = m_dMin;
        emit rangeChanged(LeftChanged);
        break;
    case 1:
        m_dRight = ((p - 3 * s / 2) / L) * span + m_dMin;
        if (m_dRight <= m_dLeft)
            m_dRight = m_dLeft;
        if (m_dRight >= m_dMax)
            m_dRight = m_dMax;
        emit rangeChanged(RightChanged);
        break;
    default: {
        const double w = m_dRight - m_dLeft;
        const double centre = ((p - s) / L) * span + m_dMin;
        m_dLeft = centre - w / 2;
        m_dRight = centre + w / 2;
        if (m_dLeft <= m_dMin) {
            m_dLeft = m_dMin;
            m_dRight = m_dLeft + w;
        }
        if (m_dRight >= m_dMax) {
            m_dRight = m_dMax;
            m_dLeft = m_dRight - w;
        }
        emit rangeChanged(BothChanged);
        break;
    }
    }
    update();
}

void CRangeSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_bTracking)
        return QWidget::mouseReleaseEvent(event);
    m_bTracking = false;
    releaseMouse();
    update();
}

void CRangeSlider::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool increase = m_bHorizontal ? key == Qt::Key_Right : key == Qt::Key_Down;
    const bool decrease = m_bHorizontal ? key == Qt::Key_Left : key == Qt::Key_Up;
    if ((increase || decrease) && !(event->modifiers() & Qt::ControlModifier)) {
        Layout();
        const double step = m_nTrackLength > 0 ? (m_dMax - m_dMin) / m_nTrackLength : 0.0;
        if (step > 0.0) {
            const bool rightOnly = event->modifiers() & Qt::ShiftModifier;
            long a = std::lround((m_dLeft - m_dMin) / step);
            long b = std::lround((m_dRight - m_dMin) / step);
            const int d = increase ? 1 : -1;
            if (!rightOnly)
                a += d;
            b += d;
            if (a >= 0 && b <= m_nTrackLength) {
                m_dLeft = a * step + m_dMin;
                m_dRight = b * step + m_dMin;
            }
            emit rangeChanged(rightOnly ? RightChanged : BothChanged);
            update();
        }
        // The arrows belong to the slider: a dialog must not move the focus.
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CRangeSlider::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void CRangeSlider::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
