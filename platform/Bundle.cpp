#include "platform/Bundle.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace {

QString& mainProgramName()
{
    static QString name;
    return name;
}

// The executable itself, its links resolved: an installed program started
// through a link in a bin folder still finds the data beside its real place.
QFileInfo executable()
{
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
}

} // namespace

Bundle::Bundle(const QString& resourcePath)
    : m_resourcePath(QDir::cleanPath(QDir(resourcePath).absolutePath()))
{
}

Bundle Bundle::mainBundle()
{
    const QString program
        = mainProgramName().isEmpty() ? executable().fileName() : mainProgramName();
    return bundleForProgram(program);
}

Bundle Bundle::bundleForProgram(const QString& program)
{
    return Bundle(executable().absolutePath() + QStringLiteral("/../share/tarvendesk/") + program);
}

void Bundle::setMainProgramName(const QString& program)
{
    mainProgramName() = program;
}

QString Bundle::pathForResource(const QString& name, const QString& type) const
{
    if (name.isEmpty())
        return {};
    QString extension = type;
    if (extension.startsWith(u'.'))
        extension.remove(0, 1);
    const QString fileName = extension.isEmpty() ? name : name + u'.' + extension;
    const QString path = QDir::cleanPath(m_resourcePath + u'/' + fileName);
    if (!path.startsWith(m_resourcePath + u'/') || !QFileInfo::exists(path))
        return {};
    return path;
}

QIcon Bundle::imageNamed(const QString& name)
{
    const QString path = QStringLiteral(":/") + name;
    if (name.isEmpty() || !QFileInfo(path).isFile())
        return {};
    // Qt adds the "@2x" file by itself only when the screen has that ratio
    // at the time of loading; the tray and other screens may ask for either.
    QIcon icon(path);
    const QFileInfo file(path);
    const QString doubled
        = file.path() + u'/' + file.completeBaseName() + QStringLiteral("@2x.") + file.suffix();
    if (QFileInfo(doubled).isFile()
        && !icon.availableSizes().contains(QImageReader(doubled).size()))
        icon.addFile(doubled);
    return icon;
}
