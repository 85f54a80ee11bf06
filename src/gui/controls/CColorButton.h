#pragma once
// A push button showing a colour swatch that drops down a palette of 40
// named colours, an "Automatic" entry and a "More Colors..." entry that
// opens the desktop's colour chooser. Colours are 0x00BBGGRR values;
// kAutomaticColor marks "no explicit colour". Knows nothing of models.
#include <QPushButton>
#include <QString>

class CColourPopup;

constexpr unsigned int kAutomaticColor = 0xFF000000u;

class CColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit CColorButton(QWidget* parent = nullptr);
    ~CColorButton() override;

    unsigned int GetColor() const { return m_colour; }
    void SetColor(unsigned int colour);
    unsigned int GetDefaultColor() const { return m_defaultColour; }
    void SetDefaultColor(unsigned int colour);
    void SetDefaultText(const QString& text) { m_strDefaultText = text; }
    void SetCustomText(const QString& text) { m_strCustomText = text; }
    void SetTrackSelection(bool track) { m_bTrackSelection = track; }
    bool GetTrackSelection() const { return m_bTrackSelection; }
    bool IsPopupActive() const { return m_bPopupActive; }
    // The open palette, if any (for tests).
    CColourPopup* Popup() const;

signals:
    void selectionChanged(unsigned int colour); // another entry, or an accepted new colour
    void dropDown(unsigned int colour);         // the palette is about to open
    void closedUp(unsigned int colour);         // the palette closed
    void selectionAccepted(unsigned int colour);
    void selectionCancelled(unsigned int colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnClicked();
    void OnPopupChanged(unsigned int colour);
    void OnPopupAccepted(unsigned int colour);
    void OnPopupCancelled(unsigned int colour);

    unsigned int m_colour = kAutomaticColor;
    unsigned int m_defaultColour;
    QString m_strDefaultText = QStringLiteral("Automatic");
    QString m_strCustomText = QStringLiteral("More Colors...");
    bool m_bPopupActive = false;
    bool m_bTrackSelection = false;
    CColourPopup* m_pPopup = nullptr;
};

// The palette window; it talks only to its button and deletes itself once
// closed.
class CColourPopup : public QWidget {
    Q_OBJECT
public:
    static constexpr int kColours = 40;
    static constexpr int kColumns = 8;
    // Entries other than the colour cells.
    static constexpr int kNone = -1, kCustomEntry = -2, kDefaultEntry = -3;

    CColourPopup(const QPoint& topLeft, unsigned int colour, CColorButton* button, const QString& defaultText,
                 const QString& customText);

    static unsigned int TableColour(int index);
    static QString TableName(int index);

    int CurrentSelection() const { return m_nCurrentSel; }
    int ChosenSelection() const { return m_nChosenColourSel; }
    unsigned int Colour() const { return m_colour; }
    // Where an entry lies (client coordinates); empty for none.
    QRect EntryRect(int index) const;

signals:
    void selectionChanged(unsigned int colour);
    void accepted(unsigned int colour);
    void cancelled(unsigned int colour);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Layout(const QPoint& topLeft, int buttonHeight);
    int EntryAt(const QPoint& p) const;
    void ChangeSelection(int index);
    void End(bool accept);
    int Rows() const { return (kColours + kColumns - 1) / kColumns; }

    unsigned int m_initialColour;
    unsigned int m_colour;
    QString m_strDefaultText, m_strCustomText;
    int m_nBoxSize = 18;
    int m_nMargin = 2;
    int m_nCurrentSel = kNone;
    int m_nChosenColourSel = kNone;
    QRect m_rectDefaultText, m_rectCustomText;
    bool m_bEnded = false;
    bool m_bChildDialog = false;
};
