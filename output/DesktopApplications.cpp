#include "output/DesktopApplications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <map>
#include <stdexcept>
#include <vector>

namespace tarnwell {

namespace {

using Groups = std::map<QString, std::map<QString, QString>>;

// The groups and keys of a desktop entry or mimeapps.list file, values with
// the general escapes (\s \n \t \r \\) undone; localized keys are left out.
Groups readKeyFile(const QString& path) {
    Groups groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return groups;
    }
    QTextStream in(&file);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || group.isEmpty()) {
            continue;
        }
        const QString key = line.left(eq).trimmed();
        if (key.contains(u'[')) {
            continue;
        }
        QString value;
        const QString raw = line.mid(eq + 1).trimmed();
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == u'\\' && i + 1 < raw.size()) {
                const QChar next = raw[++i];
                value += next == u's' ? QChar(u' ')
                         : next == u'n' ? QChar(u'\n')
                         : next == u't' ? QChar(u'\t')
                         : next == u'r' ? QChar(u'\r')
                                        : next;
            } else {
                value += raw[i];
            }
        }
        groups[group].emplace(key, value);
    }
    return groups;
}

QStringList listValue(const Groups& groups, const QString& group, const QString& key) {
    const auto g = groups.find(group);
    if (g == groups.end()) {
        return {};
    }
    const auto k = g->second.find(key);
    return k == g->second.end() ? QStringList() : k->second.split(u';', Qt::SkipEmptyParts);
}

QString envOr(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QStringList pathList(const char* name, const QString& fallback) {
    return envOr(name, fallback).split(u':', Qt::SkipEmptyParts);
}

struct XdgDirectories {
    QStringList applications;    // where desktop entries live, most important first
    QStringList mimeappsFiles;   // the mimeapps.list files, most important first
};

XdgDirectories xdgDirectories() {
    const QString home = QDir::homePath();
    XdgDirectories dirs;
    dirs.applications << envOr("XDG_DATA_HOME", home + QStringLiteral("/.local/share")) + QStringLiteral("/applications");
    for (const QString& dir : pathList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"))) {
        dirs.applications << dir + QStringLiteral("/applications");
    }
    QStringList listDirs;
    listDirs << envOr("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    listDirs << pathList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    listDirs << dirs.applications;
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(u':', Qt::SkipEmptyParts);
    for (const QString& dir : listDirs) {
        for (const QString& desktop : desktops) {
            dirs.mimeappsFiles << dir + u'/' + desktop + QStringLiteral("-mimeapps.list");
        }
        dirs.mimeappsFiles << dir + QStringLiteral("/mimeapps.list");
    }
    return dirs;
}

// Desktop file id to path, the first folder holding an id winning; the ids in
// that order.
struct InstalledEntries {
    QHash<QString, QString> paths;
    QStringList ids;
};

InstalledEntries installedEntries(const QStringList& applicationDirs) {
    InstalledEntries entries;
    for (const QString& dir : applicationDirs) {
        QStringList found;
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            found << it.next();
        }
        found.sort();
        for (const QString& path : found) {
            const QString id = QDir(dir).relativeFilePath(path).replace(u'/', u'-');
            if (!entries.paths.contains(id)) {
                entries.paths.insert(id, path);
                entries.ids << id;
            }
        }
    }
    return entries;
}

bool programExists(const QString& program) {
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// The entry as an application that can be started, or nothing.
std::optional<DesktopApplication> usableEntry(const QString& id, const QString& path, Groups* groupsOut = nullptr) {
    Groups groups = readKeyFile(path);
    const auto entry = groups.find(QStringLiteral("Desktop Entry"));
    if (entry == groups.end()) {
        return std::nullopt;
    }
    const auto value = [&](const char* key) {
        const auto it = entry->second.find(QString::fromLatin1(key));
        return it == entry->second.end() ? QString() : it->second;
    };
    if (value("Type") != QLatin1String("Application") || value("Hidden") == QLatin1String("true") ||
        value("Exec").isEmpty()) {
        return std::nullopt;
    }
    const QString tryExec = value("TryExec");
    if (!tryExec.isEmpty() && !programExists(tryExec)) {
        return std::nullopt;
    }
    DesktopApplication application{id, path, value("Name"), value("Exec"), value("Icon"), value("Path")};
    if (groupsOut != nullptr) {
        *groupsOut = std::move(groups);
    }
    return application;
}

// The Exec line split into arguments: blanks separate them, double quotes
// hold blanks, and inside quotes a backslash keeps the next character.
QStringList splitExec(const QString& exec) {
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool started = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar ch = exec[i];
        if (inQuotes) {
            if (ch == u'"') {
                inQuotes = false;
            } else if (ch == u'\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else {
                current += ch;
            }
        } else if (ch == u'"') {
            inQuotes = true;
            started = true;
        } else if (ch == u' ' || ch == u'\t') {
            if (started) {
                args << current;
                current.clear();
                started = false;
            }
        } else {
            current += ch;
            started = true;
        }
    }
    if (started) {
        args << current;
    }
    return args;
}

}  // namespace

