#pragma once

// A program's data folder and its images. The folder is share/tarvendesk/<program>/
// next to the folder of the executable, so that a build tree (bin/ beside
// share/) and an installed prefix are laid out alike. Images are compiled
// into the program as Qt resources.

#include <QIcon>
#include <QString>

class Bundle
{
public:
    explicit Bundle(const QString& resourcePath);

    // The data folder of the running program: the executable's name names it
    // unless another program name has been set.
    static Bundle mainBundle();
    static Bundle bundleForProgram(const QString& program);
    // For a test that runs a program's code inside another executable.
    static void setMainProgramName(const QString& program);

    QString resourcePath() const { return m_resourcePath; }

    // The absolute path of the file or folder "name.type" (just "name" when
    // type is empty) in the data folder, or a null string when there is
    // none. Names that lead outside the folder find nothing.
    QString pathForResource(const QString& name, const QString& type) const;

    // The image ":/name" of the program's resources, with its "@2x" variant
    // when there is one; a null icon when there is no such image.
    static QIcon imageNamed(const QString& name);

private:
    QString m_resourcePath;
};
