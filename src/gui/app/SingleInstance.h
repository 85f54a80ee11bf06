#pragma once
// One running copy per user: a second start hands its file (or nothing, to
// bring the window forward) to the first over a local socket and ends.
//
// The socket lives in a folder only its user can enter ($XDG_RUNTIME_DIR, or
// a private folder of ours in the temporary folder), and both ends check the
// other's user id, so no other local account can listen in or answer.
#include <QObject>
#include <QString>

class QLocalServer;

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    // The channel is named `name`; QUARLON_INSTANCE, when set, replaces it
    // (tests run copies side by side) and QUARLON_RUNTIME_DIR the folder.
    explicit CSingleInstance(const QString& name, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // True when this process is to run as the first copy (listening, or on
    // its own when the channel cannot be trusted, which it says on standard
    // error); false when it handed `path` (empty: only come to the front) to
    // the running copy.
    bool RegisterSingleInstance(const QString& path);
    // Full path of the channel's socket; empty when no trusted folder exists.
    QString ServerName() const { return m_strServer; }
    bool IsListening() const;

    // The folder for the channel: one that exists, is no link, belongs to
    // this user and admits nobody else. Empty, with the reason in `why`,
    // when there is none.
    static QString ChannelFolder(QString* why);

signals:
    // In the first copy: a second start asked to open `path`, or to come to
    // the front when `path` is empty.
    void anotherInstance(const QString& path);

private:
    void OnConnection();
    bool Listen();

    QString m_strServer;
    QLocalServer* m_pServer = nullptr;
};
