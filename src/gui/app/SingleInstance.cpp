#include "gui/app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Say(const QString& text)
{
    std::fprintf(stderr, "quarlon: %s\n", qPrintable(text));
}

// A folder is private when it is a real folder of ours that nobody else may
// enter or write; anything else could be another user's plant.
bool IsPrivateFolder(const QString& folder, QString* why)
{
    struct stat st {};
    const QByteArray f = QFile::encodeName(folder);
    if (::lstat(f.constData(), &st) != 0) {
        *why = QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("%1 is not a folder").arg(folder);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 belongs to user id %2").arg(folder).arg(st.st_uid);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *why = QStringLiteral("%1 is open to other users (mode %2)").arg(folder).arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

// The user id of the process at the other end of a connected local socket.
bool PeerUid(qintptr fd, uid_t& uid)
{
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (fd < 0 || ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    uid = cred.uid;
    return true;
}

} // namespace

QString CSingleInstance::ChannelFolder(QString* why)
{
    QString reason;
    const QByteArray forced = qgetenv("QUARLON_RUNTIME_DIR");
    if (!forced.isEmpty()) {
        const QString folder = QFile::decodeName(forced);
        if (IsPrivateFolder(folder, &reason))
            return folder;
        if (why)
            *why = reason;
        return QString();
    }
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(QFile::decodeName(runtime), &reason))
        return QFile::decodeName(runtime);
    // No session folder: a folder of our own in the temporary folder, made
    // private at creation and checked, since someone may have made it first.
    const QString own = QDir::tempPath() + QStringLiteral("/quarlon-%1").arg(::geteuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (IsPrivateFolder(own, &reason))
        return own;
    if (why)
        *why = reason;
    return QString();
}

CSingleInstance::CSingleInstance(const QString& name, QObject* parent) : QObject(parent)
{
    const QByteArray override = qgetenv("QUARLON_INSTANCE");
    const QString base = override.isEmpty() ? name : QString::fromLocal8Bit(override);
    QString why;
    const QString folder = ChannelFolder(&why);
    if (folder.isEmpty())
        Say(QStringLiteral("no private folder for the hand-over channel (%1); running on its own").arg(why));
    else
        m_strServer = folder + QLatin1Char('/') + base;
}

CSingleInstance::~CSingleInstance() = default;

bool CSingleInstance::IsListening() const
{
    return m_pServer && m_pServer->isListening();
}

bool CSingleInstance::RegisterSingleInstance(const QString& path)
{
    if (m_strServer.isEmpty())
        return true;
    struct stat st {};
    const QByteArray socketPath = QFile::encodeName(m_strServer);
    if (::lstat(socketPath.constData(), &st) != 0)
        return Listen(), true;
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
        Say(QStringLiteral("%1 is not a channel of this user (owner %2); not handing over").arg(m_strServer).arg(st.st_uid));
        return Listen(), true;
    }
    QLocalSocket probe;
    probe.connectToServer(m_strServer);
    if (probe.waitForConnected(1000)) {
        uid_t peer = 0;
        if (!PeerUid(probe.socketDescriptor(), peer) || peer != ::geteuid()) {
            probe.abort();
            Say(QStringLiteral("the copy listening on %1 runs as another user; not handing over").arg(m_strServer));
            return Listen(), true;
        }
        probe.write(path.toUtf8() + '\n');
        probe.flush();
        probe.waitForBytesWritten(2000);
        // Wait until the first copy has taken the message.
        probe.waitForReadyRead(2000);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answers: a channel left by a copy that died is taken over.
    return Listen(), true;
}

bool CSingleInstance::Listen()
{
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    // Whatever still sits at the name is stale or untrusted; the folder is ours.
    if (!m_pServer->listen(m_strServer) &&
        !(QLocalServer::removeServer(m_strServer) && m_pServer->listen(m_strServer))) {
        Say(QStringLiteral("cannot listen on %1 (%2); running on its own").arg(m_strServer, m_pServer->errorString()));
        return false;
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
    return true;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        uid_t peer = 0;
        if (!PeerUid(socket->socketDescriptor(), peer) || peer != ::geteuid()) {
            Say(QStringLiteral("refused a hand-over from user id %1").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
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
