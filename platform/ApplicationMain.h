#pragma once

// The one program entry of the suite's programs. It creates the application
// and its identity, has the program build its interface and delegate, puts
// the program on the session bus under its bundle identifier, reports the end
// of launching and runs the event loop until the program ends.

#include "platform/ApplicationDelegate.h"

#include <QCommandLineOption>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct ApplicationIdentity
{
    // Also the desktop entry ID and the program's name on the session bus.
    QString bundleIdentifier;
    QString applicationName;
    QString displayName;
    // One line for --help.
    QString description;
    // Options of the program's own besides --help and --version; their
    // values are read from QCoreApplication::arguments().
    QList<QCommandLineOption> options {};
    // The program reads the keyring as it starts: the connection to it is
    // made on a worker while the application and its interface are built.
    bool readsKeyringAtStart = false;
    // The program carries out its desktop entry's actions: one named by
    // --action NAME is done once it has launched, as if the desktop had asked
    // for it over the bus.
    bool takesActions = false;
};

// Owns the windows and menus the interface is built of, as a program's
// interface resources do; the delegate only refers to them. Only objects
// without a parent go in here: a parent already owns its children.
class InterfaceObjects
{
public:
    InterfaceObjects() = default;
    InterfaceObjects(const InterfaceObjects&) = delete;
    InterfaceObjects& operator=(const InterfaceObjects&) = delete;
    ~InterfaceObjects();

    template <typename T> T* keep(std::unique_ptr<T> object)
    {
        T* kept = object.get();
        m_objects.push_back(std::move(object));
        return kept;
    }

private:
    std::vector<std::unique_ptr<QObject>> m_objects;
};

// Builds the interface into the given owner and answers the delegate, with
// its outlets and actions connected.
using InterfaceBuilder
    = std::function<std::unique_ptr<ApplicationDelegate>(InterfaceObjects& interface)>;

// Before anything else: core dumps off, since a dump of a program that has
// read the keyring holds the password; then --help, --version or a wrong
// command line end the program (0 or 2) before any display or bus is touched.
int applicationMain(int argc, char** argv, const ApplicationIdentity& identity,
    const InterfaceBuilder& buildInterface);
