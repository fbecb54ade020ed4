// One running instance per user: the claim, the request to come forward, a
// stale socket file, and a real second start of the program.
#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "shell/SingleInstance.h"
#include "support/ChildProcess.h"
#include "support/QtPrinters.h"

namespace tarnwell {
namespace {

SingleInstance::Address uniqueAbstractAddress() {
    return {QStringLiteral("TarnwellTest-%1").arg(QUuid::createUuid().toString(QUuid::Id128)), true};
}

// Leaves a socket file that nobody listens on, as a crashed instance does.
void leaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = path.toLocal8Bit();
    ASSERT_LT(static_cast<std::size_t>(native.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(SingleInstanceTest, TheSecondClaimAsksTheFirstToComeForward) {
    QTemporaryDir dir;
    for (const SingleInstance::Address& address :
         {uniqueAbstractAddress(), SingleInstance::Address{dir.filePath("Tarnwell-test"), false}}) {
        std::optional<SingleInstance> first(std::in_place, address);
        ASSERT_TRUE(first->claim()) << address.name.toStdString();
        EXPECT_TRUE(first->isRunningInstance());
        QSignalSpy requests(&*first, &SingleInstance::activationRequested);

        SingleInstance second(address);
        EXPECT_FALSE(second.claim());
        EXPECT_FALSE(second.isRunningInstance());
        EXPECT_TRUE(requests.wait(5000));
        EXPECT_EQ(requests.count(), 1);

        // Once the first has ended, the next start runs.
        first.reset();
        SingleInstance third(address);
        EXPECT_TRUE(third.claim());
    }
}

TEST(SingleInstanceTest, AStaleSocketFileIsReplaced) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Tarnwell-stale");
    leaveStaleSocket(path);
    SingleInstance instance({path, false});
    EXPECT_TRUE(instance.claim());
    EXPECT_TRUE(instance.isRunningInstance());

    SingleInstance later({path, false});
    EXPECT_FALSE(later.claim());
}

TEST(SingleInstanceTest, OtherTrafficOnTheSocketIsIgnored) {
    const SingleInstance::Address address = uniqueAbstractAddress();
    SingleInstance instance(address);
    ASSERT_TRUE(instance.claim());
    QSignalSpy requests(&instance, &SingleInstance::activationRequested);

    QLocalSocket wrongLine;
    wrongLine.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    wrongLine.connectToServer(address.name);
    ASSERT_TRUE(wrongLine.waitForConnected(2000));
    wrongLine.write("show everything\n");
    wrongLine.flush();

    QLocalSocket endless;
    endless.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    endless.connectToServer(address.name);
    ASSERT_TRUE(endless.waitForConnected(2000));
    endless.write(QByteArray(4096, 'x'));
    endless.flush();

    // Both are answered by the server hanging up, and neither asked for anything.
    QSignalSpy dropped(&endless, &QLocalSocket::disconnected);
    QSignalSpy hungUp(&wrongLine, &QLocalSocket::disconnected);
    EXPECT_TRUE(dropped.wait(5000));
    EXPECT_TRUE(hungUp.count() > 0 || hungUp.wait(5000));
    EXPECT_EQ(requests.count(), 0);
}

TEST(SingleInstanceTest, TheAddressIsPerUserAndPrefersTheRuntimeDirectory) {
    const QString uid = QString::number(::getuid());
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const SingleInstance::Address inRuntime = SingleInstance::addressForCurrentUser();
    qunsetenv("XDG_RUNTIME_DIR");
    const SingleInstance::Address abstract = SingleInstance::addressForCurrentUser();
    qputenv("XDG_RUNTIME_DIR", saved);

    EXPECT_EQ(inRuntime.name, runtime.filePath("Tarnwell-" + uid));
    EXPECT_FALSE(inRuntime.abstractNamespace);
    EXPECT_EQ(abstract.name, "Tarnwell-" + uid);
    EXPECT_TRUE(abstract.abstractNamespace);
}

TEST(SingleInstanceTest, ASecondStartOfTheProgramLeavesQuietlyWithZero) {
    QTemporaryDir runtime;
    SingleInstance running({runtime.filePath(QStringLiteral("Tarnwell-%1").arg(::getuid())), false});
    ASSERT_TRUE(running.claim());
    QSignalSpy requests(&running, &SingleInstance::activationRequested);

    QProcess second;
    QProcessEnvironment environment = test::childEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(TARNWELL_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(60000));

    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardOutput(), "");
    EXPECT_EQ(second.readAllStandardError(), "") << "no message";
    EXPECT_TRUE(requests.count() > 0 || requests.wait(5000));
}

}  // namespace
}  // namespace tarnwell
