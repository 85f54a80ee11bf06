#pragma once
// A slider with two thumbs that selects an interval [left, right] inside a
// scale [min, max] of doubles: drag either thumb, drag the band between
// them, or use the arrow keys. Knows nothing of models.
#include <QWidget>

class CRangeSlider : public QWidget {
    Q_OBJECT
public:
    // What a notification says changed.
    enum Change { LeftChanged = 0, RightChanged = 1, BothChanged = 2 };

    explicit CRangeSlider(QWidget* parent = nullptr);

    // Each setter refuses values that are not finite (returns false) and
    // clamps the interval into the scale, notifying what it moved.
    bool SetMinMax(double min, double max);
    bool SetRange(double left, double right);
    bool SetVisualMinMax(double min, double max);
    void GetMinMax(double& min, double& max) const;
    void GetRange(double& left, double& right) const;
    void GetVisualMinMax(double& min, double& max) const;

    void SetHorizontal(bool horizontal);
    void SetInverted(bool inverted);
    bool IsHorizontal() const { return m_bHorizontal; }
    bool IsInverted() const { return m_bInverted; }

    // The thumbs as last laid out (widget coordinates), for drawing and tests.
    QRect LeftThumb() const { return m_rectLeft; }
    QRect RightThumb() const { return m_rectRight; }
    int ThumbSize() const { return m_nThumbSize; }
    int TrackLength() const { return m_nTrackLength; }

    QSize sizeHint() const override;

signals:
    // The user or a setter moved the interval.
    void rangeChanged(int change);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // A pair as kept: negated and exchanged when inverted.
    void Store(double a, double b, double& first, double& second) const;
    void Normalize();
    void NormalizeVisual();
    void Layout();
    // 0..1 along the scale; 0 for an empty scale (min equal to max).
    double Fraction(double v) const;
    int Along(const QPoint& p) const { return m_bHorizontal ? p.x() : p.y(); }

    double m_dMin = 0.0, m_dMax = 1.0;
    double m_dLeft = 0.0, m_dRight = 1.0;
    double m_dVisualMin = 0.0, m_dVisualMax = 1.0;
    int m_nThumbSize = 0;
    int m_nTrackLength = 0;
    bool m_bHorizontal = true;
    bool m_bInverted = false;
    bool m_bTracking = false;
    int m_nTrackMode = 0; // 0 left thumb, 1 right thumb, 2 band
    QPoint m_clickOffset;
    QRect m_rectLeft, m_rectRight;
};
