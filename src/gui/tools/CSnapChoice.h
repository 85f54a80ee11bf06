#pragma once
// "Snap:" and its choice (Off, Points, Corners and edges), shared by the
// measure and scale tools through the settings file (key Snap of section
// Measure), so that both show and use the same.
#include <QWidget>

class QComboBox;

class CSnapChoice : public QWidget {
    Q_OBJECT
public:
    explicit CSnapChoice(QWidget* parent = nullptr);
    // The stored choice: 0 Off (the default), 1 Points, 2 Corners and edges.
    static int Stored();
    QComboBox* Combo() const { return m_combo; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* m_combo;
};
