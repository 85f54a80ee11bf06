// The hand-over channel trusts only its own user: its folder, the socket at
// its name and the process at either end. Acting as another user needs root;
// those cases skip otherwise.
#include "GuiFixtures.h"

#include "gui/app/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUid = 65534; // nobody

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
public:
    void Set(const char* name, const QByteArray& value)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        for (auto it = m_saved.begin(); it != m_saved.end(); ++it)
            it.value().isNull() ? qunsetenv(it.key().constData()) : qputenv(it.key().constData(), it.value());
    }

private:
    QMap<QByteArray, QByteArray> m_saved;
};

sockaddr_un Address(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return a;
}

// A forked helper that reports one number back through a pipe. The child
// runs only plain system calls and leaves with _exit.
class Helper {
public:
    template <class F>
    explicit Helper(F body)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int result = body(fds[1]);
            ::_exit(result);
        }
        ::close(fds[1]);
        m_fd = fds[0];
    }
    ~Helper()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // The next byte the child wrote, or -1 when none came within `ms`.
    int Read(int ms = 5000)
    {
        pollfd p{m_fd, POLLIN, 0};
        unsigned char b = 0;
        if (::poll(&p, 1, ms) != 1 || ::read(m_fd, &b, 1) != 1)
            return -1;
        return b;
    }
    // The child's exit status.
    int Wait()
    {
        int status = 0;
        const pid_t pid = m_pid;
        m_pid = -1;
        return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};

void Report(int fd, unsigned char value)
{
    (void)!::write(fd, &value, 1);
}

// Listens at `path`, as another user when `uid` is given; reports 1 when
// listening, then how many bytes the first client sent (up to 200), or 255
// when nobody connected within three seconds. `switchAfterBind` binds as
// root (so the file is root's) and listens as `uid`.
int PlantedServer(int report, const std::string& path, uid_t uid, bool switchAfterBind)
{
    if (!switchAfterBind && ::setuid(uid) != 0)
        return 10;
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un a = Address(path);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return 11;
    if (switchAfterBind && ::setuid(uid) != 0)
        return 12;
    if (::listen(s, 4) != 0)
        return 13;
    Report(report, 1);
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 3000) != 1) {
        Report(report, 255);
        return 0;
    }
    const int c = ::accept(s, nullptr, nullptr);
    char buf[200];
    int total = 0;
    pollfd q{c, POLLIN, 0};
    while (total < 200 && ::poll(&q, 1, 1500) == 1) {
        const ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0)
            break;
        total += static_cast<int>(n);
    }
    Report(report, static_cast<unsigned char>(std::min(total, 200)));
    return 0;
}

// Connects to `path` as `uid`, sends a file name and reports 1 when the
// server acknowledged it, 0 when it closed the connection, 2 on no answer.
int Client(int report, const std::string& path, uid_t uid)
{
    if (uid != ::geteuid() && ::setuid(uid) != 0)
        return 10;
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un a = Address(path);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return 11;
    const char line[] = "/from/the/client.vtp\n";
    (void)!::write(s, line, sizeof line - 1);
    char buf[8];
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) {
        Report(report, 2);
        return 0;
    }
    const ssize_t n = ::read(s, buf, sizeof buf);
    Report(report, n > 0 && buf[0] == 'o' ? 1 : 0);
    return 0;
}

struct SingleInstanceTest : ::testing::Test {
    TempDir dir;
    ScopedEnv env;
    std::string folder;

    void SetUp() override
    {
        // Another user must be able to pass through to the channel's folder.
        ::chmod(dir.Path().c_str(), 0711);
        folder = dir.File("run");
        ::mkdir(folder.c_str(), 0700);
        env.Set("QUARLON_RUNTIME_DIR", QByteArray::fromStdString(folder));
        env.Set("QUARLON_INSTANCE", "channel");
    }
    std::string Channel() const { return folder + "/channel"; }
    static bool Root() { return ::geteuid() == 0; }
};

} // namespace