std::optional<DesktopApplication> defaultApplicationFor(const QString& mimeType) {
    const XdgDirectories dirs = xdgDirectories();
    const InstalledEntries installed = installedEntries(dirs.applications);
    const auto usable = [&](const QString& id) -> std::optional<DesktopApplication> {
        const auto path = installed.paths.constFind(id);
        return path == installed.paths.constEnd() ? std::nullopt : usableEntry(id, *path);
    };

    std::vector<Groups> lists;
    for (const QString& file : dirs.mimeappsFiles) {
        lists.push_back(readKeyFile(file));
    }
    for (const Groups& list : lists) {
        for (const QString& id : listValue(list, QStringLiteral("Default Applications"), mimeType)) {
            if (auto application = usable(id)) {
                return application;
            }
        }
    }
    // A removal counts for its own file and every less important one.
    QSet<QString> removed;
    for (const Groups& list : lists) {
        for (const QString& id : listValue(list, QStringLiteral("Removed Associations"), mimeType)) {
            removed.insert(id);
        }
        for (const QString& id : listValue(list, QStringLiteral("Added Associations"), mimeType)) {
            if (removed.contains(id)) {
                continue;
            }
            if (auto application = usable(id)) {
                return application;
            }
        }
    }
    for (const QString& id : installed.ids) {
        if (removed.contains(id)) {
            continue;
        }
        Groups groups;
        auto application = usableEntry(id, installed.paths.value(id), &groups);
        if (application && listValue(groups, QStringLiteral("Desktop Entry"), QStringLiteral("MimeType")).contains(mimeType)) {
            return application;
        }
    }
    return std::nullopt;
}

QStringList commandLineFor(const DesktopApplication& application, const QString& file) {
    QStringList command;
    bool fileGiven = false;
    for (const QString& arg : splitExec(application.exec)) {
        if (arg == QLatin1String("%f") || arg == QLatin1String("%F")) {
            command << file;
            fileGiven = true;
            continue;
        }
        if (arg == QLatin1String("%u") || arg == QLatin1String("%U")) {
            command << QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
            fileGiven = true;
            continue;
        }
        if (arg == QLatin1String("%i")) {
            if (!application.icon.isEmpty()) {
                command << QStringLiteral("--icon") << application.icon;
            }
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%' || i + 1 >= arg.size()) {
                expanded += arg[i];
                continue;
            }
            const QChar code = arg[++i];
            if (code == u'%') {
                expanded += u'%';
            } else if (code == u'f' || code == u'F') {
                expanded += file;
                fileGiven = true;
            } else if (code == u'u' || code == u'U') {
                expanded += QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
                fileGiven = true;
            } else if (code == u'c') {
                expanded += application.name;
            } else if (code == u'k') {
                expanded += application.file;
            }
            // Every other code stands for nothing.
        }
        if (!expanded.isEmpty()) {
            command << expanded;
        }
    }
    if (!fileGiven) {
        command << file;
    }
    return command;
}

void openWith(const DesktopApplication& application, const QString& file) {
    QStringList command = commandLineFor(application, file);
    const QString program = command.isEmpty() ? QString() : command.takeFirst();
    const QString found = program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    const QString shownName = application.name.isEmpty() ? application.id : application.name;
    if (found.isEmpty() || !programExists(found)) {
        throw std::runtime_error(
            QStringLiteral("找不到 %1 的程式 %2，無法開啟 %3").arg(shownName, program, file).toStdString());
    }
    QProcess process;
    process.setProgram(found);
    process.setArguments(command);
    process.setWorkingDirectory(application.workingDirectory);
    // What the application prints is its own business, not our terminal's.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        throw std::runtime_error(QStringLiteral("無法啟動 %1 開啟 %2").arg(shownName, file).toStdString());
    }
}

}  // namespace tarnwell
