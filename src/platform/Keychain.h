#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// Generic-password items of the desktop's secret store (the Secret Service, through QtKeychain),
// one item per service and account. Never a plain-file fallback.
//
// Every operation of the process runs on one keychain thread, one at a time, in the order in
// which they were asked for, so a delete followed by a write ends with the written item. The
// asynchronous forms call `done` on the thread of `context` (queued), and not at all when
// `context` is gone by then; they never block and never spin an event loop on the caller's
// thread. The blocking forms are for worker threads only (never the main thread).
namespace Keychain {

enum class Status {
    ok,
    notFound,   // no such item (reading); deleting a missing item may report ok
    unavailable, // no secret store could be reached
    failed,      // any other failure
};

struct Result {
    Status status = Status::failed;
    QByteArray data; // the item's value (reading)
    QString error;   // the store's description of a failure
};

void read(const QString& service, const QString& account, QObject* context, std::function<void(const Result&)> done);
void write(const QString& service, const QString& account, const QByteArray& data, QObject* context,
           std::function<void(const Result&)> done = {});
void remove(const QString& service, const QString& account, QObject* context,
            std::function<void(const Result&)> done = {});

Result readBlocking(const QString& service, const QString& account);
Result writeBlocking(const QString& service, const QString& account, const QByteArray& data);
Result removeBlocking(const QString& service, const QString& account);

} // namespace Keychain