TEST_F(SingleInstanceTest, ChannelFolderMustBeThisUsersAndClosedToOthers)
{
    EXPECT_EQ(CSingleInstance::ChannelFolder(nullptr).toStdString(), folder);
    CSingleInstance ok(QStringLiteral("Quarlon"));
    EXPECT_EQ(ok.ServerName().toStdString(), Channel());

    QString why;
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(CSingleInstance::ChannelFolder(&why).isEmpty());
    EXPECT_TRUE(why.contains("open to other users")) << why.toStdString();
    // No channel to trust: run as a first copy, without listening.
    CSingleInstance open(QStringLiteral("Quarlon"));
    EXPECT_TRUE(open.ServerName().isEmpty());
    EXPECT_TRUE(open.RegisterSingleInstance(QStringLiteral("/a.vtp")));
    EXPECT_FALSE(open.IsListening());

    ::chmod(folder.c_str(), 0700);
    ::symlink(folder.c_str(), dir.File("link").c_str());
    env.Set("QUARLON_RUNTIME_DIR", QByteArray::fromStdString(dir.File("link")));
    EXPECT_TRUE(CSingleInstance::ChannelFolder(&why).isEmpty());
    EXPECT_TRUE(why.contains("not a folder")) << why.toStdString();

    // Without a session folder: a private folder of ours in the temporary
    // folder, made on demand and refused when it is open to others.
    env.Set("QUARLON_RUNTIME_DIR", QByteArray());
    env.Set("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.File("missing")));
    env.Set("TMPDIR", QByteArray::fromStdString(dir.Path()));
    const std::string own = dir.File("quarlon-" + std::to_string(::geteuid()));
    EXPECT_EQ(CSingleInstance::ChannelFolder(nullptr).toStdString(), own);
    struct stat st {};
    ASSERT_EQ(::lstat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::chmod(own.c_str(), 0777);
    EXPECT_TRUE(CSingleInstance::ChannelFolder(nullptr).isEmpty());
    if (Root()) {
        ::chmod(own.c_str(), 0700);
        ASSERT_EQ(::chown(own.c_str(), kOtherUid, kOtherUid), 0);
        EXPECT_TRUE(CSingleInstance::ChannelFolder(&why).isEmpty());
        EXPECT_TRUE(why.contains("belongs to user id")) << why.toStdString();
    }
}

TEST_F(SingleInstanceTest, SameUserHandsOverAndAStaleSocketIsTakenOver)
{
    // A socket left behind by a copy that died.
    {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un a = Address(Channel());
        ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        ::close(s);
    }
    CSingleInstance first(QStringLiteral("Quarlon"));
    ASSERT_TRUE(first.RegisterSingleInstance(QString()));
    ASSERT_TRUE(first.IsListening());
    QSignalSpy spy(&first, &CSingleInstance::anotherInstance);

    Helper client([this](int fd) { return Client(fd, Channel(), ::geteuid()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 5000));
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("/from/the/client.vtp"));
    EXPECT_EQ(client.Read(), 1) << "the client was answered";
}

TEST_F(SingleInstanceTest, ASocketPlantedByAnotherUserIsNeitherUsedNorTrusted)
{
    if (!Root())
        GTEST_SKIP() << "acting as another user needs root";
    // Another account listens at the channel's name (planted while the
    // folder was open).
    ::chmod(folder.c_str(), 0777);
    Helper planted([this](int fd) { return PlantedServer(fd, Channel(), kOtherUid, false); });
    ASSERT_EQ(planted.Read(), 1);
    ::chmod(folder.c_str(), 0700);

    CSingleInstance second(QStringLiteral("Quarlon"));
    EXPECT_TRUE(second.RegisterSingleInstance(QStringLiteral("/secret/site.vtp")));
    EXPECT_TRUE(second.IsListening()) << "it runs as the first copy on a channel of its own";
    EXPECT_EQ(planted.Read(), 255) << "the planted socket was never connected to";
    struct stat st {};
    ASSERT_EQ(::lstat(Channel().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(SingleInstanceTest, AServerOfAnotherUserBehindOurSocketGetsNoPath)
{
    if (!Root())
        GTEST_SKIP() << "acting as another user needs root";
    // The socket file is ours, but the process listening on it is not.
    Helper server([this](int fd) { return PlantedServer(fd, Channel(), kOtherUid, true); });
    ASSERT_EQ(server.Read(), 1);

    CSingleInstance second(QStringLiteral("Quarlon"));
    EXPECT_TRUE(second.RegisterSingleInstance(QStringLiteral("/secret/site.vtp")));
    EXPECT_EQ(server.Read(), 0) << "connected, checked the peer and sent nothing";
    EXPECT_TRUE(second.IsListening());
}

TEST_F(SingleInstanceTest, TheFirstCopyRefusesPeersOfAnotherUser)
{
    if (!Root())
        GTEST_SKIP() << "acting as another user needs root";
    CSingleInstance first(QStringLiteral("Quarlon"));
    ASSERT_TRUE(first.RegisterSingleInstance(QString()));
    ASSERT_TRUE(first.IsListening());
    QSignalSpy spy(&first, &CSingleInstance::anotherInstance);
    // Open the way in, as a mistaken permission change would.
    ::chmod(folder.c_str(), 0711);
    ::chmod(Channel().c_str(), 0777);

    Helper other([this](int fd) { return Client(fd, Channel(), kOtherUid); });
    int answer = -1;
    for (int i = 0; i < 250 && answer < 0; ++i) {
        QTest::qWait(20);
        answer = other.Read(0);
    }
    EXPECT_EQ(answer, 0) << "the connection was closed without an answer";
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 0);
}
