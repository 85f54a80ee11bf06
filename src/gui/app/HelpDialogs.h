#pragma once
// The About box with the VTK licence, the tutorial language chooser and the
// mouse-interaction help.
#include <QDialog>

class QComboBox;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QString& version, QWidget* parent = nullptr);
};

class CVtkLicenseDlg : public QDialog {
    Q_OBJECT
public:
    explicit CVtkLicenseDlg(QWidget* parent = nullptr);
};

class CTutorialDlg : public QDialog {
    Q_OBJECT
public:
    // `helpFolder` holds Quarlon_ITA.chm and Quarlon_ENG.chm.
    CTutorialDlg(const QString& helpFolder, QWidget* parent = nullptr);
    QString ChosenFile() const;

public slots:
    void accept() override;

private:
    QString m_strFolder;
    QComboBox* m_pLanguage;
};

class CMouseInteractionDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMouseInteractionDlg(QWidget* parent = nullptr);
};

// "1,0,1,0" style version of the program, commas turned into points.
QString ProgramVersion();
