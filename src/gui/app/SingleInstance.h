#pragma once
// One running copy per user: a second start hands its file (or nothing, to
// bring the window forward) to the first over a local socket and ends.
#include <QObject>
#include <QString>

class QLocalServer;

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    // The channel is named after `name` and the user; QUARLON_INSTANCE, when
    // set, replaces `name` (tests run copies side by side).
    explicit CSingleInstance(const QString& name, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // True when this process is the first and now listens; false when it
    // handed `path` (empty: only come to the front) to the running copy.
    bool RegisterSingleInstance(const QString& path);
    QString ServerName() const { return m_strServer; }

signals:
    // In the first copy: a second start asked to open `path`, or to come to
    // the front when `path` is empty.
    void anotherInstance(const QString& path);

private:
    void OnConnection();

    QString m_strServer;
    QLocalServer* m_pServer = nullptr;
};
