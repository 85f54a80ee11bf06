#pragma once
// A borderless topmost window showing a picture cut to shape by a
// transparent colour, with two text layers over it. It may fade in and out,
// centre itself, close after a timeout or on the first key or click, and
// deletes itself once hidden.
#include <QFont>
#include <QPixmap>
#include <QWidget>

class CSplashScreenEx : public QWidget {
    Q_OBJECT
public:
    enum Style { FadeIn = 1, FadeOut = 2, DropShadow = 4, CentreScreen = 8, CentreParent = 16, CloseOnInput = 32 };

    CSplashScreenEx();
    // Hidden until Show(); `timeout` in ms, 0 keeps it until Hide().
    bool Create(QWidget* parent, const QString& text1 = QString(), const QString& text2 = QString(), int timeout = 0,
                int style = 0);
    // A null pixmap fails. red, green or blue -1: no transparent colour.
    bool SetBitmap(const QPixmap& picture, int red, int green, int blue);
    bool SetBitmap(const QString& file, int red, int green, int blue);
    // Size in tenths of a point; style bit 1 bold, 2 italic, 4 underline.
    void SetTextFont(const QString& family, int tenths, int style);
    void SetTextFormat(int flags) { m_nTextFormat = flags; update(); }
    void SetText1(const QString& t);
    void SetText2(const QString& t);
    void SetTextColor1(unsigned int colour);
    void SetTextColor2(unsigned int colour);
    void SetTextRect1(const QRect& r);
    void SetTextRect2(const QRect& r);
    void Show();
    void Hide();

    QRegion ShapeRegion() const { return m_region; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void timerEvent(QTimerEvent*) override;

private:
    void Redraw();
    int Alignment(const QString& text) const;

    QWidget* m_pParent = nullptr;
    int m_nStyle = 0;
    int m_nTimeout = 2000;
    int m_nTimer = 0;
    bool m_bHiding = false;
    QPixmap m_bitmap;
    QRegion m_region;
    QFont m_font;
    int m_nTextFormat = 21;
    QString m_strText1, m_strText2;
    QRect m_rect1, m_rect2;
    QColor m_colour1, m_colour2;
};
