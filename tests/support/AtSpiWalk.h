#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QStringList>

#include <memory>
#include <optional>

class QProcess;

// What a screen reader finds on the AT-SPI bus for this test process: an external walker
// (support/atspi-walk.py, over libatspi) reads the objects that Qt's bridge exports while this
// process keeps its event loop running to answer it. Needs the bus of an XvfbSession.
namespace AtSpiWalk {

struct Result {
    bool ok = false;        // the walker found this process on the bus and finished
    QString error;          // why not
    QStringList named;      // names of the showing, focusable objects
    QStringList unnamed;    // descriptions of the showing, focusable objects without a name
};

Result walkThisProcess();

// Performs the action (say "Toggle" or "Press", compared without case) of the first showing
// object named `name` (and of the AT-SPI role `role`, say "page tab", when given), through the bus
// as a screen reader's command does. Empty when done, else why not.
QString doAction(const QString& name, const QString& action, const QString& role = QString());

// One showing object as the bus gives it: role and state names are AT-SPI's ("push button",
// "check box"; "checked", "expanded", "focused").
struct Node {
    QString role;
    QString name;
    QString description;
    QStringList states;
    QStringList actions;
    std::optional<QString> text;         // the text interface's content, when it has one
    QMap<QString, QStringList> relations; // relation ("labelled-by") to "role[name]" of its targets
    QStringList ancestors;               // "role[name]" of its parent, its parent's parent...

    bool has(const QString& state) const { return states.contains(state); }
    bool within(const QString& ancestor) const { return ancestors.contains(ancestor); }
};

struct Dump {
    bool ok = false;
    QString error;
    QList<Node> nodes;

    // The showing objects with this name, in the order of the tree.
    QList<Node> named(const QString& name) const;
};

// Every showing object of this process, in the order of the tree.
Dump dumpThisProcess();

// Listens on the bus for events of this process while the test goes on. Construct it, check
// ready(), do what should raise the event, then wait().
class Listener {
public:
    // Listens for the event types ("object:property-change:accessible-name", ...) until one
    // whose new value or source name contains `text`.
    Listener(const QString& text, const QStringList& eventTypes);
    ~Listener();

    // The walker listens (else error() says why).
    bool ready() const { return m_ready; }
    QString error() const { return m_error; }
    // Runs the event loop until the awaited event has come (true), the walker gave up, or
    // `timeoutMs` passed (the walker then goes on listening).
    bool wait(int timeoutMs = 180000);
    // The events received so far: type, value, role, name and states of the source.
    QList<QJsonObject> events() const { return m_events; }

private:
    void readLines();

    std::unique_ptr<QProcess> m_walker;
    QByteArray m_pending;
    bool m_ready = false;
    QString m_error;
    QList<QJsonObject> m_events;
};

} // namespace AtSpiWalk
