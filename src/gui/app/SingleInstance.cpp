#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

CSingleInstance::CSingleInstance(const QString& name, QObject* parent) : QObject(parent)
{
    const QByteArray override = qgetenv("QUARLON_INSTANCE");
    const QString base = override.isEmpty() ? name : QString::fromLocal8Bit(override);
    m_strServer = QStringLiteral("%1-%2").arg(base).arg(getuid());
}

CSingleInstance::~CSingleInstance() = default;

bool CSingleInstance::RegisterSingleInstance(const QString& path)
{
    QLocalSocket probe;
    probe.connectToServer(m_strServer);
    if (probe.waitForConnected(1000)) {
        probe.write(path.toUtf8() + '\n');
        probe.flush();
        probe.waitForBytesWritten(2000);
        // Wait until the first copy has taken the message.
        probe.waitForReadyRead(2000);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answers: a channel left by a copy that died is taken over.
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pServer->listen(m_strServer)) {
        QLocalServer::removeServer(m_strServer);
        m_pServer->listen(m_strServer);
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
    return true;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QString path = QString::fromUtf8(socket->readLine()).trimmed();
            socket->write("ok\n");
            socket->flush();
            // Opening a document pumps events; run it after this socket's
            // handler has returned, since the socket may go meanwhile.
            QMetaObject::invokeMethod(this, [this, path] { emit anotherInstance(path); }, Qt::QueuedConnection);
        });
    }
}
