#include "shell/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace tarnwell {

namespace {

// The whole exchange: one line from the new start to the running instance.
constexpr char kRaiseRequest[] = "raise\n";
constexpr qint64 kLongestRequest = 64;
// A running instance accepts at once (the kernel queues the connection), so
// these only bound a start against a hung peer.
constexpr int kConnectWaitMs = 300;
constexpr int kWriteWaitMs = 300;

QLocalSocket::SocketOptions socketOptionsFor(const SingleInstance::Address& address) {
    return address.abstractNamespace ? QLocalSocket::AbstractNamespaceOption
                                     : QLocalSocket::NoOptions;
}

}  // namespace

SingleInstance::Address SingleInstance::addressForCurrentUser() {
    const QString baseName = QStringLiteral("Tarnwell-%1").arg(::getuid());
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir()) {
        return {QDir(runtimeDir).filePath(baseName), false};
    }
    return {baseName, true};
}

SingleInstance::SingleInstance(Address address, QObject* parent)
    : QObject(parent), address_(std::move(address)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(address_.abstractNamespace
                                  ? QLocalServer::AbstractNamespaceOption
                                  : QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim() {
    if (askRunningInstance()) {
        return false;
    }
    if (listen()) {
        return true;
    }
    // Another start may have claimed the name between the two steps.
    if (askRunningInstance()) {
        return false;
    }
    // Nobody answers: a socket file left behind by a crashed instance.
    if (!address_.abstractNamespace) {
        QLocalServer::removeServer(address_.name);
        if (listen()) {
            return true;
        }
    }
    // The rule cannot be kept (no socket can be made); running unguarded
    // beats not running at all.
    return true;
}

bool SingleInstance::isRunningInstance() const { return server_->isListening(); }

bool SingleInstance::askRunningInstance() const {
    QLocalSocket socket;
    socket.setSocketOptions(socketOptionsFor(address_));
    socket.connectToServer(address_.name);
    if (!socket.waitForConnected(kConnectWaitMs)) {
        return false;
    }
    socket.write(kRaiseRequest);
    socket.waitForBytesWritten(kWriteWaitMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() { return server_->listen(address_.name); }

void SingleInstance::acceptRequests() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        peer->setParent(this);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { readRequest(*peer); });
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        readRequest(*peer);
    }
}

void SingleInstance::readRequest(QLocalSocket& peer) {
    if (peer.canReadLine()) {
        const bool raise = peer.readLine(kLongestRequest + 1) == kRaiseRequest;
        peer.disconnectFromServer();
        if (raise) {
            emit activationRequested();
        }
    } else if (peer.bytesAvailable() > kLongestRequest) {
        // Not one of ours: drop it rather than buffer without end.
        peer.abort();
    }
}

}  // namespace tarnwell
