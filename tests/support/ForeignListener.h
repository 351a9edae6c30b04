#pragma once

#include <QByteArray>
#include <QString>

// A listening local socket standing for another user's program that took a name first. It
// never reads on its own; receivedConnection() tells whether anyone connected, and what they wrote.
class ForeignListener {
public:
    // Binds and listens at `path` (open to everyone); isListening() tells whether it could.
    explicit ForeignListener(const QString& path);
    ~ForeignListener();
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    bool isListening() const { return m_fd >= 0; }
    // Accepts whatever connections are queued; true when there was any. Their bytes, as far as
    // already written, are added to `received` when given.
    bool receivedConnection(QByteArray* received = nullptr);

private:
    int m_fd = -1;
    QString m_path;
};
