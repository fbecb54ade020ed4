#include "session/Workspace.h"

#include <QDeadlineTimer>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/Database.h"
#include "dataaccess/DemoDatabase.h"
#include "dataaccess/Session.h"
#include "session/RunsInProgress.h"

namespace tarnwell {

struct Workspace::Pictures {
    QList<QIcon> toolBar = loadImageList(QStringLiteral("toolbar"), 3);
    QList<QIcon> ado = loadImageList(QStringLiteral("ado"), 9);
    QList<QIcon> bde = loadImageList(QStringLiteral("bde"), 4);
};

QList<QIcon> loadImageList(const QString& folder, int count) {
    QList<QIcon> icons;
    for (int i = 0; i < count; ++i) {
        icons << QIcon(QStringLiteral(":/images/%1/%2.svg").arg(folder).arg(i));
    }
    return icons;
}

Workspace::Workspace(std::unique_ptr<db::Session> session)
    : session_(session ? std::move(session) : db::Session::fromStandardLocations(db::findDemoDatabase())),
      bdeDb_(std::make_unique<db::Database>(*session_, "BDE_DBS")),
      adoCon1_(std::make_unique<db::AdoConnection>()),
      adq1_(std::make_unique<db::AdoQuery>(*adoCon1_)) {}

Workspace::~Workspace() {
    // A run keeps its window's database, which lives on Session1, until it
    // ends; the windows have abandoned theirs by now.
    abandonRunsAndWait(QDeadlineTimer(30000));
}

const Workspace::Pictures& Workspace::pictures() const {
    if (!pictures_) {
        pictures_ = std::make_unique<Pictures>();
    }
    return *pictures_;
}

const QList<QIcon>& Workspace::ImageToolBar() const { return pictures().toolBar; }
const QList<QIcon>& Workspace::ImageADO() const { return pictures().ado; }
const QList<QIcon>& Workspace::ImageBDE() const { return pictures().bde; }

}  // namespace tarnwell
