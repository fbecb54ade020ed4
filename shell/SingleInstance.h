#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace tarnwell {

// The one-instance-per-user rule. The first process claims a local socket
// named from "Tarnwell" and the user id; a later one finds it, asks the
// running process to come forward and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    struct Address {
        QString name;                    // a socket path, or a name in the abstract namespace
        bool abstractNamespace = false;  // nothing on disk, so nothing stale after a crash
    };

    // "$XDG_RUNTIME_DIR/Tarnwell-<uid>" when the session has a private runtime
    // directory; otherwise "Tarnwell-<uid>" in the abstract namespace.
    static Address addressForCurrentUser();

    explicit SingleInstance(Address address, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the running instance. False when another
    // instance answered; it has been asked to come forward.
    bool claim();

    bool isRunningInstance() const;

signals:
    // Another start asked this instance to come forward.
    void activationRequested();

private:
    bool askRunningInstance() const;
    bool listen();
    void acceptRequests();
    void readRequest(QLocalSocket& peer);

    Address address_;
    QLocalServer* server_;
};

}  // namespace tarnwell
